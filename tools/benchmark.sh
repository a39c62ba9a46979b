#!/usr/bin/env bash
# Times whole runs on generated programs of 1/8, 1/4, 1/2 and the full format scale.
#
# Builds Release in build-bench (and, when CMakeLists.txt has the PROGS2QC_USE_SCANS option,
# a second build in build-bench-scans where every lookup scans its table), generates the
# four programs with make_large, runs each build on each program three times in fresh
# directories, and prints the best wall time, CPU time (user + sys), peak memory (max RSS),
# the I/O floor (io_floor: the same input read and output written with the same number of
# open/close cycles), the ratio run/floor and the speed-up of the indexed build over the
# scans. Every run must end with status 0 and no "Fatal Error"; both builds' output files
# and console text must be byte-identical. Run it from anywhere: tools/benchmark.sh
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-5}
SIZES=(1 2 4 8)
JOBS=$(nproc 2>/dev/null || echo 2)
WORK=build-bench/bench

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
binary() { [[ $1 == indexed ]] && echo build-bench/progs2qc || echo build-bench-scans/progs2qc; }

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
for size in "${SIZES[@]}"; do
  input="$PWD/$WORK/progs-$size.dat"
  build-bench/make_large "$size" "$input"
  declare -A wall=() cpu=() rss=()
  for build in "${builds[@]}"; do
    program="$PWD/$(binary "$build")"
    walls=() cpus=() rsses=()
    for run in $(seq 1 "$RUNS"); do
      dir="$WORK/run-$size-$build"
      rm -rf "$dir"
      mkdir -p "$dir"
      sync  # so that writing back the previous run's files does not fall into this one
      (cd "$dir" && "$PWD/../measure" ../time.txt "$program" "$input" >../console-$size-$build.txt)
      read -r w u s m status <"$WORK/time.txt"
      console="$WORK/console-$size-$build.txt"
      [[ $status == 0 ]] || fail "$build on size $size/8 ended with status $status"
      if grep -q 'Fatal Error' "$console"; then
        fail "$build on size $size/8: $(grep 'Fatal Error' "$console" | head -n 1)"
      fi
      walls+=("$w")
      cpus+=("$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.6f", u + s }')")
      rsses+=("$m")
    done
    wall[$build]=$(best "${walls[@]}")
    cpu[$build]=$(best "${cpus[@]}")
    rss[$build]=$(largest "${rsses[@]}")
  done
  if [[ ${#builds[@]} == 2 ]]; then
    diff -r "$WORK/run-$size-indexed" "$WORK/run-$size-scans" >/dev/null ||
      fail "size $size/8: the two builds wrote different files"
    cmp -s "$WORK/console-$size-indexed.txt" "$WORK/console-$size-scans.txt" ||
      fail "size $size/8: the two builds printed different console text"
  fi
  floors=()
  for run in $(seq 1 "$RUNS"); do
    sync
    line=$(build-bench/io_floor "$input" "$WORK/run-$size-indexed" "$WORK")
    floors+=("$(sed -n 's/.*wall=\([0-9.]*\).*/\1/p' <<<"$line")")
    cycles=$(sed -n 's/.*cycles=\([0-9]*\).*/\1/p' <<<"$line")
  done
  floor=$(best "${floors[@]}")
  functions=$(awk '/numfunctions/ { print $1 }' "$WORK/console-$size-indexed.txt")
  [[ $cycles == "$functions" ]] ||
    fail "size $size/8: io_floor made $cycles open/close cycles for $functions function records"
  statements=$(awk '/numstatements/ { print $1 }' "$WORK/console-$size-indexed.txt")
  for build in "${builds[@]}"; do
    speedup="-"
    if [[ $build == indexed && ${#builds[@]} == 2 ]]; then
      speedup=$(awk -v s="${wall[scans]}" -v i="${wall[indexed]}" 'BEGIN { printf "%.1fx", s / i }')
    fi
    table+=("$(awk -v size="$size/8" -v st="$statements" -v b="$build" -v w="${wall[$build]}" \
      -v c="${cpu[$build]}" -v m="${rss[$build]}" -v f="$floor" -v sp="$speedup" 'BEGIN {
        printf "%-5s %6d  %-8s %9.3f %9.3f %8.1f %9.3f %9.1fx %9s", size, st, b, w, c, m / 1024,
               f, w / f, sp }')")
  done
  unset wall cpu rss
done

echo
echo "Best of $RUNS runs; every run status 0, no Fatal Error; both builds' outputs identical."
printf '%-5s %6s  %-8s %9s %9s %8s %9s %10s %9s\n' size stmts build wall_s cpu_s rss_MB \
  floor_s run/floor speed-up
printf '%s\n' "${table[@]}"
