#!/bin/sh
# vlx(1) as man shows it: no formatter warnings, a section for every command group that
# `vlx --help` lists, an entry for every command below a group, a dated header, examples, and
# every environment variable the tool, the server and the platform layer read.
set -eu
vlx=$1
page=$2
sources=$3
command -v man >/dev/null || { echo "skipped: man is not installed (apt-get install man-db)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELMORA_REGISTRY_DIR="$work/registry"

# The C locale keeps man to ASCII, so option names read as typed.
LC_ALL=C MANWIDTH=100 man --warnings -l "$page" >"$work/page" 2>"$work/warnings"
if [ -s "$work/warnings" ]; then
  echo "man warns about $page:" >&2
  cat "$work/warnings" >&2
  exit 1
fi
grep -q '^NAME' "$work/page"
grep -q '^ *vlx  *-  *[a-z]' "$work/page"

# The words of the "Subcommands:" list of a help text.
subcommands() {
  "$vlx" "$@" --help | sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z][a-z0-9-]*\) .*/\1/p'
}

failed=0
groups=$(subcommands)
[ -n "$groups" ] || { echo "vlx --help lists no commands" >&2; exit 1; }
for group in $groups; do
  heading=$(echo "$group" | tr a-z A-Z)
  if ! grep -qx "$heading" "$work/page"; then
    echo "no section $heading for 'vlx $group'" >&2
    failed=1
  fi
  for command in $(subcommands "$group"); do
    if ! grep -q "^ *vlx $group $command\( \|\$\)" "$work/page"; then
      echo "no entry for 'vlx $group $command'" >&2
      failed=1
    fi
  done
done
grep -q '^\.TH VLX 1 "[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]"' "$page" || { echo "no date in .TH" >&2; failed=1; }
for heading in ENVIRONMENT EXAMPLES 'SEE ALSO'; do
  grep -qx "$heading" "$work/page" || { echo "no section $heading" >&2; failed=1; }
done
sed -n '/^\.SH ENVIRONMENT/,/^\.SH [^E]/p' "$page" >"$work/environment"
for name in $(cd "$sources" && grep -rhoE 'getenv\("[A-Za-z_]+"\)' tools/vlx servers platform |
  sed 's/getenv("\(.*\)")/\1/' | tr a-z A-Z | sort -u); do
  if ! grep -q "^\.BR\? \(.*[ \"]\)\?$name\([ \"]\|\$\)" "$work/environment"; then
    echo "ENVIRONMENT does not name $name, which the sources read" >&2
    failed=1
  fi
done
# Option names come through as typed, not as hyphens the formatter may change.
grep -q -- '--machine' "$work/page" || { echo "no --machine in the page" >&2; failed=1; }
exit $failed
