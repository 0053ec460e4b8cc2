#!/usr/bin/env bash
# Many small entries through the command-line tool: packs 10,000 and 100,000 small files (200 to
# 1,200 bytes, spread over folders of 1,000) with "vorn pack", then times "vorn extract" of all of
# them into a fresh folder and reports the time per entry of both, which should be about the same.
#
#   bench/large_archive_extract.sh [VORN]
#
# VORN defaults to build/release/tools/vorn. RUNS (default 3) sets the runs per size; the median is
# reported. WORK (default a new folder in /tmp) holds the files, archives and copies; removed at
# the end.
set -euo pipefail

VORN=$(realpath "${1:-build/release/tools/vorn}")
RUNS=${RUNS:-3}
WORK=${WORK:-$(mktemp -d /tmp/vorn-large-bench.XXXXXX)}
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT

make_files() {  # COUNT FOLDER
    python3 - "$1" "$2" <<'EOF'
import os, random, sys
count, root = int(sys.argv[1]), sys.argv[2]
words = [b"archive ", b"entry ", b"block ", b"name ", b"folder ", b"stored ", b"packed ", b"table "]
rng = random.Random(count)
for i in range(count):
    folder = os.path.join(root, "d%03d" % (i // 1000))
    if i % 1000 == 0:
        os.makedirs(folder, exist_ok=True)
    size = 200 + (i * 7919) % 1000
    data = b"".join(rng.choice(words) for _ in range(size // 5 + 1))[:size]
    with open(os.path.join(folder, "f%06d.txt" % i), "wb") as f:
        f.write(data)
EOF
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

for count in 10000 100000; do
    make_files "$count" "$WORK/files-$count"
    (cd "$WORK/files-$count" && "$VORN" pack -q "$WORK/entries-$count.vorn" .)
    rm -rf "$WORK/files-$count"
    times=()
    for run in $(seq "$RUNS"); do
        rm -rf "$WORK/out"
        sync
        start=$(date +%s.%N)
        "$VORN" extract -q -o "$WORK/out" "$WORK/entries-$count.vorn"
        end=$(date +%s.%N)
        times+=("$(echo "$end - $start" | bc -l)")
    done
    got=$(find "$WORK/out" -type f | wc -l)
    [ "$got" -eq "$count" ] || { echo "extracted $got files of $count" >&2; exit 1; }
    rm -rf "$WORK/out"
    m=$(printf '%s\n' "${times[@]}" | median)
    printf '%6d entries: runs %s s, median %.3f s, %.1f us per entry\n' "$count" \
        "$(printf '%.3f ' "${times[@]}")" "$m" "$(echo "$m * 1000000 / $count" | bc -l)"
done
