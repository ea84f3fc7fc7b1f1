#!/bin/bash
# Runs wipe_bench on a loop device attached here to an image on tmpfs, and
# detaches it afterwards. Usage: run_wipe_bench.sh BUILD_DIR [MiB [RUNS [PASSES]]]
set -euo pipefail
build=${1:?build directory with bench/wipe_bench}
mib=${2:-1024}
runs=${3:-3}
img=$(mktemp /dev/shm/zv-wipe-bench.XXXXXX)
loop=""
cleanup() {
  if [ -n "$loop" ]; then losetup -d "$loop"; fi
  rm -f "$img"
}
trap cleanup EXIT
truncate -s "${mib}M" "$img"
loop=$(losetup -f --show "$img")
echo "dd to $loop (sequential write, 16 MiB blocks, O_DIRECT):"
dd if=/dev/zero of="$loop" bs=16M count=$((mib / 16)) oflag=direct 2>&1 | tail -1
dd if=/dev/zero of="$loop" bs=16M count=$((mib / 16)) oflag=direct 2>&1 | tail -1
"$build/bench/wipe_bench" "$loop" "$mib" "$runs" ${4:+"$4"}
