#!/bin/sh
# Seed corpora of the fuzz targets: the project's test fixtures and samples, and small bills made
# by the project's generator bremora-lvgen (clean and damaged), each behind an option byte.
# Usage: fuzz/make_seeds.sh OUTDIR [BREMORA_LVGEN]   (without the generator no generated bills)
set -eu
out=${1:?usage: make_seeds.sh OUTDIR [BREMORA_LVGEN]}
gen=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
data="$here/../tests/data"
python=/usr/bin/python3
for t in fuzz_detect fuzz_gaeb90 fuzz_gaeb2000 fuzz_gaebxml fuzz_rtf fuzz_angebot; do mkdir -p "$out/$t"; done

# The option byte 0x2c: faulty lines logged, prices rounded, calculation columns; 0x7f: all on.
seed() {  # seed TARGET NAME FILE
    for opt in 2c 7f; do
        { printf "\\$(printf '%03o' "0x$opt")"; cat "$3"; } > "$out/$1/$2-$opt"
    done
}

# The test fixtures, the bundled samples and the damaged bills of the robustness tests.
for f in "$data"/gaeb90/* "$data"/gaeb2000/* "$data"/gaebxml/* "$data"/robustness/* "$here"/../samples/beispiel.*; do
    case $f in
        *.d8?) target=fuzz_gaeb90 ;;
        *.p8?) target=fuzz_gaeb2000 ;;
        *.x8?) target=fuzz_gaebxml ;;
        *) continue ;;
    esac
    seed "$target" "$(basename "$f")" "$f" && seed fuzz_detect "$(basename "$f")" "$f"
done
# The sample under each single-byte code page a DA XML declaration may name.
for encoding in ISO-8859-1 ISO-8859-15 windows-1252; do
    sed "1s/UTF-8/$encoding/" "$here/../samples/beispiel.x83" | iconv -f UTF-8 -t "$encoding//TRANSLIT" > "$out/beispiel-$encoding.x83"
    seed fuzz_gaebxml "beispiel-$encoding.x83" "$out/beispiel-$encoding.x83"
    rm "$out/beispiel-$encoding.x83"
done

tmp=
if [ -n "$gen" ] && [ -x "$gen" ]; then
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    gen() {  # gen TARGET NAME FORMAT ARGS...
        target=$1 name=$2 format=$3
        shift 3
        "$gen" "$format" -q --items 8 "$@" -o "$tmp/$name"
        seed "$target" "$name" "$tmp/$name"
        seed fuzz_detect "$name" "$tmp/$name"
    }
    gen fuzz_gaeb90 g90 90 --notes --subdescr --rules --index
    gen fuzz_gaeb90 g90-84 90 --phase 84 --levels 4 --pad blank --ragged
    gen fuzz_gaeb2000 g2000 2000 --notes --subdescr
    gen fuzz_gaeb2000 g2000-84 2000 --phase 84 --levels 3 --price-comma --encoding utf-8-sig
    gen fuzz_gaebxml xml xml --notes --subdescr
    gen fuzz_gaebxml xml-84 xml --phase 84 --levels 6 --encoding utf-8-sig
    for mode in truncate flip phase badrecord; do gen fuzz_gaeb90 "g90-$mode" 90 --corrupt "$mode"; done
    for mode in truncate flip phase noend; do gen fuzz_gaeb2000 "g2000-$mode" 2000 --corrupt "$mode"; done
    for mode in truncate flip phase unbalanced; do gen fuzz_gaebxml "xml-$mode" xml --corrupt "$mode"; done
fi
# The RTF target reads long texts as they stand in GAEB 2000 bills.
grep -aho '{\\rtf1.*' "$data"/gaeb2000/*.p8? "$here"/../samples/beispiel.p83 ${tmp:+"$tmp"/g2000*} |
    head -n 40 | while IFS= read -r line; do
    printf '%s' "$line" > "$out/fuzz_rtf/$(printf '%s' "$line" | cksum | cut -d' ' -f1)"
done
printf '{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\pard\\plain\\f0\\fs20 Gr\\'"'"'f6\\'"'"'dfe {\\b fett}\\par\\u8364?}' > "$out/fuzz_rtf/handmade"
# Handmade documents of what the printed text does not show (bookmarks, fields, notes, hidden
# text, pictures, shapes), tables, code pages and Unicode.
cp "$here"/seeds/fuzz_rtf/* "$out/fuzz_rtf/"

# The priced workbooks of the bid tests (our writer, and the same re-saved by LibreOffice): whole,
# behind the byte 0x00, and their sheet and shared strings unpacked, behind 0x01.
for f in "$data"/angebot/*.xlsx; do
    { printf '\000'; cat "$f"; } > "$out/fuzz_angebot/$(basename "$f")-xlsx"
    if [ -x "$python" ]; then
        "$python" - "$f" "$out/fuzz_angebot/$(basename "$f")-xml" <<'PY'
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
sst = z.read("xl/sharedStrings.xml") if "xl/sharedStrings.xml" in names else b""
with open(sys.argv[2], "wb") as out:
    out.write(b"\x01" + z.read("xl/worksheets/sheet1.xml") + b"\x00" + sst)
PY
    fi
done
