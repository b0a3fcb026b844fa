#!/usr/bin/env bash
# Sets up, then builds and runs the whole suite three times: normally, and under
# AddressSanitizer + UndefinedBehaviorSanitizer with g++ and with clang. Any failure fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
jobs="$(nproc)"

echo "== build and test: release"
"$root/scripts/build.sh" "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCARTOVANE_BENCH=ON
ctest --test-dir "$root/build/release" --output-on-failure --parallel "$jobs" --timeout 600

echo "== build and test: address + undefined-behaviour sanitizers"
"$root/scripts/build.sh" "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DCARTOVANE_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$root/build/sanitize" --output-on-failure --parallel "$jobs" --timeout 900
echo "== build and test: clang, address + undefined-behaviour sanitizers"
CXX=clang++ "$root/scripts/build.sh" "$root/build/clang-sanitize" -DCMAKE_BUILD_TYPE=Debug -DCARTOVANE_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$root/build/clang-sanitize" --output-on-failure --parallel "$jobs" --timeout 900
echo "== all tests passed"
