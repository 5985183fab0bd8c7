#!/bin/sh
# What ansible-test sanity would check without its network set-up: every module of the
# velmora.util collection in COLLECTION (its source folder) has documentation that
# ansible-doc prints; the collection's YAML, the documentation blocks of its modules, the test
# playbook and the playbooks of docs/ansible.md pass yamllint; and those playbooks pass
# ansible-playbook's syntax check.
# Usage: lint.sh COLLECTION
set -eu
collection=$1
here=$(cd "$(dirname "$0")" && pwd)
for tool in ansible-doc ansible-playbook yamllint; do
  command -v "$tool" >/dev/null ||
    { echo "skipped: $tool is not installed (apt-get install ansible-core yamllint)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_COLLECTIONS_PATH="$work"
mkdir -p "$work/ansible_collections/velmora"
root=$(cd "$collection" && pwd)
ln -s "$root" "$work/ansible_collections/velmora/util"

failed=0
for module in "$root"/plugins/modules/*.py; do
  name=velmora.util.$(basename "$module" .py)
  out=$(ansible-doc "$name" 2>&1) || { echo "$out" >&2; failed=1; continue; }
  for block in EXAMPLES: RETURN\ VALUES:; do
    echo "$out" | grep -q "^$block" || { echo "$name: ansible-doc shows no $block" >&2; failed=1; }
  done
  # Each block as its own YAML file, named after the module and the block.
  python3 - "$module" "$work/docs" <<'EOF'
import ast, os, sys
module, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
for node in ast.parse(open(module).read()).body:
    if isinstance(node, ast.Assign) and node.targets[0].id in ('DOCUMENTATION', 'EXAMPLES', 'RETURN'):
        name = '%s.%s.yml' % (os.path.basename(module)[:-3], node.targets[0].id)
        with open(os.path.join(out, name), 'w') as f:
            f.write('---\n' + node.value.value.lstrip('\n'))
EOF
done
# The playbooks of the page, as files and as one playbook.
awk -v out="$work/docs/ansible.md" '/^```yaml$/ { n++; print "---" > (out n ".yml"); on = 1; next }
  /^```$/ { on = 0 } on { print > (out n ".yml"); print > (out ".all") }' "$here/../../docs/ansible.md"
yamllint -s -c "$here/yamllint.yml" "$root/galaxy.yml" "$root/meta" "$work/docs" \
  "$here/playbook.yml" || failed=1
ansible-playbook -i workstations, --syntax-check "$work/docs/ansible.md.all" >/dev/null || failed=1
exit $failed
