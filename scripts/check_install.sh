#!/usr/bin/env bash
# Checks a built tree as users get it:
# - installed into a scratch prefix: a host built through the CMake package, and one built with
#   -std=c++20 through pkg-config; the tool runs from there through its relative RUNPATH;
# - configured for the library alone, with neither GoogleTest nor Google Benchmark to be found;
# - as Debian packages: made with cpack, checked with lintian (where installed), installed with
#   dpkg into a scratch root, and run from there.
set -euo pipefail
build=${1:-build/default}
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(cd "$repo_root/$build" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELMORA_REGISTRY_DIR=$work/registry
# Every program must find the library by itself.
unset LD_LIBRARY_PATH
fail() {
  echo "install check: $*" >&2
  exit 1
}

# The RUNPATH of an ELF file leads, from the file's own place, to the library.
check_runpath() {
  local runpath
  runpath=$(readelf -d "$1" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [[ :$runpath: == *':$ORIGIN/'* ]] || fail "$1 has RUNPATH '$runpath', nothing relative to \$ORIGIN"
}

# The tool answers --version where it has one, else --help.
run_tool() {
  local help
  help=$("$1" --help)
  if [[ $help == *--version* ]]; then
    "$1" --version
  fi
}

# pkg_config_host BINARY: builds tests/install/host.cpp with -std=c++20 through the pkg-config file in
# $PKG_CONFIG_PATH, with an rpath to the library.
# PREFIX (optional): where the files lie when not where the .pc file says (a scratch root).
pkg_config_host() {
  local flags libdir define=()
  [[ -z ${2:-} ]] || define=(--define-variable=prefix="$2")
  flags=$(pkg-config "${define[@]}" --cflags --libs velmora-util)
  [[ $flags != *-std=* ]] || fail "pkg-config gives a -std flag: $flags"
  libdir=$(pkg-config "${define[@]}" --variable=libdir velmora-util)
  # shellcheck disable=SC2086
  c++ -std=c++20 "$repo_root/tests/install/host.cpp" $flags -Wl,-rpath,"$libdir" -o "$1"
}

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
prefix=$work/prefix
libdir=$(find "$prefix" -name 'libvelmora_util.so' -printf '%h\n' | head -n1)

# CMake gives the host a build-tree rpath to the library it found: nothing to add.
cmake -S "$repo_root/tests/install" -B "$work/cmake-host" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-host" >/dev/null
"$work/cmake-host/host"

PKG_CONFIG_PATH=$libdir/pkgconfig pkg_config_host "$work/pc-host"
"$work/pc-host"

check_runpath "$prefix/bin/vlx"
"$prefix/bin/vlx" datecode >/dev/null
server=$(find "$prefix" -name 'libvelmora_calc.so' | head -n1)
[[ -z $server ]] || check_runpath "$server"
[[ -f $prefix/share/man/man1/vlx.1.gz ]] || fail "no manual page installed"
[[ -f $prefix/share/bash-completion/completions/vlx ]] || fail "no bash completion installed"

# The library alone configures without the test and benchmark frameworks.
cmake -S "$repo_root" -B "$work/library-only" -G Ninja -DVLX_BUILD_TESTS=OFF \
  -DVLX_BUILD_BENCH=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$work/library-only.log" 2>&1 ||
  { cat "$work/library-only.log" >&2; fail "a library-only configure failed"; }

# The Debian packages.
rm -rf "$build_dir/packages"
(cd "$build_dir" && cpack -G DEB >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
packages=("$build_dir"/packages/*.deb)
if command -v lintian >/dev/null; then
  lintian --fail-on error "${packages[@]}" >"$work/lintian.log" 2>/dev/null ||
    { cat "$work/lintian.log" >&2; fail "lintian reports errors"; }
  cat "$work/lintian.log"
  # Every warning is one that docs/install.md explains.
  for tag in $(sed -n 's/^W: [^ ]* \([a-z0-9-]*\).*/\1/p' "$work/lintian.log" | sort -u); do
    grep -q "\`$tag\`" "$repo_root/docs/install.md" ||
      fail "lintian warns $tag, which docs/install.md does not explain"
  done
else
  echo "install check: lintian is not installed; the packages are not checked with it"
fi
# Every dependency outside these packages is a package this machine has.
ours=" $(for deb in "${packages[@]}"; do dpkg-deb -f "$deb" Package; done | tr '\n' ' ')"
for deb in "${packages[@]}"; do
  dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*//; s/ //g' | while read -r dep; do
    [[ -z $dep || $ours == *" $dep "* ]] && continue
    dpkg-query -W -f='${Status}' "$dep" 2>/dev/null | grep -q 'install ok installed' ||
      fail "$(basename "$deb") depends on $dep, which is not installed here"
  done
done
# A scratch root with its own package database. The system's libraries are not in it, so
# dependencies are forced (checked above instead); maintainer scripts run outside a chroot,
# where ldconfig is a stub so that the real system is not touched.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers" \
  "$root/var/log" "$work/stub"
touch "$root/var/lib/dpkg/status"
printf '#!/bin/sh\nexit 0\n' >"$work/stub/ldconfig"
chmod +x "$work/stub/ldconfig"
# dpkg on the scratch root, its maintainer scripts run as above.
scratch_dpkg() {
  PATH=$work/stub:$PATH dpkg --root="$root" --force-depends --force-script-chrootless "$@" \
    >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg $* failed"; }
}
# What of the machine hive names the server library (its InprocServer32 values).
server_keys() {
  "$root/usr/bin/vlx" reg export 'HKLM\Software\Classes' | grep -c 'libvelmora_calc\.so' || true
}
# The server's package registers it, keeps one registration through an upgrade and leaves no
# key naming the missing file once removed or purged.
calc_life_cycle() {
  local deb
  deb=$(printf '%s\n' "${packages[@]}" | grep '/velmora-calc-server_' || true)
  [[ -n $deb ]] || return 0
  [[ $(server_keys) == 1 ]] || fail "the installed server is not registered once ($(server_keys))"
  "$root/usr/bin/vlx" reg query \
    'HKLM\Software\Classes\CLSID\{00024500-0000-0000-C000-000000000046}\InprocServer32' |
    grep -q '/usr/lib/.*libvelmora_calc\.so' || fail "the registration names no server in /usr"
  scratch_dpkg -i "$deb"
  [[ $(server_keys) == 1 ]] || fail "an upgrade left $(server_keys) registrations"
  scratch_dpkg -r velmora-calc-server
  [[ $(server_keys) == 0 ]] || fail "a removed server is still registered"
  scratch_dpkg -i "$deb"
  scratch_dpkg -P velmora-calc-server
  [[ $(server_keys) == 0 ]] || fail "a purged server is still registered"
  scratch_dpkg -i "$deb"
}
if [[ $(id -u) -eq 0 ]]; then
  PATH=$work/stub:$PATH dpkg --root="$root" --force-depends --force-script-chrootless \
    -i "${packages[@]}" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
  for deb in "${packages[@]}"; do
    name=$(dpkg-deb -f "$deb" Package)
    dpkg --root="$root" -s "$name" | grep -q '^Status: install ok installed' ||
      fail "$name is not installed in the scratch root"
  done
  calc_life_cycle
else
  echo "install check: not root; the packages are unpacked with dpkg-deb -x instead of dpkg -i"
  for deb in "${packages[@]}"; do dpkg-deb -x "$deb" "$root"; done
fi
usr=$root/usr
libdir=$(find "$usr" -name 'libvelmora_util.so' -printf '%h\n' | head -n1)
run_tool "$usr/bin/vlx"
if command -v man >/dev/null; then
  LC_ALL=C man -l "$usr/share/man/man1/vlx.1.gz" | grep -q '^NAME' ||
    fail "the packaged manual page does not open"
fi
# The packaged .pc file names /usr plainly: no "..", and pkg-config drops -I/usr/include.
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs velmora-util)
[[ $flags != *..* && $flags != *-I/usr/include* ]] || fail "the packaged .pc file gives $flags"
PKG_CONFIG_PATH=$libdir/pkgconfig pkg_config_host "$work/deb-host" "$usr"
"$work/deb-host"
reg=$usr/share/velmora/calc_server.reg
if [[ -e $reg ]]; then
  grep -q '"/usr/lib/.*libvelmora_calc.so"' "$reg" || fail "$reg does not name the server in /usr"
fi
echo "install check passed"
