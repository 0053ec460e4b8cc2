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

# "wall cpu" seconds of one command: elapsed, and user plus system time of all its threads.
seconds() {
    /usr/bin/time -f '%e %U %S' -o "$WORK/time.txt" "$@" >/dev/null
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$WORK/time.txt"
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

load=$(cut -d' ' -f1-3 /proc/loadavg)
# Runs alternate between the tools so that a burst of load from elsewhere hits both alike.
vorn_times=()
unzip_times=()
vorn_cpu=()
unzip_cpu=()
for run in $(seq "$RUNS"); do
    rm -rf "$WORK/out-vorn" "$WORK/out-unzip"
    sync
    read -r wall cpu < <(seconds "$VORN" extract -q -o "$WORK/out-vorn" "$WORK/corpus.vorn")
    vorn_times+=("$wall")
    vorn_cpu+=("$cpu")
    read -r wall cpu < <(seconds unzip -q -d "$WORK/out-unzip" "$WORK/corpus.zip")
    unzip_times+=("$wall")
    unzip_cpu+=("$cpu")
done
cmp -s <(cd "$WORK/out-vorn" && cat "${files[@]}" | sha256sum) <(cd "$CORPUS" && cat "${files[@]}" | sha256sum) ||
    { echo "vorn extract did not give back the corpus" >&2; exit 1; }
rm -rf "$WORK/out-vorn" "$WORK/out-unzip"

vorn_median=$(printf '%s\n' "${vorn_times[@]}" | median)
unzip_median=$(printf '%s\n' "${unzip_times[@]}" | median)
vorn_cpu_median=$(printf '%s\n' "${vorn_cpu[@]}" | median)
unzip_cpu_median=$(printf '%s\n' "${unzip_cpu[@]}" | median)
echo "load average before the runs: $load"
printf 'vorn extract (default jobs, %s cores): wall %s s, median %.3f s, %.0f MB/s; CPU median %.2f s\n' \
    "$(nproc)" "${vorn_times[*]}" "$vorn_median" "$(echo "$bytes / $vorn_median / 1000000" | bc -l)" "$vorn_cpu_median"
printf 'unzip -q:                              wall %s s, median %.3f s, %.0f MB/s; CPU median %.2f s\n' \
    "${unzip_times[*]}" "$unzip_median" "$(echo "$bytes / $unzip_median / 1000000" | bc -l)" "$unzip_cpu_median"
printf 'ratio (unzip wall time / vorn wall time): %.2f\n' "$(echo "$unzip_median / $vorn_median" | bc -l)"
printf 'ratio of CPU time (unzip / vorn, all threads): %.2f\n' "$(echo "$unzip_cpu_median / $vorn_cpu_median" | bc -l)"

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
