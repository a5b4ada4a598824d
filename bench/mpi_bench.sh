#!/usr/bin/env bash
# Times the parallel mode across the ranks of an MPI job against one process with as many
# workers: `mpirun -n 2 boardmill convert ... --max-threads 1` against `boardmill convert ...
# --parallel --max-threads 2`, on 8 x scale files of 500,000 positions of the benchmark data set,
# and prints the median wall time of each and their ratio. Starting an MPI job costs some 0.3 s
# here, which a larger scale spreads. Runs write to memory (/dev/shm) when it has room.
# Usage: bench/mpi_bench.sh [runs] [ranks] [scale]   (defaults 5, 2 and 1)
set -euo pipefail

runs=${1:-5}
ranks=${2:-2}
scale=${3:-1}
[[ $runs =~ ^[1-9][0-9]*$ && $ranks =~ ^[1-9][0-9]*$ && $scale =~ ^[1-9][0-9]*$ ]] || {
  echo "usage: $0 [runs] [ranks] [scale]" >&2
  exit 1
}
command -v mpirun >/dev/null || { echo "missing mpirun (Debian package openmpi-bin)" >&2; exit 1; }

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/bench_lib.sh"
work=$repo/build/convert-bench
build_bench_data "$scale" "$work/data-x$scale"
input=$work/data-x$scale/input

boardmill=${BOARDMILL_BIN:-}
if [[ -z $boardmill ]]; then
  (cd "$repo" && cmake --preset release && cmake --build --preset release --target boardmill-mpi) \
    >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log" >&2; exit 1; }
  boardmill=$repo/build/release/boardmill-mpi
fi
output=/dev/shm/boardmill-mpi-bench-output
[[ -d /dev/shm ]] || output=$work/mpi-bench-output
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
mpirun=(mpirun --oversubscribe --mca btl self,vader --mca btl_vader_single_copy_mechanism none
        -n "$ranks")

alone=()
job=()
for ((run = 1; run <= runs; ++run)); do
  rm -rf "$output"
  read -r seconds _ < <(timed "$boardmill" convert "$input" "$output" --parallel \
    --max-threads "$ranks" --min-free-space-gib 0)
  alone+=("$seconds")
  rm -rf "$output"
  read -r seconds _ < <(timed "${mpirun[@]}" "$boardmill" convert "$input" "$output" \
    --max-threads 1 --min-free-space-gib 0)
  job+=("$seconds")
  echo "  run $run: one process ${alone[-1]} s, $ranks ranks ${job[-1]} s"
done
rm -rf "$output"
alone_median=$(printf '%s\n' "${alone[@]}" | median)
job_median=$(printf '%s\n' "${job[@]}" | median)
awk -v a="$alone_median" -v j="$job_median" -v r="$ranks" 'BEGIN {
  printf "one process, %d workers: %.3f s; %d ranks of 1 worker: %.3f s; ratio %.3f\n", r, a, r, j, j / a }'
