#!/usr/bin/env bash
# Installs what Bremora needs from Debian's archive (Debian 12), as root directly or else through
# sudo. Without options what scripts/build.sh needs to build both programs: the compiler, the
# libraries, Qt 6 for the window, fonts for its manual (rendered to PDF while building), rsvg-convert
# for its icons; and what the window uses when it runs: xdg-utils opens the saved workbook, Qt's
# German translations label its dialogs. With --tests also what the test suite uses (GoogleTest,
# libxlsxwriter as the reference of our .xlsx writer, also measured against by two benchmarks,
# openpyxl as an independent .xlsx reader, LibreOffice Calc and its Python bridge for recalculation
# and printing to PDF, poppler-utils to read the PDF back, the MIME database tools for the file types
# of the window test, clang with libFuzzer for the fuzz targets); with --package what building and
# checking the Debian package uses (scripts/package_check.sh).
set -euo pipefail
source "$(dirname "$0")/as_root.sh"

packages=(g++ cmake make pkg-config zlib1g-dev libdeflate-dev libisal-dev libpugixml-dev libzip-dev libfmt-dev nlohmann-json3-dev
          qt6-base-dev fonts-dejavu-core librsvg2-bin xdg-utils qt6-translations-l10n)
for flag in "$@"; do
    case "$flag" in
        --tests)
            packages+=(libgtest-dev libxlsxwriter-dev python3 python3-openpyxl python3-uno libreoffice-calc-nogui poppler-utils
                       shared-mime-info clang-14 libclang-rt-14-dev clang-format man-db)
            ;;
        --package)
            packages+=(dpkg-dev lintian desktop-file-utils appstream man-db bash-completion shared-mime-info)
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
    echo "Installiere: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
