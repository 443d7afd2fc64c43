#!/usr/bin/env bash
# Installs what is missing, builds the command-line tool and runs the main job: a sample
# company recorded through the library's public operations, its trial balance and bank
# register, then the integrity check of the file it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ledgerkit_cli
mkdir -p out
file=out/demo-company.ldb
rm -f "$file" "$file-wal" "$file-shm"
build/ledgerkit demo "$file"
build/ledgerkit check "$file"
