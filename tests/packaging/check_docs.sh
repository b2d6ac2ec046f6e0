#!/usr/bin/env bash
# check_docs.sh BREMORA-CLI PACKAGING-FOLDER
set -euo pipefail
cli=$(realpath "$1")
dir=$(realpath "$2")
man_cli=$dir/bremora-cli.1
completion=$dir/bremora-cli.bash-completion
failures=0
fail() {
    echo "FEHLER: $*"
    failures=$((failures + 1))
}

help=$("$cli" --help)

# The help fits a terminal of 100 columns, counted in characters.
too_long=$(LC_ALL=C.UTF-8 bash -c 'while IFS= read -r l; do ((${#l} <= 100)) || echo "${#l}: $l"; done' <<<"$help")
[[ -z "$too_long" ]] || fail "--help hat Zeilen über 100 Zeichen: $too_long"

# Options: the first column of the help's option lines ("  -o, --ausgabe DATEI  ...").
mapfile -t options < <(grep -E '^  +-' <<<"$help" | sed -E 's/   +.*//' |
    grep -oE '(^|[ ,])--?[a-z][a-z-]*' | sed -E 's/^[ ,]+//')
((${#options[@]} >= 5)) || fail "keine Optionen in --help gefunden"
# Each has its own entry (a .B, .BR or .BI line) in the man page's OPTIONEN.
man_options=$(sed -n '/^\.SH OPTIONEN/,/^\.SH [^O]/p' "$man_cli" | grep -E '^\.B[RI]? ')
for opt in "${options[@]}"; do
    grep -qE -- "(^|[ \"]|\\\\fB)${opt//-/\\\\-}([ =\"]|$)" <<<"$man_options" || fail "Option $opt fehlt in bremora-cli.1"
done

# The completion completes exactly the help's options, and passes over the value of those that
# name one in the help ("--bericht DATEI.json", "--regelungen=ja|nein").
completed=$(bash -c 'source "$1"; printf "%s\n" "${_bremora_cli_options[@]}"' _ "$completion" | sed 's/=$//')
if [[ "$completed" != "$(printf '%s\n' "${options[@]}")" ]]; then
    fail "Die Optionen der Bash-Vervollständigung weichen von --help ab:"
    diff <(printf '%s\n' "${options[@]}") <(echo "$completed") || true
fi
mapfile -t value_options < <(grep -E '^  +-' <<<"$help" | sed -E 's/^ +//; s/  .*//' | grep -E '=| [A-Z]' |
    grep -oE '(^|[ ,])--?[a-z][a-z-]*' | sed -E 's/^[ ,]+//' | sort)
completed=$(bash -c 'source "$1"; printf "%s\n" "${_bremora_cli_value_options[@]}"' _ "$completion" | sort)
if [[ "$completed" != "$(printf '%s\n' "${value_options[@]}")" ]]; then
    fail "Die Optionen mit Wert der Bash-Vervollständigung weichen von --help ab:"
    diff <(printf '%s\n' "${value_options[@]}") <(echo "$completed") || true
fi

# Exit statuses: the same numbers in the help's "Rückgabewerte" and the man page's RÜCKGABEWERT.
help_status=$(sed -n '/^Rückgabewerte:/,/^$/p' <<<"$help" | grep -oE '^  [0-9]+ ' | tr -d ' ' | sort -n)
man_status=$(sed -n '/^\.SH RÜCKGABEWERT/,/^\.SH /p' "$man_cli" | grep -E '^\.B [0-9]+$' | cut -d' ' -f2 | sort -n)
[[ -n "$help_status" ]] || fail "keine Rückgabewerte in --help gefunden"
[[ "$help_status" == "$man_status" ]] ||
    fail "Rückgabewerte: --help nennt $(echo $help_status), bremora-cli.1 nennt $(echo $man_status)"

# What the completion offers: options, GAEB files in any case and folders for the input,
# workbooks after -o, reports after --bericht, folders after --ausgabeordner, numbers after -j,
# the answers of --regelungen.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/ordner"
touch "$work"/{lv.d83,LV.D84,b.p84,c.p82,x.X80,y.x86,z.x85,d.d85,e.off,notiz.txt,mappe.xlsx,bericht.json,gebot.x84}
complete_words() {
    (cd "$work" && bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _bremora_cli; printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " "' _ "$completion" "$@")
}
check_completion() {
    local expected=$1
    shift
    local got
    got=$(complete_words "$@")
    [[ "$got" == "$expected" ]] || fail "Vervollständigung von '$*': erwartet '$expected', erhalten '$got'"
}
check_completion "LV.D84 b.p84 e.off gebot.x84 lv.d83 ordner x.X80 y.x86" bremora-cli --teilsummen ""
check_completion "--teilsummen" bremora-cli --teil
check_completion "--regelungen=" bremora-cli --reg
check_completion "ja nein" bremora-cli --regelungen "=" ""
check_completion "mappe.xlsx ordner" bremora-cli lv.d83 -o ""
check_completion "bericht.json ordner" bremora-cli --bericht ""
check_completion "ordner" bremora-cli --ausgabeordner ""
check_completion "1" bremora-cli -j 1
check_completion "" bremora-cli -- --teil
check_completion "LV.D84 b.p84 e.off gebot.x84 lv.d83 ordner x.X80 y.x86" bremora-cli --angebot ""
check_completion "mappe.xlsx ordner" bremora-cli --angebot --bieter-name "Bau GmbH" lv.d83 ""
check_completion "gebot.x84 ordner" bremora-cli --angebot lv.d83 mappe.xlsx -o ""
check_completion "" bremora-cli --angebot --bieter-anschrift ""

# The man pages render without a warning.
if command -v man >/dev/null; then
    for page in "$man_cli" "$dir/bremora.1"; do
        warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
        [[ -z "$warnings" ]] || fail "$(basename "$page"): $warnings"
    done
fi

if ((failures)); then
    echo "$failures Fehler"
    exit 1
fi
echo "Handbuchseiten und Vervollständigung passen zu bremora-cli --help."
