#!/usr/bin/env bash
# Small entries through the command-line tool: COUNT text files of 1 to 4 KiB, 100 to a folder (as
# a node_modules tree or a Python environment holds them), then "vorn pack", "vorn test" and
# "vorn extract" against "zip -r -6", "unzip -t" and "unzip" of the same tree, each timed in
# turn, the medians compared. Also packs and tests with --jobs 1 and prints the CPU time per entry,
# the fixed cost that the bytes alone do not explain.
#
#   bench/small_files.sh [VORN] [COUNT ...]
#
# VORN defaults to build/release/tools/vorn, COUNT to 10000. RUNS (default 3) sets the runs per
# command. WORK (default a new folder in /tmp) holds the tree, the archives and the copies; it is
# removed at the end. KEEP_TREE=1 leaves WORK/files-COUNT in place for profiling.
set -euo pipefail

VORN=$(realpath "${1:-build/release/tools/vorn}")
shift || true
COUNTS=("${@:-10000}")
[ ${#COUNTS[@]} -gt 0 ] || COUNTS=(10000)
RUNS=${RUNS:-3}
WORK=${WORK:-$(mktemp -d /tmp/vorn-small-bench.XXXXXX)}
mkdir -p "$WORK"
[ "${KEEP_TREE:-0}" = 1 ] || trap 'rm -rf "$WORK"' EXIT

for tool in zip unzip /usr/bin/time python3; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done

make_tree() {  # COUNT FOLDER: lines of words, so the files compress as source and text do
    python3 - "$1" "$2" <<'PY'
import os, random, sys
count, root = int(sys.argv[1]), sys.argv[2]
words = ("return const value index module export function require string object length "
         "buffer options default error result package import class self none true false").split()
rng = random.Random(count)
for i in range(count):
    folder = os.path.join(root, "p%03d" % (i // 10000), "d%03d" % (i // 100 % 100))
    if i % 100 == 0:
        os.makedirs(folder, exist_ok=True)
    size = rng.randint(1024, 4096)
    lines, total = [], 0
    while total < size:
        line = " " * rng.choice((0, 4, 8)) + " ".join(rng.choice(words) for _ in range(rng.randint(3, 9))) + "\n"
        lines.append(line)
        total += len(line)
    with open(os.path.join(folder, "f%06d.js" % i), "w") as f:
        f.write("".join(lines)[:size])
PY
}

# "wall cpu" of one command: elapsed seconds, and user plus system seconds of all its threads.
# The wall time is taken to the millisecond around time(1), whose own figure has only two
# decimals: a tenth of a second's test would otherwise be rounded by up to 1.7%.
seconds() {
    local start=${EPOCHREALTIME/,/.}
    /usr/bin/time -f '%U %S' -o "$WORK/time.txt" "$@" >/dev/null
    local end=${EPOCHREALTIME/,/.}
    awk -v wall="$(echo "$end - $start" | bc -l)" '{ printf "%.3f %.2f\n", wall, $1 + $2 }' \
        "$WORK/time.txt"
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# NAME COMMAND...: runs COMMAND RUNS times (in WORK, after clearing WORK/out) and keeps the medians
# of wall and CPU time in wall_NAME and cpu_NAME.
declare -A wall cpu
timed() {
    local name=$1 walls=() cpus=() w c
    shift
    for _ in $(seq "$RUNS"); do
        rm -rf "$WORK/out" "$WORK/new.vorn" "$WORK/new.zip"
        read -r w c < <(cd "$WORK/tree" && seconds "$@")
        walls+=("$w")
        cpus+=("$c")
    done
    wall[$name]=$(printf '%s\n' "${walls[@]}" | median)
    cpu[$name]=$(printf '%s\n' "${cpus[@]}" | median)
}

for count in "${COUNTS[@]}"; do
    tree=$WORK/files-$count
    [ -d "$tree" ] || make_tree "$count" "$tree"
    rm -f "$WORK/tree" && ln -s "$tree" "$WORK/tree"
    # The slash makes find enter a tree that WORK only links to.
    bytes=$(find "$tree/" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
    (cd "$tree" && "$VORN" pack -q "$WORK/small.vorn" . && zip -q -r -6 "$WORK/small.zip" .)
    echo "$count files, $bytes bytes; vorn $(stat -c %s "$WORK/small.vorn") bytes," \
        "zip -6 $(stat -c %s "$WORK/small.zip") bytes; load $(cut -d' ' -f1-3 /proc/loadavg)"
    timed vorn_pack "$VORN" pack -q "$WORK/new.vorn" .
    timed zip_pack zip -q -r -6 "$WORK/new.zip" .
    timed vorn_test "$VORN" test -q "$WORK/small.vorn"
    timed unzip_test unzip -tq "$WORK/small.zip"
    timed vorn_extract "$VORN" extract -q -o "$WORK/out" "$WORK/small.vorn"
    timed unzip_extract unzip -q -d "$WORK/out" "$WORK/small.zip"
    timed vorn_pack_1 "$VORN" pack -q --jobs 1 "$WORK/new.vorn" .
    timed vorn_test_1 "$VORN" test -q --jobs 1 "$WORK/small.vorn"
    rm -rf "$WORK/out" "$WORK/new.vorn" "$WORK/new.zip"
    printf '  %-30s %8s %8s\n' "command (median of $RUNS)" "wall s" "cpu s"
    for name in vorn_pack zip_pack vorn_test unzip_test vorn_extract unzip_extract vorn_pack_1 vorn_test_1; do
        printf '  %-30s %8s %8s\n' "$name" "${wall[$name]}" "${cpu[$name]}"
    done
    printf '  pack: vorn / zip -r -6 wall %.2f; test: unzip -t / vorn %.2f; extract: unzip / vorn %.2f\n' \
        "$(echo "${wall[vorn_pack]} / ${wall[zip_pack]}" | bc -l)" \
        "$(echo "${wall[unzip_test]} / ${wall[vorn_test]}" | bc -l)" \
        "$(echo "${wall[unzip_extract]} / ${wall[vorn_extract]}" | bc -l)"
    printf '  CPU per entry with --jobs 1: pack %.0f us, test %.0f us\n' \
        "$(echo "${cpu[vorn_pack_1]} * 1000000 / $count" | bc -l)" \
        "$(echo "${cpu[vorn_test_1]} * 1000000 / $count" | bc -l)"
    [ "${KEEP_TREE:-0}" = 1 ] || rm -rf "$tree"
done
