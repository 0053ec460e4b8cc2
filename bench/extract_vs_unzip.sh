#!/usr/bin/env bash
# Whole extraction: "vorn extract" of an archive of the corpus against "unzip" of the same files
# zipped with "zip -6", timed in one run on this machine, each into a fresh folder on the same file
# system; then the peak resident memory of "vorn extract" with one and with two decoding threads.
#
#   bench/extract_vs_unzip.sh [VORN] [CORPUS]
#
# VORN defaults to build/release/tools/vorn, CORPUS to $VORN_CORPUS or ./corpus. RUNS (default 5)
# sets the runs per tool; the medians are compared. WORK (default a new folder in /tmp) is where
# the archives and the extracted copies go; it is removed at the end.
set -euo pipefail

VORN=${1:-build/release/tools/vorn}
CORPUS=${2:-${VORN_CORPUS:-corpus}}
RUNS=${RUNS:-5}
VORN=$(realpath "$VORN")
CORPUS=$(realpath "$CORPUS")
WORK=${WORK:-$(mktemp -d /tmp/vorn-extract-bench.XXXXXX)}
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT

for tool in zip unzip /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install zip unzip time)" >&2; exit 2; }
done

files=()
while IFS= read -r f; do files+=("$f"); done < <(cd "$CORPUS" && ls | grep -v '^MANIFEST.txt$')
bytes=$(cd "$CORPUS" && cat "${files[@]}" | wc -c)

(cd "$CORPUS" && "$VORN" pack -q "$WORK/corpus.vorn" "${files[@]}")
(cd "$CORPUS" && zip -q -6 "$WORK/corpus.zip" "${files[@]}")
echo "corpus: ${#files[@]} files, $bytes bytes; vorn archive $(stat -c %s "$WORK/corpus.vorn") bytes," \
    "zip -6 $(stat -c %s "$WORK/corpus.zip") bytes"

# Seconds of one command, wall clock.
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Runs alternate between the tools so that a burst of load from elsewhere hits both alike.
vorn_times=()
unzip_times=()
for run in $(seq "$RUNS"); do
    rm -rf "$WORK/out-vorn" "$WORK/out-unzip"
    sync
    vorn_times+=("$(seconds "$VORN" extract -q -o "$WORK/out-vorn" "$WORK/corpus.vorn")")
    unzip_times+=("$(seconds unzip -q -d "$WORK/out-unzip" "$WORK/corpus.zip")")
done
cmp -s <(cd "$WORK/out-vorn" && cat "${files[@]}" | sha256sum) <(cd "$CORPUS" && cat "${files[@]}" | sha256sum) ||
    { echo "vorn extract did not give back the corpus" >&2; exit 1; }
rm -rf "$WORK/out-vorn" "$WORK/out-unzip"

vorn_median=$(printf '%s\n' "${vorn_times[@]}" | median)
unzip_median=$(printf '%s\n' "${unzip_times[@]}" | median)
printf 'vorn extract (default jobs, %s cores): runs %s s, median %.3f s, %.0f MB/s\n' "$(nproc)" \
    "$(printf '%.3f ' "${vorn_times[@]}")" "$vorn_median" "$(echo "$bytes / $vorn_median / 1000000" | bc -l)"
printf 'unzip -q:                              runs %s s, median %.3f s, %.0f MB/s\n' \
    "$(printf '%.3f ' "${unzip_times[@]}")" "$unzip_median" "$(echo "$bytes / $unzip_median / 1000000" | bc -l)"
printf 'ratio (unzip time / vorn time): %.2f\n' "$(echo "$unzip_median / $vorn_median" | bc -l)"

# Peak resident set of the whole process; the per-thread figure is what a second decoding thread
# adds, and the process's base is the rest.
peak_kib() {
    rm -rf "$WORK/out-mem"
    /usr/bin/time -f '%M' -o "$WORK/time.txt" "$VORN" extract -q --jobs "$1" -o "$WORK/out-mem" "$WORK/corpus.vorn"
    cat "$WORK/time.txt"
}
one=$(peak_kib 1)
two=$(peak_kib 2)
rm -rf "$WORK/out-mem"
printf 'peak RSS: --jobs 1 %.1f MiB, --jobs 2 %.1f MiB, second thread adds %.1f MiB, per thread at 2 jobs %.1f MiB\n' \
    "$(echo "$one / 1024" | bc -l)" "$(echo "$two / 1024" | bc -l)" "$(echo "($two - $one) / 1024" | bc -l)" \
    "$(echo "$two / 2048" | bc -l)"
