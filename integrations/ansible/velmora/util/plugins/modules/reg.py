#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: reg
short_description: Add, change or remove registry keys and values of the Velmora store
description:
  - The shape of C(ansible.windows.win_regedit) for the registry store that C(vlx) manages, for
    any key below C(HKEY_CURRENT_USER), C(HKEY_LOCAL_MACHINE) and C(HKEY_USERS\.DEFAULT), and
    values of every type.
  - Reports C(changed) only when a key or value is added, removed, or given other data or
    another type.
version_added: 0.1.0
options:
  path:
    description:
      - The key, such as C(HKLM:\Software\Velmora\General), C(HKLM\Software\Velmora\General) or
        C(HKEY_LOCAL_MACHINE\Software\Velmora\General).
    type: str
    required: true
    aliases: [key]
  name:
    description:
      - The value's name. Empty means the key's C((Default)) value.
      - Without I(name) and I(data), I(state=present) only makes sure the key exists.
    type: str
    aliases: [entry, value]
  data:
    description:
      - The value's data. Without it, the empty data of the type.
      - C(REG_MULTI_SZ) takes a list; C(REG_DWORD) and C(REG_QWORD) a number, decimal or C(0x)
        hex; C(REG_BINARY) and C(REG_NONE) a list of bytes, or hex bytes as regedit exports
        them (C(hex:be,ef), the C(hex:) optional).
    type: raw
  type:
    description:
      - The value's type; C(win_regedit)'s names (C(string), C(dword), ...) are taken too.
    type: str
    choices: [REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE,
              string, expandstring, multistring, dword, qword, binary, none]
    default: REG_SZ
    aliases: [datatype]
  state:
    description: Whether the key or value is to be there.
    type: str
    choices: [absent, present]
    default: present
  delete_key:
    description:
      - With I(state=absent) and no I(name), remove the whole key with everything below it.
      - If C(false), only the key's C((Default)) value is removed.
    type: bool
    default: true
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - velmora.util.vlx
  - velmora.util.vlx.changes
notes:
  - A C(REG_MULTI_SZ) part may not be empty, nor hold the two characters C(\0).
seealso:
  - module: velmora.util.pref
  - module: velmora.util.reg_import
'''

EXAMPLES = r'''
- name: Create the registry path Velmora\Startup
  velmora.util.reg:
    path: HKCU:\Software\Velmora\Startup

- name: Add or update the dword entry 'Backup Copies' with 3 as the decimal value
  velmora.util.reg:
    path: HKLM:\Software\Velmora\General
    name: Backup Copies
    data: 3
    type: dword
  become: true

- name: Add or update a multistring entry
  velmora.util.reg:
    path: HKCU:\Software\Velmora\Paths
    name: Templates
    data: [/srv/templates, /home/shared/templates]
    type: REG_MULTI_SZ

- name: Add or update a binary entry, as regedit exports it
  velmora.util.reg:
    path: HKCU:\Software\Velmora\Window
    name: Placement
    data: hex:2c,00,00,00
    type: binary

- name: Remove the entry 'Units'
  velmora.util.reg:
    path: HKCU:\Software\Velmora\General
    name: Units
    state: absent

- name: Remove the key Startup and everything below it
  velmora.util.reg:
    path: HKCU:\Software\Velmora\Startup
    state: absent
'''

RETURN = r'''
data_changed:
  description: Whether the value was added, or its data changed.
  returned: always
  type: bool
  sample: true
data_type_changed:
  description: Whether the value's type changed.
  returned: always
  type: bool
  sample: false
changes:
  description: What changed, as C(vlx --json) reports it, one entry per key or value.
  returned: always
  type: list
  elements: dict
  sample: [{"change": "add", "key": "HKEY_LOCAL_MACHINE\\Software\\Velmora\\General",
            "value": {"name": "Backup Copies", "type": "REG_DWORD", "data": 3}}]
'''

import re

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.velmora.util.plugins.module_utils.vlx import (
    Vlx, key_path, vlx_argument_spec)

TYPES = {'string': 'REG_SZ', 'expandstring': 'REG_EXPAND_SZ', 'multistring': 'REG_MULTI_SZ',
         'dword': 'REG_DWORD', 'qword': 'REG_QWORD', 'binary': 'REG_BINARY', 'none': 'REG_NONE'}


def data_text(data, kind):
    """The data as `vlx reg add --data` reads it."""
    if data is None:
        return ''
    if kind == 'REG_MULTI_SZ':
        return '\\0'.join(data) if isinstance(data, list) else str(data)
    if kind in ('REG_BINARY', 'REG_NONE'):
        if isinstance(data, list):
            return ','.join('%02x' % int(byte) for byte in data)
        text = re.sub(r'^hex(\([0-9a-fA-F]+\))?:', '', str(data).strip())
        return ','.join(re.sub(r'^0[xX]', '', part.strip()).zfill(2) for part in text.split(','))
    return str(data)


def main():
    module = AnsibleModule(
        argument_spec=vlx_argument_spec(
            path=dict(type='str', required=True, aliases=['key']),
            name=dict(type='str', aliases=['entry', 'value']),
            data=dict(type='raw'),
            type=dict(type='str', default='REG_SZ', aliases=['datatype'],
                      choices=list(TYPES.values()) + list(TYPES)),
            state=dict(type='str', default='present', choices=['absent', 'present']),
            delete_key=dict(type='bool', default=True),
        ),
        supports_check_mode=True,
    )
    p = module.params
    vlx = Vlx(module)
    key, name, kind = key_path(p['path']), p['name'], TYPES.get(p['type'], p['type'])
    if p['state'] == 'present' and name is None and p['data'] is None:
        changes = vlx.change('reg', 'add', '--', key)
    elif p['state'] == 'present':
        name = name or ''
        changes = vlx.change('reg', 'add', '--type', kind, '--data=' + data_text(p['data'], kind),
                             '--', key, name)
    elif name is None and p['delete_key']:
        changes = vlx.change('reg', 'delete', '--if-exists', '--', key)
    else:
        name = name or ''
        changes = vlx.change('reg', 'delete', '--if-exists', '--', key, name)
    ours = [c for c in changes
            if name is not None and 'value' in c and c['value']['name'].lower() == name.lower()]
    before = ours[0].get('before') if ours else None
    vlx.finish(changes,
               data_changed=any(c['change'] in ('add', 'change') for c in ours) and (
                   before is None or before['data'] != ours[0]['value']['data']),
               data_type_changed=before is not None and before['type'] != ours[0]['value']['type'])


if __name__ == '__main__':
    main()
