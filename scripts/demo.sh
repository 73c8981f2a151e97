#!/usr/bin/env bash
# The main job on the bundled sample world: generate it, convert it in the
# three modes, show each archive and the motion kinematics asset, cut the boot
# shard, export the spells, verify.
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

step "kdr show world-full.kdr kelvadorin/core 0x4D4F544B (the motion kinematics asset)"
"$kdr" show "$out/world-full.kdr" kelvadorin/core 0x4D4F544B

step "kdr shard world-full.kdr -o boot.kdr (spawn 0xA9B4)"
"$kdr" shard "$out/world-full.kdr" -o "$out/boot.kdr" --keys-out "$out/boot-keys.txt"
"$kdr" info "$out/boot.kdr"

step "kdr spells world-full.kdr -o spells.json --preset minimal"
"$kdr" spells "$out/world-full.kdr" -o "$out/spells.json" --preset minimal
head -n 20 "$out/spells.json"

step "kdr verify world-full.kdr"
"$kdr" verify "$out/world-full.kdr"
