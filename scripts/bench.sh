#!/usr/bin/env bash
# Runs every benchmark program of a build folder (executables named *_bench),
# one after another. Exits non-zero when any of them fails or none is found.
# Usage: scripts/bench.sh <build-dir> [benchmark flags...]
set -uo pipefail

if [[ $# -lt 1 || ! -d "$1" ]]; then
  echo "usage: $0 <build-dir> [benchmark flags...]" >&2
  exit 2
fi
build_dir=$1
shift

mapfile -t programs < <(find "$build_dir" -maxdepth 1 -type f -name '*_bench' -perm -u+x | sort)
if [[ ${#programs[@]} -eq 0 ]]; then
  echo "bench: no *_bench programs in $build_dir (configure with -DKDR_BENCH=ON)" >&2
  exit 1
fi

failed=()
for program in "${programs[@]}"; do
  echo "==> $(basename "$program")"
  if ! "$program" "$@"; then
    failed+=("$(basename "$program")")
  fi
  echo
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "bench: failed: ${failed[*]}" >&2
  exit 1
fi
echo "bench: ${#programs[@]} program(s) ran"
