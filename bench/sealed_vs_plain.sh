#!/usr/bin/env bash
# What sealing costs a reader, in one run on this machine:
#   one password check: "vorn list" of a sealed archive (default key derivation, m = 64 MiB,
#     t = 3, p = 1) with a wrong password, which ends at the first tag after one derivation;
#   "vorn test" of the corpus packed sealed against the same corpus packed plain (same level),
#     on every core and pinned to one, with the peak resident memory of each; the sealed run
#     includes its one key derivation.
#
#   bench/sealed_vs_plain.sh [VORN] [CORPUS]
#
# VORN defaults to build/release/tools/vorn, CORPUS to $VORN_CORPUS or ./corpus. RUNS (default 5)
# sets the timed runs of each command; medians are compared. COPIES (default 1) packs that many
# copies of the corpus (hard links) into each archive: the one derivation is a cost per open, and
# a larger archive shows how far it is spread. WORK (default a new folder in /tmp)
# holds the archives and is removed at the end.
set -euo pipefail

VORN=$(realpath "${1:-build/release/tools/vorn}")
CORPUS=$(realpath "${2:-${VORN_CORPUS:-corpus}}")
RUNS=${RUNS:-5}
WORK=${WORK:-$(mktemp -d /tmp/vorn-sealed-bench.XXXXXX)}
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT
for tool in taskset /usr/bin/time bc; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done

# Elapsed seconds and peak RSS in KiB of one command; its output and exit code are not kept. A
# command that fails (the wrong password does) makes time write a line of its own first.
measure() {
    /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true
    tail -n 1 "$WORK/time.txt"
}
median() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# Median seconds and the largest peak RSS (MiB) of RUNS runs of a command.
timed() {
    : >"$WORK/runs.txt"
    for _ in $(seq "$RUNS"); do measure "$@" >>"$WORK/runs.txt"; done
    printf '%s %s\n' "$(cut -d' ' -f1 "$WORK/runs.txt" | median)" \
        "$(cut -d' ' -f2 "$WORK/runs.txt" | sort -n | tail -1 | awk '{ printf "%.1f", $1 / 1024 }')"
}

COPIES=${COPIES:-1}
mkdir -p "$WORK/tree"
for copy in $(seq "$COPIES"); do cp -al "$CORPUS" "$WORK/tree/$copy"; done
"$VORN" pack -q "$WORK/plain.vorn" "$WORK/tree"
"$VORN" pack -q -p bench-password "$WORK/sealed.vorn" "$WORK/tree"
echo "corpus: $COPIES x $(du -sb "$CORPUS" | cut -f1) bytes; plain $(stat -c %s "$WORK/plain.vorn")," \
    "sealed $(stat -c %s "$WORK/sealed.vorn") bytes; $RUNS runs each, medians"

read -r check checkRss < <(timed "$VORN" list -p wrong-password "$WORK/sealed.vorn")
echo "password check (vorn list, wrong password): ${check} s, peak ${checkRss} MiB (target >= 0.1 s)"

for pin in "" "taskset -c 0"; do
    read -r plain plainRss < <(timed $pin "$VORN" test -q "$WORK/plain.vorn")
    read -r sealed sealedRss < <(timed $pin "$VORN" test -q -p bench-password "$WORK/sealed.vorn")
    echo "vorn test ${pin:+(pinned to core 0) }plain ${plain} s (${plainRss} MiB), sealed" \
        "${sealed} s (${sealedRss} MiB): speed ratio $(echo "scale=3; $plain / $sealed" | bc)" \
        "(target >= 0.7); without the derivation" \
        "$(echo "scale=3; $plain / ($sealed - $check)" | bc)"
done
