#!/usr/bin/env bash
# Installs what is missing, builds the command-line tool and runs the main job: a new company
# file, then its tables and company record shown through report queries.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ledgerkit_cli
mkdir -p out
file=out/demo-company.ldb
rm -f "$file" "$file-wal" "$file-shm"
build/ledgerkit new "$file" --company "Northwind Hardware"
build/ledgerkit query "$file" "SELECT name AS \"Table\" FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite%' ORDER BY name"
build/ledgerkit query "$file" "SELECT ISubScriberID, CompanyName, NextTransactionNumber, NextInvoiceNumber FROM ISubScriber"
build/ledgerkit query "$file" "SELECT ISubscriberLocationID, Parent, Name, IsPrimary FROM ISubscriberLocation"
echo "The company file is $file."
