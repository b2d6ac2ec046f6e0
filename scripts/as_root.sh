# SPDX-License-Identifier: MIT
# Sourced by the scripts that change the system. as_root COMMAND...: runs COMMAND as root, directly
# when the script runs as root (a Debian installed with a root password has no sudo), else through
# sudo; without sudo it says in German what to do and ends the script with status 1.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "$(basename "$0"): Dafür sind Administratorrechte nötig, aber sudo ist nicht installiert." >&2
        echo "Bitte das Skript als root ausführen (etwa mit su -) oder sudo einrichten." >&2
        exit 1
    fi
}
