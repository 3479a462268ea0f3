#!/usr/bin/env bash
# Set-up, build, and start the desk.
set -euo pipefail
cd "$(dirname "$0")"
. ./deps.sh
plimo_need_packages "${PLIMO_BUILD_PACKAGES[@]}"
plimo_build
exec build/app/plimopager "$@"
