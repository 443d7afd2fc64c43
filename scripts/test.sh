#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build in which any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLEDGERKIT_BUILD_TESTS=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLEDGERKIT_BUILD_TESTS=ON -DLEDGERKIT_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600
echo "all tests passed (normal and sanitizer builds)"
