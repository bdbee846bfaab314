#!/usr/bin/env bash
# Writes a folder as an uncompressed initramfs (cpio "newc" format) on stdout,
# everything owned by root, plus the /dev/console node the kernel opens before
# /init. Written here because a fresh Debian has no cpio.
# Usage: newc.sh FOLDER > archive.cpio
set -euo pipefail
cd "$1"
ino=1

# One entry: name, mode (octal, with the type bits), size, mtime, rdev major/minor.
header() {
    local name=$1 mode=$2 size=$3 mtime=$4 rmaj=${5:-0} rmin=${6:-0}
    local namesize=$(( ${#name} + 1 ))
    printf '070701%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%s\0' \
        "$ino" "$((8#$mode))" 0 0 1 "$mtime" "$size" 0 0 "$rmaj" "$rmin" "$namesize" 0 "$name"
    ino=$((ino + 1))
    pad $(( 110 + namesize ))
}
pad() {
    local n=$(( (4 - $1 % 4) % 4 ))
    [ "$n" -eq 0 ] || printf '%*s' "$n" '' | tr ' ' '\0'
}

now=$(date +%s)
header dev 40755 0 "$now"
header dev/console 20600 0 "$now" 5 1
# Type, permission bits, size, mtime, link target and name, split by a unit
# separator (tabs would merge around the empty link target of a plain file).
find . -mindepth 1 ! -path ./dev ! -path ./dev/console -printf '%y\037%m\037%s\037%T@\037%l\037%P\n' |
while IFS=$'\037' read -r type perm size mtime target name; do
    mtime=${mtime%.*}
    case $type in
        d) header "$name" "4$(printf '%04o' "$((8#$perm))")" 0 "$mtime" ;;
        f) header "$name" "10$(printf '%04o' "$((8#$perm))")" "$size" "$mtime"
           cat -- "$name"; pad "$size" ;;
        l) header "$name" 120777 "${#target}" "$mtime"
           printf '%s' "$target"; pad "${#target}" ;;
        *) echo "newc.sh: skipped $name (type $type)" >&2 ;;
    esac
done
header TRAILER!!! 0 0 0
