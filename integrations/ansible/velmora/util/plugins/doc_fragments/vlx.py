# -*- coding: utf-8 -*-
# What the documentation of every velmora.util module shares (DOCUMENTATION), and of every one
# that changes the store (CHANGES, as velmora.util.vlx.changes).
from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  executable:
    description:
      - The C(vlx) program to run, for one outside C(PATH) (a build tree, say).
      - By default C(vlx) is looked for on C(PATH).
    type: path
attributes:
  check_mode:
    support: full
  platform:
    platforms: posix
requirements:
  - C(vlx) on the managed host (the C(vlx) package).
notes:
  - The modules work through C(vlx) and never open a hive file themselves, so the library's
    checks and its all-or-nothing transactions apply as they do on the command line.
  - C(VELMORA_REGISTRY_DIR) in the task's C(environment) moves all three hives to that
    directory, for tests.
  - A failure reports the one line C(vlx) printed, and nothing is changed.
author:
  - velmora-util developers
'''

    CHANGES = r'''
attributes:
  check_mode:
    details: C(vlx --dry-run) makes the change in a transaction that it rolls back, so every
      check of a real run applies.
  diff_mode:
    support: full
    details: The keys and values that change, before and after, as C(vlx reg export) writes them.
'''
