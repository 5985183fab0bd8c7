#!/bin/sh
# Installs the velmora.util collection from COLLECTION (the tarball the build makes) into a
# scratch directory and runs playbook.yml against localhost with VLX, on a scratch store.
# Usage: run.sh VLX COLLECTION
set -eu
vlx=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
collection=$2
here=$(cd "$(dirname "$0")" && pwd)
command -v ansible-playbook >/dev/null ||
  { echo "skipped: ansible-playbook is not installed (apt-get install ansible-core)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The user the machine-hive task becomes must reach the store and the vlx it runs.
chmod 755 "$work"
mkdir -p "$work/registry" "$work/home" "$work/none"
chmod 777 "$work/registry"

export HOME="$work/home" ANSIBLE_CONFIG="$work/none/ansible.cfg" ANSIBLE_NOCOLOR=1
export ANSIBLE_COLLECTIONS_PATH="$work/collections" ANSIBLE_LOCAL_TEMP="$work/home/tmp"
export ANSIBLE_REMOTE_TMP="$work/home/remote"
export ANSIBLE_LOCALHOST_WARNING=false ANSIBLE_INVENTORY_UNPARSED_WARNING=false
export ANSIBLE_RETRY_FILES_ENABLED=false ANSIBLE_DEPRECATION_WARNINGS=false ANSIBLE_PIPELINING=true
ansible-galaxy collection install "$collection" -p "$work/collections" >/dev/null

# As root, the machine-hive task becomes nobody with su; where nobody cannot reach the build
# tree (under /root, say) it runs a copy of vlx and its library. Another runner keeps the hive
# from itself.
unprivileged=""
unprivileged_vlx=$vlx
skip=""
as_nobody() { su -s /bin/sh nobody -c "$1 --version" >/dev/null 2>&1; }
if [ "$(id -u)" -eq 0 ]; then
  unprivileged=nobody
  if ! as_nobody "$vlx"; then
    mkdir "$work/bin"
    cp "$vlx" "$work/bin/vlx.bin"
    cp "$(ldd "$vlx" | sed -n 's/.*libvelmora_util[^ ]* => \([^ ]*\).*/\1/p')" "$work/bin/"
    printf '#!/bin/sh\nLD_LIBRARY_PATH=%s exec %s "$@"\n' "$work/bin" "$work/bin/vlx.bin" \
      >"$work/bin/vlx"
    chmod 755 "$work/bin" "$work/bin/"*
    unprivileged_vlx=$work/bin/vlx
  fi
  if ! as_nobody "$unprivileged_vlx"; then
    echo "note: su cannot run vlx as nobody here; the machine-hive task without root is skipped"
    skip="--skip-tags=unprivileged"
  fi
fi

# shellcheck disable=SC2086
ansible-playbook -i localhost, "$here/playbook.yml" $skip \
  -e "work=$work" -e "vlx_dir=$(dirname "$vlx")" \
  -e "unprivileged=$unprivileged" -e "unprivileged_vlx=$unprivileged_vlx"
