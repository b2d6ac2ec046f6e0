#!/usr/bin/env bash
# Installs or removes the Debian package bremora, as root directly or else through sudo.
#
#   scripts/install_package.sh install [PAKET.deb]   (ohne Angabe das Paket in build/, gebaut mit
#                                                     `(cd build && cpack -G DEB)`)
#   scripts/install_package.sh remove
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/as_root.sh

case "${1:-}" in
    install)
        deb=${2:-}
        if [ -z "$deb" ]; then
            shopt -s nullglob
            debs=(build/bremora_*.deb)
            if [ ${#debs[@]} -eq 0 ]; then
                echo "install_package.sh: Kein Paket build/bremora_*.deb. Bitte erst bauen:" >&2
                echo "  scripts/setup.sh --package && scripts/build.sh && (cd build && cpack -G DEB)" >&2
                exit 1
            fi
            deb=${debs[-1]}
        fi
        [ -f "$deb" ] || { echo "install_package.sh: $deb nicht gefunden." >&2; exit 1; }
        # apt-get takes a local package only by a path with a slash.
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$(realpath "$deb")"
        echo "Installiert: $(dpkg-query -W -f='${Package} ${Version}' bremora)"
        ;;
    remove)
        if dpkg-query -W -f='${Status}' bremora 2>/dev/null | grep -q "install ok installed"; then
            as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq bremora
            echo "Entfernt: bremora"
        else
            echo "bremora ist nicht installiert."
        fi
        ;;
    *)
        echo "Aufruf: scripts/install_package.sh install [PAKET.deb] | remove" >&2
        exit 2
        ;;
esac
