#!/usr/bin/env bash
# Sets up, builds the library and the cartovane tool, and runs the tool on a bundled example.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
tool="$root/build/release/bin/cartovane"
echo "\$ cartovane components"
"$tool" components
