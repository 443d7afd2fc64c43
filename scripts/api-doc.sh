#!/usr/bin/env bash
# Writes the API reference, docs/API.md, to standard output from the built command-line tool:
#   scripts/api-doc.sh BUILD_DIR > docs/API.md
# The reference is read from the library's own member tables, so regenerate it whenever a
# class, member, enumeration or error number changes; the test command fails while the
# committed file differs from a fresh one.
set -euo pipefail
if [ "$#" -ne 1 ]; then
  echo "usage: $0 BUILD_DIR > docs/API.md" >&2
  exit 2
fi
exec "$1/ledgerkit" describe --markdown
