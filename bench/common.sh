# SPDX-License-Identifier: MIT
# Shared start of the benchmark scripts: the console program (first argument, a Release build),
# the sizes (further arguments), the bill generator bremora-lvgen built beside it, and a temporary
# folder removed at exit. Sourced with the working directory anywhere; leaves it at the project root.
cd "$(dirname "$0")/.."

cli="${1:-build/bremora-cli}"
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000 1000000)
lvgen="$(dirname "$cli")/bremora-lvgen"

[ -x "$cli" ] || { echo "Kein Programm unter $cli (Release-Build angeben)" >&2; exit 2; }
[ -x "$lvgen" ] || { echo "Kein Generator unter $lvgen (wird mit bremora-cli gebaut)" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
