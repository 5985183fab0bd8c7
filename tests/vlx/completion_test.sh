#!/usr/bin/env bash
# Completion rounds as bash runs them: the generated script sourced, COMP_WORDS and COMP_CWORD
# set, the function called, COMPREPLY read. Each kind of word: commands (all that --help lists),
# options, option choices, preference sections, registry keys (typed with escapes or in quotes),
# value names after a section or key, and file names.
set -u
vlx=$1
script=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELMORA_REGISTRY_DIR=$work/registry HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
PATH=$(dirname "$vlx"):$PATH
# shellcheck source=/dev/null
source "$script"
"$vlx" pref set General "Backup Copies" 2 --type int >/dev/null
"$vlx" pref set "Sheet Paths" Last x --machine >/dev/null
mkdir "$work/files" && touch "$work/files/out.reg" "$work/files/other.txt"

failed=0
# check WANT WORD...: completing the last WORD gives exactly WANT (replies sorted, one space
# between).
check() {
  local want=$1
  shift
  COMP_WORDS=(vlx "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _vlx vlx "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
  if [[ $got != "$want" ]]; then
    echo "completing '$*': got '$got', want '$want'" >&2
    failed=1
  fi
}

# The commands the help of the command words given lists.
commands() {
  "$vlx" "$@" --help | sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z][a-z0-9-]*\) .*/\1/p' |
    sort | paste -sd' '
}
[[ -n $(commands) ]] || { echo "vlx --help lists no commands" >&2; exit 1; }
check "$(commands)" ''
check 'pref' pr
check "$(commands pref)" pref ''
check "$(commands reg)" reg ''
# A command that takes command words completes them.
if [[ " $(commands) " == *" help "* ]]; then
  check "$(commands reg)" help reg ''
fi
check '--type' pref get --ty
check 'double int string' pref get --type ''
check 'int' pref get -t i
check '' nosuch ''
check 'General Sheet\ Paths' pref get ''
check 'Sheet\ Paths' pref delete Sh
# Value names after their section or key, from every hive.
check 'Backup\ Copies' pref get General ''
check 'Last' pref get 'Sheet\ Paths' l
check 'Last' pref set "'Sheet Paths'" ''
check 'Backup\ Copies' reg query 'HKCU\\Software\\Velmora\\General' b
check '' pref get Nowhere ''
check 'HKEY_CURRENT_USER' reg export HKEY_CURRENT_U
check 'HKEY_CURRENT_CONFIG HKEY_CURRENT_USER' reg export HKEY_CU
check 'HKCC HKCR HKCU' reg export hkc
check 'HKCU\\Software\\Velmora' reg export 'HKCU\\Software\\V'
check "'HKEY_CURRENT_USER\\Software\\Velmora" reg export "'HKEY_CURRENT_USER\\Software\\v"
check 'HKLM\\Software\\Velmora\\Sheet\ Paths' reg export 'HKLM\\Software\\Velmora\\'
check '' reg export 'HKCU\\NoSuchKey\\'
cd "$work/files"
check 'out.reg' reg export -o ou
check 'other.txt out.reg' reg import ''
exit $failed
