#!/bin/sh
# wine-run.sh DIR WINE PROGRAM [ARGS...]: runs a Windows program of the cross-build under Wine,
# with Wine's prefix (its C: drive and registry), home and caches in DIR, so that nothing is
# written outside the build tree. No menu entries, no Mono or Gecko installers, no display.
set -e
dir=$1
wine=$2
shift 2
mkdir -p "$dir/home"
export WINEPREFIX="$dir/prefix" HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" \
  XDG_DATA_HOME="$dir/home/.local/share" XDG_CACHE_HOME="$dir/home/.cache" WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
unset DISPLAY
exec "$wine" "$@"
