#!/bin/sh
# What ansible-test sanity would check without its network set-up: every module of the
# velmora.util collection in COLLECTION (its source folder) has documentation that
# ansible-doc prints, its doc fragments merged, and that matches the options its code takes;
# the collection's YAML, the documentation blocks of its modules and doc fragments, the test
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
done
# Each block of a module or doc fragment as its own YAML file, named after the file and block.
python3 - "$work/docs" "$root"/plugins/modules/*.py "$root"/plugins/doc_fragments/*.py <<'EOF'
import ast, os, sys
out = sys.argv[1]
os.makedirs(out, exist_ok=True)
for path in sys.argv[2:]:
    for node in ast.walk(ast.parse(open(path).read())):
        if (isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name)
                and node.targets[0].id.isupper() and isinstance(node.value, ast.Constant)):
            name = '%s.%s.%s.yml' % (os.path.basename(os.path.dirname(path)),
                                     os.path.basename(path)[:-3], node.targets[0].id)
            with open(os.path.join(out, name), 'w') as f:
                f.write('---\n' + node.value.value.lstrip('\n'))
EOF
python3 "$here/doc_options.py" "$work" "$root"/plugins/modules/*.py || failed=1
# The playbooks of the page, as files and as one playbook.
awk -v out="$work/docs/ansible.md" '/^```yaml$/ { n++; print "---" > (out n ".yml"); on = 1; next }
  /^```$/ { on = 0 } on { print > (out n ".yml"); print > (out ".all") }' "$here/../../docs/ansible.md"
yamllint -s -c "$here/yamllint.yml" "$root/galaxy.yml" "$root/meta" "$work/docs" \
  "$here/playbook.yml" || failed=1
ansible-playbook -i workstations, --syntax-check "$work/docs/ansible.md.all" >/dev/null || failed=1
exit $failed
