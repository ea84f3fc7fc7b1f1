#!/bin/bash
# Runs wipe_bench on loop devices attached here to images on tmpfs, and
# detaches them afterwards (also on failure or interruption).
# Usage: run_wipe_bench.sh BUILD_DIR [MiB [RUNS [PASSES]]]
#        run_wipe_bench.sh BUILD_DIR --drives N [MiB]   (N drives wiped at once)
set -euo pipefail
build=${1:?build directory with bench/wipe_bench}
drives=0
if [ "${2:-}" = "--drives" ]; then
  drives=${3:?number of drives}
  mib=${4:-128}
else
  mib=${2:-1024}
  runs=${3:-3}
fi
imgs=()
loops=()
cleanup() {
  for l in "${loops[@]}"; do losetup -d "$l" || true; done
  rm -f "${imgs[@]}"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
attach() {
  local img
  img=$(mktemp /dev/shm/zv-wipe-bench.XXXXXX)
  imgs+=("$img")
  truncate -s "${mib}M" "$img"
  loops+=("$(losetup -f --show "$img")")
}
if [ "$drives" -gt 0 ]; then
  for _ in $(seq "$drives"); do attach; done
  "$build/bench/wipe_bench" --drives "${loops[@]}"
  exit
fi
attach
loop=${loops[0]}
echo "dd to $loop (sequential write, 16 MiB blocks, O_DIRECT):"
dd if=/dev/zero of="$loop" bs=16M count=$((mib / 16)) oflag=direct 2>&1 | tail -1
dd if=/dev/zero of="$loop" bs=16M count=$((mib / 16)) oflag=direct 2>&1 | tail -1
"$build/bench/wipe_bench" "$loop" "$mib" "$runs" ${4:+"$4"}
