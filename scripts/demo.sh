#!/usr/bin/env bash
# Installs what is missing, builds the command-line tool and runs the main job: a sample
# company recorded through the library's public operations, its trial balance and bank
# register, then the integrity check of the file it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Configured as scripts/test.sh configures its normal build, so either reuses the other's objects.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" >/dev/null
cmake --build build -j "$(nproc)" --target ledgerkit_cli
mkdir -p out
file=out/demo-company.ldb
rm -f "$file" "$file-wal" "$file-shm"
build/ledgerkit demo "$file"
build/ledgerkit check "$file"
