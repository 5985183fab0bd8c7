#!/bin/sh
# The synopsis at the top of docs/vlx.md names every option of every command that --help lists.
set -eu
vlx=$1
doc=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELMORA_REGISTRY_DIR="$work/registry"
# The indented block before the first paragraph; a continuation line belongs to the line above.
sed -n '/^    vlx /,/^$/p' "$doc" | awk '/^    vlx /{if (line) print line; line=$0; next} {line=line " " $0} END{print line}' \
  >"$work/synopsis"

subcommands() {
  "$vlx" "$@" --help | sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z][a-z0-9-]*\) .*/\1/p'
}
# Long options of a command as its help lists them, --help aside.
options() {
  "$vlx" "$@" --help | sed -n '/^Options:/,/^$/p' | grep -o -- '--[a-z][a-z0-9-]*' | grep -vx -- '--help' |
    sort -u
}
check() {
  if ! grep -q "^    vlx $*\( \|\$\)" "$work/synopsis"; then
    echo "docs/vlx.md's synopsis has no 'vlx $*'" >&2
    failed=1
    return
  fi
  for option in $(options "$@"); do
    if ! grep "^    vlx $*\( \|\$\)" "$work/synopsis" | grep -q -- "$option\([^a-z-]\|\$\)"; then
      echo "docs/vlx.md's synopsis of 'vlx $*' lacks $option" >&2
      failed=1
    fi
  done
}
failed=0
for group in $(subcommands); do
  commands=$(subcommands "$group")
  if [ -z "$commands" ]; then
    check "$group"
  else
    for command in $commands; do check "$group" "$command"; done
  fi
done
exit $failed
