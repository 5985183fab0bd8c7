#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: pref_info
short_description: Read the Velmora preferences of a section, and the hive each comes from
description:
  - Gives the values of a section that the application reads, each from the first of the user's,
    the machine's and the default user's hive that holds it, as C(vlx pref list --all) shows
    them; for C(when) conditions and templates. Changes nothing.
  - Like C(ansible.windows.win_reg_stat), but following the application's fall-back.
version_added: 0.1.0
options:
  section:
    description: The section, such as C(General); a C(\) reaches a subsection.
    type: str
    required: true
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - velmora.util.vlx
attributes:
  diff_mode:
    support: none
seealso:
  - module: velmora.util.pref
'''

EXAMPLES = r'''
- name: Read the General section
  velmora.util.pref_info:
    section: General
  register: general

- name: Set the machine default only where no user has chosen their own
  velmora.util.pref:
    section: General
    name: Units
    value: mm
    hive: machine
  become: true
  when: general.prefs.Units is not defined or general.prefs.Units.hive != 'user'

- name: Show where Backup Copies comes from
  ansible.builtin.debug:
    msg: "{{ general.prefs['Backup Copies'].value }} from {{ general.prefs['Backup Copies'].hive }}"
  when: "'Backup Copies' in general.prefs"
'''

RETURN = r'''
prefs:
  description:
    - The section's own values that the application reads, by name, each with its C(value)
      (a C(REG_DWORD) as the signed int the application reads), C(type), C(hive) (C(user),
      C(machine) or C(default_user)) and C(key).
  returned: always
  type: dict
  sample: {"Units": {"value": "mm", "type": "REG_SZ", "hive": "machine",
                     "key": "HKEY_LOCAL_MACHINE\\Software\\Velmora\\General"}}
entries:
  description:
    - Every value below the section, subsections included, and those a hive earlier in the
      fall-back hides (C(hidden)); each with C(section), C(name), C(value), C(type) and C(hive).
  returned: always
  type: list
  elements: dict
  sample: [{"section": "General", "name": "Units", "value": "mm", "type": "REG_SZ",
            "hive": "machine", "hidden": false}]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.velmora.util.plugins.module_utils.vlx import (
    HIVE_NAMES, PRODUCT_KEYS, Vlx, host_int, vlx_argument_spec)


def main():
    module = AnsibleModule(
        argument_spec=vlx_argument_spec(section=dict(type='str', required=True)),
        supports_check_mode=True,
    )
    section = module.params['section']
    entries, prefs = [], {}
    for item in Vlx(module).run('pref', 'list', '--all', '--json', '--', section):
        entry = dict(section=item['section'], name=item['name'], type=item['type'],
                     hive=HIVE_NAMES[item['origin']], hidden=item['hidden'],
                     value=host_int(item['data']) if item['type'] == 'REG_DWORD' else item['data'])
        entries.append(entry)
        if not entry['hidden'] and entry['section'].lower() == section.lower():
            key = PRODUCT_KEYS[entry['hive']] + '\\' + entry['section']
            prefs[entry['name']] = dict(value=entry['value'], type=entry['type'],
                                        hive=entry['hive'], key=key)
    module.exit_json(changed=False, prefs=prefs, entries=entries)


if __name__ == '__main__':
    main()
