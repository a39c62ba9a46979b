#!/usr/bin/env bash
# Times whole runs of both engines on generated programs of 1/8, 1/4, 1/2 and the full
# format scale.
#
# Builds Release in build-bench (and, when CMakeLists.txt has the PROGS2QC_USE_SCANS option,
# a second build in build-bench-scans where every lookup scans its table), generates the
# four programs with make_large, runs the classic engine of each build and the compilable
# engine (-c) on each program RUNS times (default 5) in fresh directories, and prints the
# best wall time, the best CPU time (user + sys), the peak memory (max RSS) over the runs,
# the I/O floor of the classic engine (io_floor: the same input read and output written
# with the same number of open/close cycles), the ratio run/floor and the speed-up of the
# indexed build over the scans; then, for each size, the compilable engine's time against
# the classic engine's, and at the full scale whether it keeps to at most twice the classic
# engine's time and under 128 MiB. Every run must end with status 0 and no "Fatal Error";
# both classic builds' output files and console text must be byte-identical, and the
# compilable engine must write every function record. Run it from anywhere:
# tools/benchmark.sh
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-5}
SIZES=(1 2 4 8)
JOBS=$(nproc 2>/dev/null || echo 2)
WORK=build-bench/bench
LIMIT_RATIO=2
LIMIT_MIB=128

builds=(indexed)
configure() {
  cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=Release -DPROGS2QC_TESTS=OFF "${@:2}" >/dev/null
  cmake --build "$1" -j "$JOBS" --target progs2qc make_large io_floor >/dev/null
}
if grep -q 'PROGS2QC_USE_SCANS' CMakeLists.txt; then
  echo "== building build-bench (Release)" >&2
  configure build-bench -DPROGS2QC_USE_SCANS=OFF
  echo "== building build-bench-scans (Release, PROGS2QC_USE_SCANS=ON)" >&2
  configure build-bench-scans -DPROGS2QC_USE_SCANS=ON
  builds+=(scans)
else
  echo "== building build-bench (Release); no PROGS2QC_USE_SCANS option, so no scans build" >&2
  configure build-bench
fi
# The runs: classic engine of each build, then the compilable engine of the indexed build
# (the scans change only lookups of the classic engine).
kinds=(classic)
[[ ${#builds[@]} == 2 ]] && kinds+=(classic-scans)
kinds+=(compilable)
binary() { [[ $1 == classic-scans ]] && echo build-bench-scans/progs2qc || echo build-bench/progs2qc; }
options() { [[ $1 == compilable ]] && echo "-c" || true; }

# Wall time, user and system time and max RSS of a child, from wait4().
rm -rf "$WORK"
mkdir -p "$WORK"
cat >"$WORK/measure.cpp" <<'EOF'
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <cstdio>
int main(int argc, char** argv) {
  if (argc < 3) return 2;
  timespec start, stop;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = fork();
  if (pid == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  clock_gettime(CLOCK_MONOTONIC, &stop);
  FILE* out = fopen(argv[1], "w");
  if (out == nullptr) return 2;
  fprintf(out, "%.6f %.6f %.6f %ld %d\n",
          (stop.tv_sec - start.tv_sec) + (stop.tv_nsec - start.tv_nsec) / 1e9,
          usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
          usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6, usage.ru_maxrss,
          WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return fclose(out) == 0 ? 0 : 2;
}
EOF
${CXX:-c++} -O2 -o "$WORK/measure" "$WORK/measure.cpp"

fail() {
  echo "benchmark: $*" >&2
  exit 1
}

# best VALUES...: the smallest number.
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
largest() { printf '%s\n' "$@" | sort -g | tail -n 1; }

table=()
comparison=()
verdict=()
for size in "${SIZES[@]}"; do
  input="$PWD/$WORK/progs-$size.dat"
  build-bench/make_large "$size" "$input"
  declare -A wall=() cpu=() rss=()
  for kind in "${kinds[@]}"; do
    program="$PWD/$(binary "$kind")"
    walls=() cpus=() rsses=()
    for run in $(seq 1 "$RUNS"); do
      dir="$WORK/run-$size-$kind"
      rm -rf "$dir"
      mkdir -p "$dir"
      sync  # so that writing back the previous run's files does not fall into this one
      # shellcheck disable=SC2046
      (cd "$dir" && "$PWD/../measure" ../time.txt "$program" $(options "$kind") "$input" \
        >../console-$size-$kind.txt)
      read -r w u s m status <"$WORK/time.txt"
      console="$WORK/console-$size-$kind.txt"
      [[ $status == 0 ]] || fail "$kind on size $size/8 ended with status $status"
      if grep -q 'Fatal Error' "$console"; then
        fail "$kind on size $size/8: $(grep 'Fatal Error' "$console" | head -n 1)"
      fi
      walls+=("$w")
      cpus+=("$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.6f", u + s }')")
      rsses+=("$m")
    done
    wall[$kind]=$(best "${walls[@]}")
    cpu[$kind]=$(best "${cpus[@]}")
    rss[$kind]=$(largest "${rsses[@]}")
  done
  if [[ ${#builds[@]} == 2 ]]; then
    diff -r "$WORK/run-$size-classic" "$WORK/run-$size-classic-scans" >/dev/null ||
      fail "size $size/8: the two builds wrote different files"
    cmp -s "$WORK/console-$size-classic.txt" "$WORK/console-$size-classic-scans.txt" ||
      fail "size $size/8: the two builds printed different console text"
  fi
  functions=$(awk '/numfunctions/ { print $1 }' "$WORK/console-$size-classic.txt")
  grep -q "^$((functions - 1)) functions written in " "$WORK/console-$size-compilable.txt" ||
    fail "size $size/8: the compilable engine did not write all $((functions - 1)) functions"
  floors=()
  for run in $(seq 1 "$RUNS"); do
    sync
    line=$(build-bench/io_floor "$input" "$WORK/run-$size-classic" "$WORK")
    floors+=("$(sed -n 's/.*wall=\([0-9.]*\).*/\1/p' <<<"$line")")
    cycles=$(sed -n 's/.*cycles=\([0-9]*\).*/\1/p' <<<"$line")
  done
  floor=$(best "${floors[@]}")
  [[ $cycles == "$functions" ]] ||
    fail "size $size/8: io_floor made $cycles open/close cycles for $functions function records"
  statements=$(awk '/numstatements/ { print $1 }' "$WORK/console-$size-classic.txt")
  for kind in "${kinds[@]}"; do
    speedup="-"
    if [[ $kind == classic && ${#builds[@]} == 2 ]]; then
      speedup=$(awk -v s="${wall[classic-scans]}" -v i="${wall[classic]}" \
        'BEGIN { printf "%.1fx", s / i }')
    fi
    floor_text=$floor
    ratio=$(awk -v w="${wall[$kind]}" -v f="$floor" 'BEGIN { printf "%.1fx", w / f }')
    if [[ $kind == compilable ]]; then
      floor_text="-"  # io_floor counts the classic engine's open/close cycles
      ratio="-"
    fi
    table+=("$(awk -v size="$size/8" -v st="$statements" -v k="$kind" -v w="${wall[$kind]}" \
      -v c="${cpu[$kind]}" -v m="${rss[$kind]}" -v f="$floor_text" -v r="$ratio" \
      -v sp="$speedup" 'BEGIN {
        printf "%-5s %6d  %-13s %9.3f %9.3f %8.1f %9s %10s %9s", size, st, k, w, c, m / 1024,
               f, r, sp }')")
  done
  comparison+=("$(awk -v size="$size/8" -v cw="${wall[compilable]}" -v kw="${wall[classic]}" \
    -v cc="${cpu[compilable]}" -v kc="${cpu[classic]}" -v m="${rss[compilable]}" 'BEGIN {
      printf "%-5s %14.2fx %14.2fx %16.1f", size, cw / kw, cc / kc, m / 1024 }')")
  if [[ $size == 8 ]]; then
    verdict+=("$(awk -v cw="${wall[compilable]}" -v kw="${wall[classic]}" \
      -v cc="${cpu[compilable]}" -v kc="${cpu[classic]}" -v m="${rss[compilable]}" \
      -v limit="$LIMIT_RATIO" -v mib="$LIMIT_MIB" 'BEGIN {
        wr = cw / kw; cr = cc / kc; mem = m / 1024
        printf "full scale: compilable/classic wall %.2fx, CPU %.2fx (goal: at most %dx): %s\n",
               wr, cr, limit, (wr <= limit && cr <= limit) ? "met" : "NOT MET"
        printf "full scale: compilable peak memory %.1f MiB (goal: under %d MiB): %s",
               mem, mib, mem < mib ? "met" : "NOT MET" }')")
  fi
  unset wall cpu rss
done

echo
echo "Best of $RUNS runs (time), largest of them (memory); every run status 0, no Fatal Error;"
echo "both classic builds' outputs identical; the compilable engine wrote every function."
printf '%-5s %6s  %-13s %9s %9s %8s %9s %10s %9s\n' size stmts engine wall_s cpu_s rss_MiB \
  floor_s run/floor speed-up
printf '%s\n' "${table[@]}"
echo
printf '%-5s %15s %15s %16s\n' size "wall comp/clas" "cpu comp/clas" "comp_rss_MiB"
printf '%s\n' "${comparison[@]}"
echo
printf '%s\n' "${verdict[@]}"
