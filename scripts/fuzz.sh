#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a while, starting from its
# seed corpus. New inputs go to a scratch corpus; crashes are left as
# crash-* files in the build folder and make the script fail.
set -euo pipefail
build=$(cd "${1:-build-fuzz}" && pwd)
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for target in "$build"/fuzz/*_fuzz; do
  [[ -x "$target" ]] || continue
  name=$(basename "$target" _fuzz)
  scratch="$build/fuzz-corpus/$name"
  mkdir -p "$scratch"
  echo "== fuzzing $name for ${seconds}s"
  if ! ("$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
          -artifact_prefix="$build/crash-$name-" "$scratch" "$root/fuzz/corpus/$name" > "$build/fuzz-$name.log" 2>&1); then
    tail -n 20 "$build/fuzz-$name.log"
    status=1
  else
    grep -E '^(Done|#[0-9]+ *DONE)' "$build/fuzz-$name.log" | tail -n 1
  fi
done
exit $status
