#!/usr/bin/env bash
# Builds the library and the vlx tool, then runs `vlx demo` on a scratch registry store.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_packages "${build_packages[@]}"
cd "$repo_root"
cmake --preset default -DVLX_BUILD_TESTS=OFF -DVLX_BUILD_BENCH=OFF >/dev/null
cmake --build --preset default --target vlx
exec build/default/tools/vlx/vlx demo "$@"
