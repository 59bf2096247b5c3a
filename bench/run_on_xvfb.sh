#!/usr/bin/env bash
# Runs build/lcx_bench (arguments passed on) on a private 1920x1080 Xvfb
# with the moving test scene, so the screen benchmarks run too.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export LCX_BUILD_DIR=${LCX_BUILD_DIR:-$here/build}
source "$here/tests/lib/display.sh"
lcx_start_display 1920x1080x24
"$LCX_BUILD_DIR/lcx_bench" "$@"
