#!/usr/bin/env bash
# Builds everything with the given preset (default: "default") and runs all tests.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_packages "${build_packages[@]}" "${test_packages[@]}"
cd "$repo_root"
preset=${1:-default}
shift || true
cmake --preset "$preset" -DVLX_BUILD_TESTS=ON "$@"
cmake --build --preset "$preset"
ctest --preset "$preset" -j2
