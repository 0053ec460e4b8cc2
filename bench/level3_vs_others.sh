#!/usr/bin/env bash
# Level 3 (LZ blocks) against the common archivers, in one run on this machine, on one folder of
# files (the benchmark corpus, or the PE corpus's bin/):
#   sizes: vorn pack --level 2 and --level 3, zip -9, zstd -19 of each file alone, tar + zstd -19,
#     7-Zip (7zz, Debian package 7zip, when installed) -mx9 with -ms=off (each file alone) and
#     solid;
#   packing speed on one core: vorn pack --level 3 --jobs 1 against zstd -19 of each file alone,
#     both pinned to one core (CPU seconds), with vorn's peak resident memory;
#   decoding speed on one core: vorn test --jobs 1 of the level-3 archive against unzip -t of the
#     zip -9 archive (zlib inflate and CRC-32 of the same files), both pinned to one core, with
#     vorn's peak resident memory.
#
#   bench/level3_vs_others.sh [VORN] [FOLDER]
#
# VORN defaults to build/release/tools/vorn, FOLDER to $VORN_CORPUS or ./corpus. RUNS (default 3)
# sets the timed decoding runs; medians are compared. WORK (default a new folder in /tmp) holds the
# archives and is removed at the end.
set -euo pipefail

VORN=$(realpath "${1:-build/release/tools/vorn}")
FOLDER=$(realpath "${2:-${VORN_CORPUS:-corpus}}")
RUNS=${RUNS:-3}
WORK=${WORK:-$(mktemp -d /tmp/vorn-level3-bench.XXXXXX)}
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT

for tool in zip unzip zstd tar taskset /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "needs $tool (scripts/install-deps)" >&2; exit 2; }
done

files=()
while IFS= read -r f; do files+=("$f"); done < <(cd "$FOLDER" && ls | grep -v '^MANIFEST.txt$')
bytes=$(cd "$FOLDER" && cat "${files[@]}" | wc -c)

# CPU seconds (user + system) and peak RSS in KiB of one command pinned to core 0.
measure() {
    /usr/bin/time -f '%U %S %M' -o "$WORK/time.txt" taskset -c 0 "$@" >/dev/null 2>&1
    awk '{ printf "%.2f %d\n", $1 + $2, $3 }' "$WORK/time.txt"
}
median() {
    sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
size() { stat -c %s "$1"; }
row() { awk -v n="$1" -v s="$2" -v b="$bytes" -v z="$3" \
    'BEGIN { printf "%-34s %12d  ratio %6.3f  against zip -9 %5.3f\n", n, s, b / s, s / z }'; }

cd "$FOLDER"
zip -q -9 "$WORK/all.zip" "${files[@]}"
zipped=$(size "$WORK/all.zip")
echo "$(basename "$FOLDER"): ${#files[@]} files, $bytes bytes"

read -r pack3_cpu pack3_rss < <(measure "$VORN" pack -q --jobs 1 --level 3 "$WORK/l3.vorn" "${files[@]}")
"$VORN" pack -q --level 2 "$WORK/l2.vorn" "${files[@]}"
zstd_cpu=0
: > "$WORK/zstd-each.txt"
for f in "${files[@]}"; do
    read -r cpu _ < <(measure zstd -q -19 -f "$f" -o "$WORK/one.zst")
    zstd_cpu=$(awk -v a="$zstd_cpu" -v b="$cpu" 'BEGIN { print a + b }')
    size "$WORK/one.zst" >> "$WORK/zstd-each.txt"
done
zstd_each=$(awk '{ s += $1 } END { print s }' "$WORK/zstd-each.txt")
tar -cf - "${files[@]}" | zstd -q -19 -o "$WORK/all.tar.zst"
seven=$(command -v 7zz || true)
if [ -n "$seven" ]; then
    "$seven" a -bd -mx9 -ms=off "$WORK/each.7z" "${files[@]}" >/dev/null
    "$seven" a -bd -mx9 -ms=on "$WORK/solid.7z" "${files[@]}" >/dev/null
fi

row "vorn pack --level 2" "$(size "$WORK/l2.vorn")" "$zipped"
row "vorn pack --level 3" "$(size "$WORK/l3.vorn")" "$zipped"
row "zip -9" "$zipped" "$zipped"
row "zstd -19, each file alone" "$zstd_each" "$zipped"
row "tar + zstd -19" "$(size "$WORK/all.tar.zst")" "$zipped"
if [ -n "$seven" ]; then
    row "7z -mx9 -ms=off" "$(size "$WORK/each.7z")" "$zipped"
    row "7z -mx9 (solid)" "$(size "$WORK/solid.7z")" "$zipped"
fi

echo "packing on one core: vorn --level 3 ${pack3_cpu}s (peak RSS ${pack3_rss} KiB), zstd -19 each file ${zstd_cpu}s:" \
    "$(awk -v v="$pack3_cpu" -v z="$zstd_cpu" 'BEGIN { printf "%.2f", z / v }') x zstd's speed"

vorn_t=() unzip_t=() vorn_rss=0
for _ in $(seq "$RUNS"); do
    read -r cpu rss < <(measure "$VORN" test -q --jobs 1 "$WORK/l3.vorn")
    vorn_t+=("$cpu") vorn_rss=$rss
    read -r cpu _ < <(measure unzip -tqq "$WORK/all.zip")
    unzip_t+=("$cpu")
done
vt=$(printf '%s\n' "${vorn_t[@]}" | median)
ut=$(printf '%s\n' "${unzip_t[@]}" | median)
echo "decoding on one core: vorn test ${vt}s (peak RSS ${vorn_rss} KiB), unzip -t ${ut}s:" \
    "$(awk -v v="$vt" -v u="$ut" 'BEGIN { printf "%.2f", u / v }') x unzip's speed" \
    "($(awk -v b="$bytes" -v v="$vt" 'BEGIN { printf "%.0f", b / v / 1e6 }') MB/s of output)"
