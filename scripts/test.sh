#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: every test
# in a normal build, then the unit tests and the end-to-end tests with
# misbehaving peers again under ASan + UBSan, then every fuzz target for a
# short fixed time (clang, ASan + UBSan).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
# Unit tests that capture the screen get a private display with a moving
# scene; the end-to-end tests start their own.
export LCX_BUILD_DIR=$PWD/build
source tests/lib/display.sh
lcx_start_display 1920x1080x24
ctest --test-dir build --output-on-failure -j "$jobs" -L unit
(unset DISPLAY; ctest --test-dir build --output-on-failure -L integration --timeout 600)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLCX_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
ctest --test-dir build-asan --output-on-failure -j "$jobs" -L unit
# The end-to-end tests where peers misbehave (hostile, stalled or many
# clients, wrong credentials) against the sanitizer build of the program: a
# sanitizer report in the engine's log fails the test (tests/lib/engine.sh).
(unset DISPLAY; ctest --test-dir build-asan --output-on-failure -L integration --timeout 600 \
  -R 'hostile|^it_rtsp_many$|^it_rtsp_auth$')

# Every parser of a peer's or a file's bytes under libFuzzer, 15 s each from
# its seeds (about 3 minutes); fuzz/run.sh BUILD_DIR SECONDS runs them longer.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLCX_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
LCX_JOBS=$jobs fuzz/run.sh build-fuzz 15
