#!/usr/bin/env bash
# The main job on the bundled sample world: generate it, convert it in the
# three modes, show each archive and the motion kinematics asset, verify.
# Usage: scripts/demo.sh [build-dir]
set -euo pipefail
build=${1:-build}
kdr="$build/kdr"
out="$build/demo"
world="$out/world"

step() { printf '\n== %s\n' "$*"; }

rm -rf "$out"
mkdir -p "$out"

step "sample_world $world"
"$build/sample_world" "$world"

for mode in full pruned micro; do
  step "kdr convert --mode $mode"
  "$kdr" convert --portal "$world/portal" --cell "$world/cell" --mode "$mode" -o "$out/world-$mode.kdr"
done

for mode in full pruned micro; do
  step "kdr info world-$mode.kdr"
  "$kdr" info "$out/world-$mode.kdr"
done

step "kdr cat world-full.kdr kelvadorin/core 0x4D4F544B (the motion kinematics asset)"
# Only kdr's own status counts: head may close the pipe before od is done.
"$kdr" cat "$out/world-full.kdr" kelvadorin/core 0x4D4F544B | od -A d -t x1 | head -n 16 ||
  [[ ${PIPESTATUS[0]} -eq 0 ]]

step "kdr verify world-full.kdr"
"$kdr" verify "$out/world-full.kdr"
