#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: pref
short_description: Set or remove one Velmora preference
description:
  - Sets or removes one typed preference, a named value in a section below
    C(Software\Velmora) of the user's, the machine's or the default user's hive, as the
    application's own calls store it.
  - Reports C(changed) only when the stored value or its type differs.
version_added: 0.1.0
options:
  section:
    description:
      - The section, such as C(General); a C(\) reaches a subsection.
    type: str
    required: true
  name:
    description: The value's name. Names ignore letter case.
    type: str
    required: true
  value:
    description:
      - The value; required with I(state=present).
      - An C(int) is a 32-bit decimal, a C(double) a decimal number (stored as text), a
        C(string) at most 255 bytes.
    type: raw
  type:
    description: The preference's type.
    type: str
    choices: [int, double, string]
    default: string
  state:
    description: Whether the value is to be there (C(present)) or not (C(absent)).
    type: str
    choices: [absent, present]
    default: present
  hive:
    description:
      - C(user) is the user that Ansible becomes (C(HKEY_CURRENT_USER)).
      - C(machine) (C(HKEY_LOCAL_MACHINE)) and C(default_user) (C(HKEY_USERS\.DEFAULT)) need
        root, as writing them under C(HKLM) needs an administrator on Windows.
    type: str
    choices: [user, machine, default_user]
    default: user
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - velmora.util.vlx
  - velmora.util.vlx.changes
seealso:
  - module: velmora.util.pref_info
  - module: velmora.util.reg
'''

EXAMPLES = r'''
- name: Machine-wide default for all users, as under HKLM\Software\Velmora\General
  velmora.util.pref:
    section: General
    name: Units
    value: mm
    hive: machine
  become: true

- name: Keep three backup copies for the user Ansible becomes
  velmora.util.pref:
    section: General
    name: Backup Copies
    type: int
    value: 3

- name: Remove the user's own Units, so the machine default shows through
  velmora.util.pref:
    section: General
    name: Units
    state: absent
'''

RETURN = r'''
previous:
  description: The value as it was in that hive, or null when there was none.
  returned: always
  type: raw
  sample: cm
value:
  description: The value as it is now (in check mode, as it would be), or null when absent.
  returned: always
  type: raw
  sample: mm
key:
  description: The section's key.
  returned: always
  type: str
  sample: HKEY_LOCAL_MACHINE\Software\Velmora\General
changes:
  description: What changed, as C(vlx --json) reports it, one entry per key or value.
  returned: always
  type: list
  elements: dict
  sample: [{"change": "change", "key": "HKEY_LOCAL_MACHINE\\Software\\Velmora\\General",
            "value": {"name": "Units", "type": "REG_SZ", "data": "mm"},
            "before": {"name": "Units", "type": "REG_SZ", "data": "cm"}}]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.velmora.util.plugins.module_utils.vlx import (
    PRODUCT_KEYS, Vlx, host_int, vlx_argument_spec)


def typed(value, kind):
    """A value as the host reads it with this type."""
    if value is None or kind == 'string':
        return value
    try:
        return int(value) if kind == 'int' else float(value)
    except (TypeError, ValueError):
        return value


def main():
    module = AnsibleModule(
        argument_spec=vlx_argument_spec(
            section=dict(type='str', required=True),
            name=dict(type='str', required=True),
            value=dict(type='raw'),
            type=dict(type='str', default='string', choices=['int', 'double', 'string']),
            state=dict(type='str', default='present', choices=['absent', 'present']),
            hive=dict(type='str', default='user', choices=['user', 'machine', 'default_user']),
        ),
        required_if=[('state', 'present', ['value'])],
        supports_check_mode=True,
    )
    p = module.params
    vlx = Vlx(module)
    key = PRODUCT_KEYS[p['hive']] + '\\' + p['section']
    if p['state'] == 'present':
        where = {'user': [], 'machine': ['--machine'], 'default_user': ['--default-user']}
        changes = vlx.change('pref', 'set', '--type', p['type'], *(where[p['hive']] + [
            '--', p['section'], p['name'], str(p['value'])]))
        previous = after = typed(p['value'], p['type'])
    else:
        changes = vlx.change('reg', 'delete', '--if-exists', '--', key, p['name'])
        previous = after = None
    for change in changes:
        value = change.get('value')
        if value and value['name'].lower() == p['name'].lower():
            before = change.get('before', value if change['change'] == 'remove' else None)
            previous = (None if before is None else host_int(before['data'])
                        if before['type'] == 'REG_DWORD' else typed(before['data'], p['type']))
    vlx.finish(changes, previous=previous, value=after, key=key)


if __name__ == '__main__':
    main()
