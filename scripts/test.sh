#!/usr/bin/env bash
# Builds everything with the given preset (default: "default") and runs all tests.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
preset=${1:-default}
shift || true
# The spreadsheet tests need LibreOffice, unless the configure options leave it out.
office=("${calc_packages[@]}")
for arg in "$@"; do
  case "$arg" in -DVLX_WITHOUT_CALC=ON | -DVLX_WITHOUT_CALC=1 | -DVLX_WITHOUT_CALC:BOOL=ON) office=() ;; esac
done
ensure_packages "${build_packages[@]}" "${test_packages[@]}" "${office[@]}"
cd "$repo_root"
cmake --preset "$preset" -DVLX_BUILD_TESTS=ON "$@"
cmake --build --preset "$preset"
ctest --preset "$preset" -j2
