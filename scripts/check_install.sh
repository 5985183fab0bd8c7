#!/usr/bin/env bash
# Installs a built tree into a scratch prefix and builds a host against it, through the CMake
# package and through pkg-config.
set -euo pipefail
build=${1:-build/default}
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELMORA_REGISTRY_DIR=$work/registry

cmake --install "$repo_root/$build" --prefix "$work/prefix" >/dev/null
libdir=$(find "$work/prefix" -name 'libvelmora_util.so' -printf '%h\n' | head -n1)

cmake -S "$repo_root/tests/install" -B "$work/cmake-host" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/cmake-host" >/dev/null
"$work/cmake-host/host"

flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs velmora-util)
# shellcheck disable=SC2086
c++ "$repo_root/tests/install/host.cpp" $flags -Wl,-rpath,"$libdir" -o "$work/pc-host"
"$work/pc-host"
echo "install check passed"
