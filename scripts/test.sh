#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and the C++
# library's checks, and runs the whole test suite in phases: every test in a
# normal build; the unit tests and the end-to-end tests with misbehaving peers
# again under ASan + UBSan; the unit tests under ThreadSanitizer; every fuzz
# target for a short fixed time (clang, ASan + UBSan). Prints the time of each
# phase, the skipped tests and a summary at the end; exits 1 when a phase
# failed. With CI=true an end-to-end test that would skip for a missing tool
# or namespace fails instead (tests/lib/display.sh, lcx_skip).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh test || { echo "test: installing the dependencies failed"; exit 1; }

jobs=$(nproc)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
strict=(-DLCX_TESTS=ON -DLCX_WERROR=ON -DLCX_ASSERTIONS=ON "${launcher[@]}")

summary=()
failed=0
# phase NAME COMMAND...: runs one phase, prints and records its time.
phase() {
  local name=$1 start rc
  shift
  echo "=== $name"
  start=$(date +%s)
  "$@"
  rc=$?
  local secs=$(($(date +%s) - start))
  local result=passed
  ((rc == 0)) || { result="FAILED (exit $rc)"; failed=1; }
  summary+=("$(printf '%-12s %4d:%02d  %s' "$name" $((secs / 60)) $((secs % 60)) "$result")")
  echo "=== $name: $result in ${secs} s"
  return $rc
}
# not_run NAME WHY: a phase left out because the one it needs failed.
not_run() { summary+=("$(printf '%-12s %7s  not run: %s' "$1" "" "$2")"); }

# The end-to-end tests that skipped, with the reason each printed (from
# ctest's log of the last run in that build folder).
skipped=()
note_skips() {
  local log=$1/Testing/Temporary/LastTest.log
  [[ -f $log ]] || return 0
  local line
  while IFS= read -r line; do skipped+=("$line"); done < <(awk '
    /^[0-9]+\/[0-9]+ Testing: / { test = $3 }
    /^SKIP/ { print test ": " $0 }' "$log")
}

build_normal() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${strict[@]}" >/dev/null &&
    cmake --build build -j "$jobs"
}
# Unit tests that capture the screen get a private display with a moving
# scene (the end-to-end tests start their own); the display and OpenH264
# are installed above, so a unit test that misses them fails.
unit() { LCX_TEST_REQUIRE_ALL=1 ctest --test-dir "$1" --output-on-failure -j "$jobs" -L unit --timeout 300; }
e2e() { (unset DISPLAY; ctest --test-dir build --output-on-failure -L integration --timeout 600); }

build_asan() {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLCX_SANITIZE=ON "${strict[@]}" >/dev/null &&
    cmake --build build-asan -j "$jobs"
}
# The end-to-end tests where peers misbehave (hostile, stalled or many
# clients, wrong credentials) against the sanitizer build of the program: a
# sanitizer report in the engine's log fails the test (tests/lib/engine.sh).
e2e_asan() {
  (unset DISPLAY; ctest --test-dir build-asan --output-on-failure -L integration --timeout 600 \
    -R 'hostile|^it_rtsp_many$|^it_rtsp_auth$')
}

# Only the unit test executables: the end-to-end tests run the program's
# threads already under ASan, and a TSan build of everything would double
# the stage's time.
build_tsan() {
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLCX_TSAN=ON "${strict[@]}" >/dev/null &&
    cmake --build build-tsan -j "$jobs" --target lcx_unit_tests
}
# A report does not stop the test (its fixtures still end their X servers);
# the test then exits 66 and fails.
unit_tsan() {
  TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" unit build-tsan
}

# Every parser of a peer's or a file's bytes under libFuzzer, 15 s each from
# its seeds (about 3 minutes); fuzz/run.sh BUILD_DIR SECONDS runs them longer.
fuzz() {
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLCX_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${strict[@]}" >/dev/null &&
    LCX_JOBS=$jobs fuzz/run.sh build-fuzz 15
}

export LCX_BUILD_DIR=$root/build
source tests/lib/display.sh

built=0
phase build build_normal && built=1
# The display the unit tests capture shows the scene of this build; without
# it the stages below still run, and their screen tests fail.
if [[ -x build/lcx_scene ]]; then lcx_start_display 1920x1080x24; fi
if ((built)); then
  phase unit unit build
  phase e2e e2e
  note_skips build
else
  not_run unit build; not_run e2e build
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
if phase asan-build build_asan; then
  phase asan-unit unit build-asan
  phase asan-e2e e2e_asan
  note_skips build-asan
else
  not_run asan-unit asan-build; not_run asan-e2e asan-build
fi
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

if phase tsan-build build_tsan; then
  phase tsan-unit unit_tsan
else
  not_run tsan-unit tsan-build
fi

phase fuzz fuzz

echo
echo "=== summary (phase, minutes:seconds, result)"
printf '%s\n' "${summary[@]}"
if ((${#skipped[@]})); then
  echo "=== skipped end-to-end tests and steps"
  printf '%s\n' "${skipped[@]}"
fi
exit "$failed"
