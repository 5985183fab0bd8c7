# Each module's options as ansible-doc shows them, its doc fragments merged, are the options its
# AnsibleModule takes (names, types, defaults, choices, aliases), and check mode is supported
# where its attributes say so: what ansible-test's validate-modules compares.
# Usage: python3 doc_options.py DIR MODULE.py...  (DIR holds ansible_collections/velmora/util)
import importlib
import json
import os
import subprocess
import sys
import types

FIELDS = {'type': 'str', 'required': False, 'default': None, 'choices': None, 'aliases': None,
          'elements': None}


class Taken(Exception):
    pass


def take(**kwargs):
    raise Taken(kwargs)


# The modules get this AnsibleModule, which hands back what main() gives it and stops there.
for name in ('ansible', 'ansible.module_utils', 'ansible.module_utils.basic'):
    sys.modules[name] = types.ModuleType(name)
sys.modules['ansible.module_utils.basic'].AnsibleModule = take
sys.path.insert(0, sys.argv[1])
sys.dont_write_bytecode = True

failed = False
for path in sys.argv[2:]:
    name = os.path.basename(path)[:-3]
    full = 'velmora.util.' + name
    doc = json.loads(subprocess.check_output(['ansible-doc', '--json', full]))[full]['doc']
    try:
        importlib.import_module('ansible_collections.velmora.util.plugins.modules.' + name).main()
        sys.exit('%s: main() built no AnsibleModule' % full)
    except Taken as taken:
        kwargs = taken.args[0]
    coded, options = kwargs['argument_spec'], doc.get('options', {})
    problems = ['option %s: only in %s' % (option, 'the code' if option in coded else 'the doc')
                for option in sorted(set(coded) ^ set(options))]
    for option in sorted(set(coded) & set(options)):
        for field, default in sorted(FIELDS.items()):
            in_code, in_doc = (sorted(value) if isinstance(value, list) else value
                             for value in (coded[option].get(field, default),
                                           options[option].get(field, default)))
            if in_code != in_doc:
                problems.append('option %s: %s is %r in the code, %r in the doc'
                                % (option, field, in_code, in_doc))
    documented = doc.get('attributes', {}).get('check_mode', {}).get('support') == 'full'
    if kwargs.get('supports_check_mode', False) != documented:
        problems.append('check mode: the code and the attributes disagree')
    for problem in problems:
        print('%s: %s' % (full, problem), file=sys.stderr)
    failed = failed or bool(problems)
sys.exit(1 if failed else 0)
