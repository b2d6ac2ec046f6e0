#!/usr/bin/env bash
# Installs what Bremora needs from Debian's archive (Debian 12). With --tests also what the
# test suite uses (openpyxl as an independent .xlsx reader, LibreOffice Calc and its Python bridge
# for recalculation and printing to PDF, poppler-utils to read the PDF back, clang with libFuzzer
# for the fuzz targets); with --package what building and checking the Debian package uses
# (scripts/package_check.sh).
set -euo pipefail

packages=(g++ cmake make pkg-config libxlsxwriter-dev zlib1g-dev libdeflate-dev libisal-dev libpugixml-dev libzip-dev libfmt-dev nlohmann-json3-dev
          qt6-base-dev fonts-dejavu-core xdg-utils qt6-translations-l10n librsvg2-bin shared-mime-info)
for flag in "$@"; do
    case "$flag" in
        --tests)
            packages+=(libgtest-dev python3 python3-openpyxl python3-uno libreoffice-calc-nogui poppler-utils
                       clang-14 libclang-rt-14-dev clang-format man-db)
            ;;
        --package)
            packages+=(dpkg-dev lintian desktop-file-utils appstream man-db bash-completion)
            ;;
        *)
            echo "setup.sh: unbekannte Option $flag (erlaubt: --tests, --package)" >&2
            exit 2
            ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    echo "Installiere: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
