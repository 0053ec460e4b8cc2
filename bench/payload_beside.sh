#!/usr/bin/env bash
# A payload past 4 GiB: a 5 GiB sparse file packed as a Linux self-extractor with its archive
# beside it, compressed (zeros, so the archive is small) and stored (so the archive is 5 GiB and
# the self-extractor's start check hashes all of it); the listings; and the refusal of the same
# payload as one program file. Reports wall time and peak RSS of each step, which must stay
# bounded (megabytes, not gigabytes), and fails when a step does not do what it should.
#
#   bench/payload_beside.sh [VORN [STUB]]
#
# VORN defaults to build/release/tools/vorn, STUB to build/release/sfx/vornsfx. WORK (default a
# new folder in /tmp) holds the files, about 10 GiB at most on disk; removed at the end.
set -euo pipefail

VORN=$(realpath "${1:-build/release/tools/vorn}")
STUB=$(realpath "${2:-build/release/sfx/vornsfx}")
WORK=${WORK:-$(mktemp -d /tmp/vorn-beside-bench.XXXXXX)}
mkdir -p "$WORK/src"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
truncate -s 5G src/payload.bin

# STEP NAME EXPECTED-EXIT COMMAND...: runs it, prints seconds and peak RSS in MiB.
step() {
    local name=$1 expected=$2
    shift 2
    set +e
    /usr/bin/time -f '%e %M' -o time.txt "$@" > out.txt 2> err.txt
    local code=$?
    set -e
    read -r seconds kib < <(tail -1 time.txt)
    printf '%-40s exit %d  %7.1f s  %6d MiB peak\n' "$name" "$code" "$seconds" $((kib / 1024))
    if [ "$code" -ne "$expected" ]; then
        echo "payload_beside: $name ended with $code, not $expected" >&2
        cat err.txt >&2
        exit 1
    fi
}

step "pack --payload-beside (compressed)" 0 "$VORN" pack -q --sfx-stub "$STUB" --payload-beside \
    small.run src
step "vorn list small.vorn" 0 "$VORN" list small.vorn
step "small.run --list (start check)" 0 ./small.run --list
step "pack --payload-beside --store" 0 "$VORN" pack -q --store --sfx-stub "$STUB" \
    --payload-beside big.run src
echo "archive beside: $(stat -c %s big.vorn) bytes"
step "big.run --list (hashes 5 GiB)" 0 ./big.run --list
step "pack --store as one file (refused)" 2 "$VORN" pack -q --store --sfx-stub "$STUB" one.run src
grep -q -- --payload-beside err.txt || { echo "payload_beside: the refusal names no option" >&2; exit 1; }
[ ! -e one.run ] || { echo "payload_beside: the refused program was left behind" >&2; exit 1; }
