#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build in which any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
# One compiler cache for every build below (a caller's own CCACHE_DIR is kept): the build
# without the PostgreSQL engine differs from the normal build in a few sources only and takes
# the rest of its objects from the cache.
export CCACHE_DIR="${CCACHE_DIR:-$PWD/build-ccache}" CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cache=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# The optimised builds are RelWithDebInfo's -O2 without its debug information, which is a third
# of their compile time and which nothing here reads.
optimised=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG")

# A throw-away PostgreSQL cluster for the tests of the PostgreSQL engine (LEDGERKIT_TEST_PG),
# removed on every exit, a failing test's too. The first free port from a random start is taken.
pg_dir=$(mktemp -u "${TMPDIR:-/tmp}/ledgerkit-pg.XXXXXX")
trap 'scripts/pg-cluster.sh stop "$pg_dir"' EXIT
LEDGERKIT_TEST_PG=""
for attempt in 1 2 3 4 5 6 7 8; do
  port=$((20000 + (RANDOM % 20000)))
  if LEDGERKIT_TEST_PG=$(scripts/pg-cluster.sh start "$pg_dir" "$port" 2>/dev/null); then break; fi
  scripts/pg-cluster.sh stop "$pg_dir"
  LEDGERKIT_TEST_PG=""
done
[ -n "$LEDGERKIT_TEST_PG" ] || { echo "no PostgreSQL cluster could be started for the tests" >&2; exit 1; }
export LEDGERKIT_TEST_PG

cmake -S . -B build -G Ninja "${optimised[@]}" -DLEDGERKIT_BUILD_TESTS=ON -DLEDGERKIT_BUILD_BENCH=ON \
  "${cache[@]}" >/dev/null
cmake --build build -j "$jobs"
# The normal build's suite runs once, with every test company on the cluster. On company files
# the suite runs in the build without the PostgreSQL engine (optimised, as this one) and in the
# sanitizer build (with the engine), so no case runs twice on one engine in one kind of build.
LEDGERKIT_TEST_ENGINE=postgresql ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600

# A build without the PostgreSQL engine, as a file-only deployment builds it (no libpq): the
# library, the tool and the tests, whose suite runs on company files. Built as the normal build
# is, so that the objects that do not depend on the engine list come from the compiler cache.
cmake -S . -B build-nopg -G Ninja "${optimised[@]}" -DLEDGERKIT_BUILD_TESTS=ON \
  -DLEDGERKIT_WITH_POSTGRESQL=OFF "${cache[@]}" >/dev/null
cmake --build build-nopg -j "$jobs" --target ledgerkit_tests
env -u LEDGERKIT_TEST_PG -u LEDGERKIT_TEST_ENGINE ctest --test-dir build-nopg --output-on-failure -j "$jobs" --timeout 600

api_doc=$(mktemp); scripts/api-doc.sh build > "$api_doc"; diff -u docs/API.md "$api_doc" || { echo "docs/API.md does not match the API: run scripts/api-doc.sh build > docs/API.md" >&2; exit 1; }; rm -f "$api_doc"
# The OpenRPC document checked with the OpenRPC project's own tools (from the npm registry), and
# a TypeScript client generated from it and type-checked.
openrpc=$(mktemp --suffix=.json); build/ledgerkit describe --openrpc > "$openrpc"
scripts/openrpc-check.sh --typescript "$openrpc"; rm -f "$openrpc"

# A program built against the installed package, as a library user builds one: the normal
# build installed into a scratch prefix, tests/consumer configured with find_package(ledgerkit)
# (which also compiles every installed header on its own), run, and its output checked.
consumer=$(mktemp -d)
cmake --install build --prefix "$consumer/prefix" >/dev/null
cmake -S tests/consumer -B "$consumer/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_PREFIX_PATH="$consumer/prefix" >/dev/null
cmake --build "$consumer/build" -j "$jobs" >/dev/null
mkdir "$consumer/work"
version=$(sed -n 's/^project(ledgerkit VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
expected=$(printf 'version %s\ntyped 1234.56\nby name 1234.56\naccount Bank' "$version")
actual=$("$consumer/build/ledgerkit_consumer" "$consumer/work")
if [ "$actual" != "$expected" ]; then
  printf 'the installed-package consumer printed:\n%s\nexpected:\n%s\n' "$actual" "$expected" >&2
  exit 1
fi
rm -rf "$consumer"
echo "the installed package builds and runs a consumer"

# The sanitized suite leaves out the one case that is only slow there (hundreds of companies on
# the server): its code runs sanitized in the other server tests.
# Debug, at -O0: at -O1 the sanitized build took 21 minutes to compile on two cores against 11,
# for a suite of 6.5 minutes against 10.3. Line tables only (-g1): a report still names the file
# and line of each frame.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DLEDGERKIT_BUILD_TESTS=ON \
  -DLEDGERKIT_SANITIZE=ON "${cache[@]}" >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
LSAN_OPTIONS=suppressions="$PWD/scripts/lsan-suppressions.txt" \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600 \
  -E '^PostgresEngine\.ThreeHundredCompaniesShareABoundedNumberOfSessions$'
# A bounded fuzzing run of the bridge's request handling, when clang and its fuzzer runtime are
# there (the runtime is installed when only it is missing).
fuzzer_links() {
  echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' > "$1/probe.cpp"
  clang++ -fsanitize=fuzzer "$1/probe.cpp" -o "$1/probe" >/dev/null 2>&1
}
probe=$(mktemp -d)
if command -v clang++ >/dev/null 2>&1 && ! fuzzer_links "$probe"; then
  version=$(clang++ --version | sed -n 's/.*version \([0-9]*\).*/\1/p' | head -n 1)
  apt-get install -y -qq "libclang-rt-${version}-dev" >/dev/null 2>&1 || true
fi
if command -v clang++ >/dev/null 2>&1 && fuzzer_links "$probe"; then
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g1 -DNDEBUG" \
    -DLEDGERKIT_BUILD_TESTS=OFF \
    -DLEDGERKIT_SANITIZE=ON -DLEDGERKIT_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j "$jobs" --target ledgerkit_bridge_fuzz
  corpus=$(mktemp -d)
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    build-fuzz/ledgerkit_bridge_fuzz -max_total_time=30 -max_len=4096 -rss_limit_mb=2048 -print_final_stats=1 \
      "$corpus" fuzz/corpus 2>&1 | tail -n 12
  status=${PIPESTATUS[0]}
  rm -rf "$corpus"
  if [ "$status" -ne 0 ]; then echo "the bridge fuzzer found a failure" >&2; exit 1; fi
else
  echo "clang++ with its fuzzer runtime is not available: the bridge fuzzing run is skipped" >&2
fi
rm -rf "$probe"
echo "all tests passed (normal and sanitizer builds)"
