#!/usr/bin/env bash
# Builds the libFuzzer target with clang into build-fuzz, writes the seed programs and
# fuzzes the whole program; fails on any finding (crash, leak, timeout, sanitizer report).
#
#   tools/fuzz.sh [SECONDS] [libFuzzer options...]      (SECONDS defaults to 120)
#
# FUZZ_WORKERS=N runs N fuzzer processes side by side on the same corpus (default 1).
# FUZZ_SEEDS=small leaves out the programs of ../shared/corpus (up to 1 MB, a second or more
# per run under the sanitizers), so that the fuzzer spends its time on small programs.
# The corpus grows in build-fuzz/fuzz-corpus and is reused by later runs; findings land
# in build-fuzz/fuzz-findings, and each process logs to build-fuzz/fuzz-N.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-120}
shift || true
workers=${FUZZ_WORKERS:-1}
seed_set=${FUZZ_SEEDS:-all}
build=$root/build-fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DPROGS2QC_FUZZ=ON -DPROGS2QC_TESTS=OFF \
  -DPROGS2QC_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzz_decompiler make_seeds

seeds=$build/fuzz-seeds
corpus=$build/fuzz-corpus
findings=$build/fuzz-findings
rm -rf "$seeds" "$findings"
mkdir -p "$seeds" "$corpus" "$findings"
"$build/make_seeds" "$seeds"
if [ "$seed_set" != small ] && [ -d "$root/../shared/corpus" ]; then
  find "$root/../shared/corpus" -maxdepth 1 -type f -name '*.dat' -exec cp {} "$seeds/" \;
fi
# fuzz/shapes.qc compiled by the compilers that are there: small programs laid out the way
# each compiler lays out code, for the compilable engine to start from.
shapes=$build/fuzz-shapes
rm -rf "$shapes"
mkdir -p "$shapes"
cp "$root/fuzz/shapes.qc" "$shapes/"
qcc_source=$root/../shared/tools/qcc
if [ -f "$qcc_source/qcc.c" ] && command -v cc >/dev/null; then
  cc -O1 -w -o "$shapes/qcc" "$qcc_source"/{qcc.c,pr_lex.c,pr_comp.c,cmdlib.c} -lm
  printf 'shapes-qcc.dat\nshapes.qc\n' >"$shapes/progs.src"
  (cd "$shapes" && ./qcc >/dev/null) && cp "$shapes/shapes-qcc.dat" "$seeds/"
fi
if command -v fteqcc >/dev/null; then
  for level in 0 1 2 3; do
    printf 'shapes-fteqcc-O%s.dat\nshapes.qc\n' "$level" >"$shapes/progs.src"
    (cd "$shapes" && fteqcc -O"$level" >/dev/null 2>&1) && cp "$shapes/shapes-fteqcc-O$level.dat" "$seeds/"
  done
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
pids=()
for ((n = 1; n <= workers; n++)); do
  "$build/fuzz_decompiler" -max_total_time="$seconds" -max_len=1048576 -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/" "$@" "$corpus" "$seeds" \
    >"$build/fuzz-$n.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
# A fuzzer that crashed leaves its scratch directory behind.
for ((n = 1; n <= workers; n++)); do
  sed -n 's|^fuzz_decompiler: scratch directory \(/tmp/progs2qc-fuzz-[A-Za-z0-9]*\)$|\1|p' \
    "$build/fuzz-$n.log" | xargs -r rm -rf
done
for ((n = 1; n <= workers; n++)); do
  grep -E '^(stat::|#[0-9]+[[:space:]]+DONE)' "$build/fuzz-$n.log" | sed "s/^/worker $n: /" || true
done
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
  echo "fuzzing found a problem: see $build/fuzz-*.log and $findings" >&2
  for ((n = 1; n <= workers; n++)); do
    tail -n 60 "$build/fuzz-$n.log" >&2
  done
  exit 1
fi
echo "fuzzing: no findings"
