# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    # The options every module of the collection reads its units with, beside
    # its own I(targets) and I(jobs).
    DOCUMENTATION = r'''
options:
  targets_file:
    description:
      - A targets file on the managed host, instead of I(targets). fcloader-cli reads it and
        refuses what it refuses; the module hands it over as it is.
    type: path
  settings:
    description: Options for every unit (the command line's), with the same keys as a unit.
    type: dict
    default: {}
  executable:
    description: The fcloader-cli program, by name or path.
    type: str
    default: fcloader-cli
'''
