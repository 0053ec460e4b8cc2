#!/usr/bin/env bash
# The tool on every core against itself on one and against zip/unzip, in one run on this machine:
#   packing the corpus, --jobs 1 against the default (one job per core), with the bytes compared
#     and the peak resident memory of each;
#   "vorn test" of one 48 MiB entry, --jobs 1 against the default;
#   "vorn test" of the corpus against "unzip -t" of the same files zipped with "zip -6", on all
#     cores and with both pinned to one core;
#   the packed sizes: vorn levels 1 and 2 against zip -6 and zip -9, with the time each took.
#
#   bench/parallel_vs_zip.sh [VORN] [CORPUS]
#
# VORN defaults to build/release/tools/vorn, CORPUS to $VORN_CORPUS or ./corpus. RUNS (default 5)
# sets the timed runs of each command; medians are compared. WORK (default a new folder in /tmp)
# holds the archives and is removed at the end.
set -euo pipefail

VORN=$(realpath "${1:-build/release/tools/vorn}")
CORPUS=$(realpath "${2:-${VORN_CORPUS:-corpus}}")
RUNS=${RUNS:-5}
WORK=${WORK:-$(mktemp -d /tmp/vorn-parallel-bench.XXXXXX)}
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT

for tool in zip unzip taskset /usr/bin/time bc; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done

files=()
while IFS= read -r f; do files+=("$f"); done < <(cd "$CORPUS" && ls | grep -v '^MANIFEST.txt$')
bytes=$(cd "$CORPUS" && cat "${files[@]}" | wc -c)

# Elapsed seconds and peak RSS in KiB of one command, its output thrown away.
measure() {
    /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null
    cat "$WORK/time.txt"
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Median wall time of RUNS runs of a command, run in the corpus folder.
timed() {
    local times=()
    for _ in $(seq "$RUNS"); do
        read -r wall _ < <(cd "$CORPUS" && measure "$@")
        times+=("$wall")
    done
    printf '%s\n' "${times[@]}" | median
}

# Median wall times of two commands (shell functions), RUNS runs each, taken in turn so that a
# burst of load from elsewhere, or the host's clock moving, hits both alike: "A B".
timed_pair() {
    local a=() b=() t0 t1 t2
    for _ in $(seq "$RUNS"); do
        t0=$(date +%s.%N); (cd "$CORPUS" && "$1" >/dev/null)
        t1=$(date +%s.%N); (cd "$CORPUS" && "$2" >/dev/null)
        t2=$(date +%s.%N)
        a+=("$(echo "$t1 - $t0" | bc -l)") b+=("$(echo "$t2 - $t1" | bc -l)")
    done
    printf '%.3f %.3f\n' "$(printf '%s\n' "${a[@]}" | median)" "$(printf '%s\n' "${b[@]}" | median)"
}

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); corpus ${#files[@]} files, $bytes bytes"

echo "== packing"
pack_one() { "$VORN" pack -q -j 1 "$WORK/j1.vorn" "${files[@]}"; }
pack_all() { "$VORN" pack -q "$WORK/jN.vorn" "${files[@]}"; }
read -r pack1 packN < <(timed_pair pack_one pack_all)
cmp -s "$WORK/j1.vorn" "$WORK/jN.vorn" || { echo "packing on all cores wrote other bytes" >&2; exit 1; }
read -r _ rss1 < <(cd "$CORPUS" && measure "$VORN" pack -q -j 1 "$WORK/j1.vorn" "${files[@]}")
read -r _ rssN < <(cd "$CORPUS" && measure "$VORN" pack -q "$WORK/jN.vorn" "${files[@]}")
echo "vorn pack -j 1: $pack1 s ($(ratio "$bytes / 1000000" "$pack1") MB/s), peak RSS $((rss1 / 1024)) MiB"
echo "vorn pack (all cores): $packN s, peak RSS $((rssN / 1024)) MiB; speedup $(ratio "$pack1" "$packN"), same bytes"
echo "extra RSS per extra thread: $(( (rssN - rss1) / 1024 / ($(nproc) - 1 > 0 ? $(nproc) - 1 : 1) )) MiB"

echo "== one 48 MiB entry"
(cd "$CORPUS" && cat 02_prose_rst.txt 03_cxx_headers.h 04_libpython311.so 05_pydoc_library.html \
    07_xserver_gitlog.txt 08_magic_db.mgc) | head -c $((48 << 20)) >"$WORK/large.bin"
"$VORN" pack -q "$WORK/large.vorn" "$WORK/large.bin"
large_one() { "$VORN" test -q -j 1 "$WORK/large.vorn"; }
large_all() { "$VORN" test -q "$WORK/large.vorn"; }
read -r large1 largeN < <(timed_pair large_one large_all)
read -r _ rssL < <(measure "$VORN" test -q "$WORK/large.vorn")
echo "vorn test -j 1: $large1 s; all cores: $largeN s, peak RSS $((rssL / 1024)) MiB; speedup $(ratio "$large1" "$largeN")"
rm -f "$WORK/large.bin"

echo "== vorn test against unzip -t"
(cd "$CORPUS" && zip -q -6 "$WORK/corpus.zip" "${files[@]}")
test_all() { "$VORN" test -q "$WORK/jN.vorn"; }
unzip_all() { unzip -tq "$WORK/corpus.zip"; }
test_one() { taskset -c 0 "$VORN" test -q "$WORK/jN.vorn"; }
unzip_one() { taskset -c 0 unzip -tq "$WORK/corpus.zip"; }
read -r testN unzipN < <(timed_pair test_all unzip_all)
read -r test1 unzip1 < <(timed_pair test_one unzip_one)
echo "all cores: vorn test $testN s, unzip -t $unzipN s; ratio $(ratio "$unzipN" "$testN")"
echo "one core:  vorn test $test1 s, unzip -t $unzip1 s; ratio $(ratio "$unzip1" "$test1")"

echo "== packed sizes"
size() { stat -c %s "$1"; }
# zip adds to an archive that exists, so each run starts without one.
fresh_zip=(bash -c 'rm -f "$2" && exec zip -q "$1" "$2" "${@:3}"' fresh_zip)
level1=$(timed "$VORN" pack -q --level 1 "$WORK/l1.vorn" "${files[@]}")
zip9=$(timed "${fresh_zip[@]}" -9 "$WORK/z9.zip" "${files[@]}")
zip6=$(timed "${fresh_zip[@]}" -6 "$WORK/corpus.zip" "${files[@]}")
for f in "${files[@]}"; do
    printf '%-24s level 1 %9s  level 2 %9s  zip -9 %9s\n' "$f" \
        "$("$VORN" list --json "$WORK/l1.vorn" | grep -o "\"name\": \"$f\".*\"stored\": [0-9]*" | grep -o '[0-9]*$')" \
        "$("$VORN" list --json "$WORK/jN.vorn" | grep -o "\"name\": \"$f\".*\"stored\": [0-9]*" | grep -o '[0-9]*$')" \
        "$(unzip -Zl "$WORK/z9.zip" "$f" | awk 'NR == 1 { print $6 }')"
done
echo "total ratio: level 1 $(ratio "$bytes" "$(size "$WORK/l1.vorn")") ($level1 s on all cores)," \
    "level 2 $(ratio "$bytes" "$(size "$WORK/jN.vorn")") ($packN s)," \
    "zip -9 $(ratio "$bytes" "$(size "$WORK/z9.zip")") ($zip9 s)," \
    "zip -6 $(ratio "$bytes" "$(size "$WORK/corpus.zip")") ($zip6 s)"
