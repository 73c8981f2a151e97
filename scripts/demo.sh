#!/usr/bin/env bash
# The main job on the bundled sample world: generate it, convert it, show it.
set -euo pipefail
build=${1:-build}
out="$build/demo"
rm -rf "$out"
mkdir -p "$out"
"$build/sample_world" "$out/world"
kdr="$build/kdr"

echo "== kdr convert"
"$kdr" convert --portal "$out/world/portal" --cell "$out/world/cell" -o "$out/world.kdr"
echo
echo "== kdr info $out/world.kdr"
"$kdr" info "$out/world.kdr"
echo
echo "== kdr ls $out/world.kdr"
"$kdr" ls "$out/world.kdr"
echo
echo "== kdr verify $out/world.kdr"
"$kdr" verify "$out/world.kdr"
