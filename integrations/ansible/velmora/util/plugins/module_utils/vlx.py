# -*- coding: utf-8 -*-
# Runs vlx for the velmora.util modules: JSON in and out, a failure ends the module with vlx's
# own message. The modules never open a hive file themselves.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import re
import struct

# The product key of each hive a preference may live in, by the name the modules give it.
PRODUCT_KEYS = {
    'user': 'HKEY_CURRENT_USER\\Software\\Velmora',
    'machine': 'HKEY_LOCAL_MACHINE\\Software\\Velmora',
    'default_user': 'HKEY_USERS\\.DEFAULT\\Software\\Velmora',
}
HIVE_NAMES = {
    'HKEY_CURRENT_USER': 'user',
    'HKEY_LOCAL_MACHINE': 'machine',
    'HKEY_USERS\\.DEFAULT': 'default_user',
}
ROOTS = {'HKCU': 'HKEY_CURRENT_USER', 'HKLM': 'HKEY_LOCAL_MACHINE', 'HKU': 'HKEY_USERS',
         'HKCR': 'HKEY_CLASSES_ROOT'}


def vlx_argument_spec(**options):
    """A module's options with `executable`, which the velmora.util.vlx fragment documents."""
    return dict(options, executable=dict(type='path'))


def key_path(text):
    """A key as vlx reads it: PowerShell's "HKLM:\\Software" as "HKEY_LOCAL_MACHINE\\Software"."""
    root, _, rest = re.sub(r'^(HK[A-Za-z_]+):', r'\1', text).rstrip('\\').partition('\\')
    root = ROOTS.get(root.upper(), root.upper())
    return root + '\\' + rest if rest else root


def below(key, scope):
    """Whether `key` is `scope` or lies below it; names ignore letter case."""
    key, scope = key.lower(), key_path(scope).lower()
    return key == scope or key.startswith(scope + '\\')


def host_int(data):
    """A REG_DWORD as the library's int reads it (signed)."""
    return data - (1 << 32) if isinstance(data, int) and data >= 1 << 31 else data


TYPE_NUMBERS = {'REG_NONE': 0, 'REG_SZ': 1, 'REG_EXPAND_SZ': 2, 'REG_BINARY': 3, 'REG_DWORD': 4,
                'REG_MULTI_SZ': 7, 'REG_QWORD': 11}


def _quoted(text):
    return '"%s"' % text.replace('\\', '\\\\').replace('"', '\\"')


def _value_line(value):
    """A value as `vlx reg export` writes it: "Name"="text", dword:0000000a, hex(7):61,00,00."""
    name = '@' if value['name'] == '' else _quoted(value['name'])
    kind, data = value['type'], value['data']
    if kind == 'REG_SZ':
        return '%s=%s\n' % (name, _quoted(data))
    if kind == 'REG_DWORD' and isinstance(data, int):
        return '%s=dword:%08x\n' % (name, data)
    if isinstance(data, list):
        raw = b''.join(part.encode('utf-8') + b'\0' for part in data) + b'\0'
    elif isinstance(data, int):
        raw = struct.pack('<Q', data)
    elif kind == 'REG_EXPAND_SZ':
        raw = data.encode('utf-8') + b'\0'
    else:
        raw = bytearray.fromhex(data)
    number = TYPE_NUMBERS[kind] if kind in TYPE_NUMBERS else int(kind[len('REG_TYPE_'):])
    return '%s=%s:%s\n' % (name, 'hex' if number == 3 else 'hex(%x)' % number,
                           ','.join('%02x' % byte for byte in bytearray(raw)))


def diff_of(changes):
    """Before and after of the keys and values that changed, as `[KEY]` sections."""
    sides = ({}, {})
    for change in changes:
        kind, key = change['change'], change['key']
        if kind == 'add key':
            sides[1].setdefault(key, [])
        elif kind == 'remove key':
            sides[0].setdefault(key, [])
        else:
            if kind != 'add':
                before = change.get('before', change['value'])
                sides[0].setdefault(key, []).append(_value_line(before))
            if kind != 'remove':
                sides[1].setdefault(key, []).append(_value_line(change['value']))
    return [''.join('[%s]\n%s' % (key, ''.join(lines))
                    for key, lines in sorted(side.items(), key=lambda item: item[0].lower()))
            for side in sides]


class Vlx(object):
    def __init__(self, module):
        self.module = module
        path = module.params.get('executable')
        if path is None:
            path = module.get_bin_path('vlx')
            if path is None:
                module.fail_json(msg='vlx was not found on PATH: install the vlx package, '
                                     'or name the program with the executable option')
        elif not (os.path.isfile(path) and os.access(path, os.X_OK)):
            module.fail_json(msg='vlx was not found: %s is no executable file' % path)
        self.path = path

    def run(self, *args):
        """vlx's JSON answer; notes it prints become warnings."""
        cmd = [self.path] + list(args)
        rc, out, err = self.module.run_command(cmd)
        lines = err.strip().splitlines()
        if rc != 0:
            self.module.fail_json(msg=lines[-1] if lines else 'vlx exited with status %d' % rc,
                                  rc=rc, cmd=cmd, stderr=err)
        for line in lines:
            self.module.warn(line)
        try:
            return json.loads(out)
        except ValueError:
            self.module.fail_json(msg='vlx printed no JSON document', cmd=cmd, stdout=out)

    def change(self, *args):
        """The changes a changing command ("reg", "add", ...) made, or in check mode would make."""
        options = ['--json'] + (['--dry-run'] if self.module.check_mode else [])
        return self.run(*(list(args[:2]) + options + list(args[2:])))['changes']

    def finish(self, changes, **result):
        if self.module._diff:
            before, after = diff_of(changes)
            result['diff'] = dict(before=before, after=after)
        self.module.exit_json(changed=bool(changes), changes=changes, **result)
