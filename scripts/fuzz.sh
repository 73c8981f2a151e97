#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a while, starting from its
# seed corpus. New inputs go to a scratch corpus; crashes are left as
# crash-* files in the build folder and make the script fail.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for target in "$build"/fuzz/*_fuzz; do
  [[ -x "$target" ]] || continue
  name=$(basename "$target" _fuzz)
  scratch="$build/fuzz-corpus/$name"
  mkdir -p "$scratch"
  echo "== fuzzing $name for ${seconds}s"
  if ! (cd "$build" && "$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
          -artifact_prefix="$build/crash-$name-" "$scratch" "$root/fuzz/corpus/$name" 2>&1 | tail -n 3); then
    status=1
  fi
done
exit $status
