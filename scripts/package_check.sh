#!/usr/bin/env bash
# Builds the Debian package (Release build in build/, `cpack -G DEB`), checks it with lintian,
# installs it with apt-get and tries what was installed: the bundled samples converted by
# /usr/bin/bremora-cli, the manual and README where the window looks for them, desktop entry,
# AppStream data, file types, icon, man pages and bash completion. Afterwards the package is
# removed again; --keep leaves it installed. Installing and removing go through
# scripts/install_package.sh (as root, or else through sudo). Needs `scripts/setup.sh --package`.
set -euo pipefail
cd "$(dirname "$0")/.."
keep=0
[[ "${1:-}" == "--keep" ]] && keep=1
build="${BUILD_DIR:-build}"
failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FEHLER: $what"
        failures=$((failures + 1))
    fi
}

echo "=== Debian-Paket bauen ==="
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/bremora_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$build"/bremora_*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

echo "=== lintian ==="
if ! lintian --fail-on error --display-info "$deb"; then
    echo "FEHLER: lintian meldet Fehler."
    exit 1
fi

echo "=== Installieren ==="
work=$(mktemp -d)
cleanup() {
    rm -rf "$work"
    ((keep)) || scripts/install_package.sh remove >/dev/null || true
}
trap cleanup EXIT
scripts/install_package.sh install "$deb"

echo "=== Installierte Dateien prüfen ==="
check "bremora-cli --version" test "$(/usr/bin/bremora-cli --version)" = "$("$build"/bremora-cli --version)"
for sample in samples/beispiel.*; do
    name=$(basename "$sample")
    check "$name mit /usr/bin/bremora-cli umgewandelt" \
        /usr/bin/bremora-cli --teilsummen --hinweistext "$sample" -o "$work/$name.xlsx"
    "$build"/bremora-cli --teilsummen --hinweistext "$sample" -o "$work/$name.build.xlsx" 2>/dev/null
    check "$name: Arbeitsmappe gleich der des Build-Ordners" cmp -s "$work/$name.xlsx" "$work/$name.build.xlsx"
done

# The window looks for its documents in ../share/doc/bremora beside its own folder.
docs=/usr/bin/../share/doc/bremora
check "Handbuch $docs/ostrel.pdf" grep -q '^%PDF-' "$docs/ostrel.pdf"
check "README $docs/README.md" test -s "$docs/README.md"
check "copyright und changelog" test -s "$docs/copyright" -a -s "$docs/changelog.gz"
check "/usr/bin/bremora" test -x /usr/bin/bremora

desktop=/usr/share/applications/de.bremora.Bremora.desktop
check "desktop-file-validate" desktop-file-validate "$desktop"
check "Desktop-Eintrag für die GAEB-Dateitypen registriert" \
    grep -q '^application/x-gaeb90=.*de.bremora.Bremora.desktop' /usr/share/applications/mimeinfo.cache
check "appstreamcli validate" appstreamcli validate --no-net /usr/share/metainfo/de.bremora.Bremora.metainfo.xml
for type in application/x-gaeb90 application/x-gaeb2000 application/x-gaeb-da-xml; do
    check "Dateityp $type in der MIME-Datenbank" grep -qx "$type" /usr/share/mime/types
done
check "Endungen *.d83, *.p83, *.x83 in der MIME-Datenbank" \
    bash -c 'grep -q ":application/x-gaeb90:\*\.d83$" /usr/share/mime/globs2 &&
             grep -q ":application/x-gaeb2000:\*\.p83$" /usr/share/mime/globs2 &&
             grep -q ":application/x-gaeb-da-xml:\*\.x83$" /usr/share/mime/globs2'
check "DA XML an seinem Wurzelelement erkannt" \
    grep -q '^http://www.gaeb.de/GAEB_DA_XML/DA83/3.3 GAEB application/x-gaeb-da-xml$' /usr/share/mime/XMLnamespaces
for size in 16 22 24 32 48 64 128 256; do
    check "Symbol ${size}x$size" test -s "/usr/share/icons/hicolor/${size}x$size/apps/bremora.png"
done
check "Symbol als SVG" test -s /usr/share/icons/hicolor/scalable/apps/bremora.svg

for page in bremora-cli bremora; do
    check "man $page" test "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz"
    check "man $page ohne Warnungen" bash -c "test -z \"\$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z /usr/share/man/man1/$page.1.gz 2>&1 >/dev/null)\""
done
check "Bash-Vervollständigung" bash -c '
    source /usr/share/bash-completion/bash_completion
    _completion_loader bremora-cli
    COMP_WORDS=(bremora-cli --teil); COMP_CWORD=1
    _bremora_cli
    test "${COMPREPLY[*]}" = --teilsummen'

if ((failures)); then
    echo "$failures Prüfungen fehlgeschlagen."
    exit 1
fi
echo "Paket gebaut, installiert und geprüft."
