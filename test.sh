#!/usr/bin/env bash
# Builds everything and runs the whole test suite with CTest.
# QAV_SANITIZE=1 ./test.sh builds into build-asan/ with AddressSanitizer and UBSan instead.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
qav_install_deps
dir=build
extra=()
if [ "${QAV_SANITIZE:-0}" = 1 ]; then
  dir=build-asan
  extra=(-DQAV_SANITIZE=ON)
fi
qav_build "$dir" "${extra[@]}"
cd "$dir"
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
