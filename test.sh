#!/usr/bin/env bash
# Set-up, build, and every test headless. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
. ./deps.sh
plimo_need_packages "${PLIMO_BUILD_PACKAGES[@]}" "${PLIMO_TEST_PACKAGES[@]}"
plimo_build
export QT_QPA_PLATFORM=offscreen
cd build
# Most suites wait on timers, simulated carriers and child processes: two at a time for each core.
ctest --output-on-failure --timeout 600 -j "$(( $(nproc) * 2 ))"
