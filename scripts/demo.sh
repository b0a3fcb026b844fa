#!/usr/bin/env bash
# Sets up, builds the library and the cartovane tool, and runs the tool on the bundled example:
# lists the components, shows the example model, converts it and shows the result, shows the
# polymer example (a P-1 cell, repeat units, a charge group, a legacy surface), writes the
# example model as a QOR file, then plays
# the example trajectory: every frame, and the model after frame 3.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
tool="$root/build/release/bin/cartovane"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
echo "\$ cartovane components"
"$tool" components
echo
echo "\$ cartovane show examples/water_ethanol.car"
"$tool" show "$root/examples/water_ethanol.car"
echo
echo "\$ cartovane convert examples/water_ethanol.car water_ethanol_copy.car --arg UnixFormat=true"
"$tool" convert "$root/examples/water_ethanol.car" "$out/water_ethanol_copy.car" --arg UnixFormat=true
head -6 "$out/water_ethanol_copy.car"
echo "..."
echo
echo "\$ cartovane show --json water_ethanol_copy.car | head -30"
# Through a file: a pipe into head would cut the tool off mid-write, and pipefail would fail the demo.
"$tool" show --json "$out/water_ethanol_copy.car" > "$out/water_ethanol_copy.json"
head -30 "$out/water_ethanol_copy.json"
echo
echo "\$ cartovane show examples/polymer_chain.qor"
"$tool" show "$root/examples/polymer_chain.qor"
echo
echo "\$ cartovane convert examples/water_ethanol.car water_ethanol.qor && head -12 water_ethanol.qor"
"$tool" convert "$root/examples/water_ethanol.car" "$out/water_ethanol.qor"
head -12 "$out/water_ethanol.qor"
echo "..."
echo
echo "\$ cartovane frames examples/water_ethanol.arc"
"$tool" frames "$root/examples/water_ethanol.arc"
echo
echo "\$ cartovane show examples/water_ethanol.arc --frame 3"
"$tool" show "$root/examples/water_ethanol.arc" --frame 3
