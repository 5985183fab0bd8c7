#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: reg_import
short_description: Merge a .reg file into the Velmora registry store
description:
  - Imports a registry file as C(ansible.windows.win_regmerge) does, through
    C(vlx reg import), from REGEDIT4 or version 5.00 text as regedit and C(vlx reg export) write
    it.
  - The import is all or nothing. The whole file is checked first; a malformed file, or one
    that breaks a registry limit, is refused with its line and nothing changes.
  - Reports C(changed) only if the import changes something, as C(vlx reg import --dry-run)
    tells; a file whose every value is there already changes nothing.
version_added: 0.1.0
options:
  path:
    description: The .reg file on the managed host.
    type: path
    required: true
  compare_to:
    description:
      - A key such as C(HKLM:\Software\Velmora); only changes at or below it count.
      - When the import would change nothing there, nothing is imported, even if it would change
        something elsewhere. Otherwise the whole file is imported.
    type: str
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - velmora.util.vlx
  - velmora.util.vlx.changes
seealso:
  - module: velmora.util.reg
'''

EXAMPLES = r'''
- name: Copy the office's machine defaults to the workstation
  ansible.builtin.copy:
    src: velmora-defaults.reg
    dest: /var/lib/velmora/velmora-defaults.reg
    mode: "0644"
  become: true

- name: Merge them, only when they differ from what HKLM\Software\Velmora holds
  velmora.util.reg_import:
    path: /var/lib/velmora/velmora-defaults.reg
    compare_to: HKLM:\Software\Velmora
  become: true
'''

RETURN = r'''
compared:
  description: Whether the check was limited to I(compare_to).
  returned: always
  type: bool
  sample: true
changes:
  description:
    - What the import changed (in check mode, would change), as C(vlx --json) reports it, one
      entry per key or value; outside I(compare_to) too, once the file is imported.
  returned: always
  type: list
  elements: dict
  sample: [{"change": "add", "key": "HKEY_LOCAL_MACHINE\\Software\\Velmora\\General",
            "value": {"name": "Units", "type": "REG_SZ", "data": "mm"}}]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.velmora.util.plugins.module_utils.vlx import (
    Vlx, below, vlx_argument_spec)


def main():
    module = AnsibleModule(
        argument_spec=vlx_argument_spec(path=dict(type='path', required=True),
                                        compare_to=dict(type='str')),
        supports_check_mode=True,
    )
    vlx = Vlx(module)
    path, scope = module.params['path'], module.params['compare_to']
    if scope is None:
        vlx.finish(vlx.change('reg', 'import', '--', path), compared=False)
    planned = vlx.run('reg', 'import', '--dry-run', '--json', '--', path)['changes']
    if not any(below(change['key'], scope) for change in planned):
        vlx.finish([], compared=True)
    vlx.finish(planned if module.check_mode else vlx.change('reg', 'import', '--', path),
               compared=True)


if __name__ == '__main__':
    main()
