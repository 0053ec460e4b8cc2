#!/usr/bin/env bash
# Solid groups against 7-Zip's solid archive, in one run on this machine, on one folder of files
# (the benchmark corpus, or the PE corpus's bin/):
#   sizes: vorn pack --level 3 (each file alone) and --solid, 7zz a -mx9 (solid), zip -9; each
#     as a ratio to 7-Zip's size;
#   packing time: vorn pack --solid on all cores against 7zz a -mx9 (wall seconds);
#   decoding time: vorn test (all cores) of the solid archive against 7zz t of 7-Zip's and
#     unzip -t of zip -9's (median wall seconds of RUNS), with vorn test's peak resident memory.
#
#   bench/solid_vs_7zip.sh [VORN] [FOLDER]
#
# VORN defaults to build/release/tools/vorn, FOLDER to $VORN_CORPUS or ./corpus. RUNS (default 3)
# sets the timed decoding runs. WORK (default a new folder in /tmp) is removed at the end.
set -euo pipefail

VORN=$(realpath "${1:-build/release/tools/vorn}")
FOLDER=$(realpath "${2:-${VORN_CORPUS:-corpus}}")
RUNS=${RUNS:-3}
WORK=${WORK:-$(mktemp -d /tmp/vorn-solid-bench.XXXXXX)}
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT
for tool in 7zz zip unzip /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "needs $tool (7zz: Debian package 7zip)" >&2; exit 2; }
done

seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
timed() { for _ in $(seq "$RUNS"); do seconds "$@"; done | median; }
size() { stat -c %s "$1"; }

cd "$(dirname "$FOLDER")"
leaf=$(basename "$FOLDER")
"$VORN" pack -q --level 3 "$WORK/l3.vorn" "$leaf"
pack_vorn=$(seconds "$VORN" pack -q --solid "$WORK/solid.vorn" "$leaf")
pack_7z=$(seconds 7zz a -mx9 "$WORK/a.7z" "$leaf")
zip -q -r -9 "$WORK/a.zip" "$leaf"
s7=$(size "$WORK/a.7z")
echo "folder: $FOLDER ($(du -sb "$leaf" | cut -f1) bytes)"
for f in l3.vorn solid.vorn a.7z a.zip; do
    printf '%-11s %10d bytes  %.3f of 7zz -mx9\n' "$f" "$(size "$WORK/$f")" \
        "$(echo "$(size "$WORK/$f") / $s7" | bc -l)"
done
echo "pack: vorn --solid ${pack_vorn}s, 7zz a -mx9 ${pack_7z}s"
"$VORN" test -q "$WORK/solid.vorn"
t_vorn=$(timed "$VORN" test -q "$WORK/solid.vorn")
t_7z=$(timed 7zz t "$WORK/a.7z")
t_zip=$(timed unzip -tq "$WORK/a.zip")
rss=$(/usr/bin/time -f %M "$VORN" test -q "$WORK/solid.vorn" 2>&1 >/dev/null | tail -1)
echo "test: vorn ${t_vorn}s (peak ${rss} KiB), 7zz t ${t_7z}s, unzip -t ${t_zip}s"
printf 'vorn test is %.2f times as fast as 7zz t and %.2f times unzip -t\n' \
    "$(echo "$t_7z / $t_vorn" | bc -l)" "$(echo "$t_zip / $t_vorn" | bc -l)"
