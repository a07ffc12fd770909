#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: fcloader_read
short_description: Read registers of every flow computer one station's PC reaches
description:
  - Reads each register of I(registers) from every unit with one C(fcloader-cli read --targets
    FILE) (or C(read-block) for a I(count)) and returns the values as the fact C(fcloader_registers),
    a dict of unit name to a dict of register name to value, so that a play can check a
    firmware version or a total before and after a download.
  - Fails the host when any unit could not be read, naming them. Changes nothing, so it runs
    in check mode as well.
  - The units are given, and judged by fcloader-cli, as for M(fcloader.fleet.fcloader_download).
extends_documentation_fragment:
  - fcloader.fleet.units
options:
  registers:
    description:
      - The registers, each an address (as sent on the wire, counted from 0) or a dict of
        C(address), C(name) (the address by default), C(type) (C(int16), C(int32),
        C(float) or C(auto); fcloader-cli's default otherwise), C(float_size),
        C(float_order), or C(count) for a block of 16-bit registers.
    type: list
    elements: raw
    required: true
  targets:
    description: The units, as for M(fcloader.fleet.fcloader_download).
    type: list
    elements: raw
  jobs:
    description: How many units are read at a time; all by default.
    type: int
  skip:
    description:
      - Names of units not to read, reported as C(skipped); a check run passes the units
        M(fcloader.fleet.fcloader_download) found in their loader, which have no application
        to answer until the download recovers them.
    type: list
    elements: str
    default: []
'''

EXAMPLES = r'''
- name: Read the firmware version and the total of each unit
  fcloader.fleet.fcloader_read:
    targets: "{{ fc_units }}"
    registers:
      - {name: firmware, address: 100}
      - {name: total, address: 7001, type: float}
      - {name: alarms, address: 200, count: 4}
- name: Every unit runs version 21
  ansible.builtin.assert:
    that: fcloader_registers | dict2items | map(attribute='value.firmware') | unique == [21]
'''

RETURN = r'''
ansible_facts:
  description: C(fcloader_registers), unit name to register name to value.
  returned: always
  type: dict
  sample: {fcloader_registers: {pump-7: {firmware: 21, total: 1234.5, alarms: [0, 0, 1, 0]}}}
units:
  description: One result per unit (name, outcome, values, message).
  returned: when fcloader-cli ran
  type: list
  elements: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.fcloader.fleet.plugins.module_utils.fcloader import (
    UNIT_ARGUMENTS, UNIT_ARGUMENT_RULES, BadArguments, find_cli, run_fleet, run_words,
    some_units, targets_path, unit_message)

TYPES = ('int16', 'int32', 'float', 'auto')
REGISTER_KEYS = ('name', 'address', 'type', 'count', 'float_size', 'float_order')


def whole_number(value, where, low, high):
    try:
        number = int(value, 0) if isinstance(value, str) else value
    except ValueError:
        number = None
    if isinstance(number, bool) or not isinstance(number, int) or not low <= number <= high:
        raise BadArguments('%s must be a whole number from %d to %d, not %r'
                           % (where, low, high, value))
    return number


def read_words(item, where):
    """The read (or read-block) words of one register of the task."""
    unknown = sorted(set(item) - set(REGISTER_KEYS))
    if unknown:
        raise BadArguments('%s: unknown key %s (known: %s)'
                           % (where, ', '.join(unknown), ', '.join(REGISTER_KEYS)))
    if 'address' not in item:
        raise BadArguments('%s: no address' % where)
    address = str(whole_number(item['address'], where + '.address', 0, 65535))
    if 'count' in item:
        if set(item) & {'type', 'float_size', 'float_order'}:
            raise BadArguments('%s: a block (count) is read as 16-bit registers, without a type'
                               % where)
        return ['read-block', address, str(whole_number(item['count'], where + '.count', 1, 125))]
    words = ['read', address]
    if item.get('type') is not None:
        if item['type'] not in TYPES:
            raise BadArguments('%s.type must be one of %s' % (where, ', '.join(TYPES)))
        words += ['--type', item['type']]
    for key in ('float_size', 'float_order'):
        if item.get(key) is not None:
            words += ['--' + key.replace('_', '-'), str(item[key])]
    return words


def task_registers(registers):
    """(name, words) of each register; raises BadArguments."""
    if not registers:
        raise BadArguments('registers names no register')
    reads = []
    for index, item in enumerate(registers):
        where = 'registers[%d]' % index
        if not isinstance(item, dict):
            item = dict(address=item)
        name = str(item.get('name', item.get('address')))
        if name in (n for n, _ in reads):
            raise BadArguments('%s: two registers are named %s' % (where, name))
        reads.append((name, read_words(item, where)))
    return reads


def number(text):
    for convert in (lambda t: int(t, 0), float):
        try:
            return convert(text)
        except (TypeError, ValueError):
            pass
    return text


def read_units(module, command, reads, targets):
    """Every register from every unit: one fcloader-cli run a register."""
    results = {}
    for name, words in reads:
        _, summary = run_fleet(module, command, words, targets)
        for entry in summary['units']:
            unit = results.setdefault(entry.get('unit'), dict(
                name=entry.get('unit'), outcome='success', values={}, message=''))
            if entry.get('outcome') != 'success':
                if unit['outcome'] == 'success':
                    unit.update(outcome='failed', message='%s: %s' % (name, unit_message(entry)))
            elif 'values' in entry:
                unit['values'][name] = [number(v) for v in entry['values']]
            else:
                unit['values'][name] = number(entry.get('value'))
    return list(results.values())


def main():
    module = AnsibleModule(
        argument_spec=dict(registers=dict(type='list', elements='raw', required=True),
                           skip=dict(type='list', elements='str', default=[]),
                           **UNIT_ARGUMENTS),
        supports_check_mode=True, **UNIT_ARGUMENT_RULES)
    try:
        reads = task_registers(module.params['registers'])
        command = [find_cli(module)] + run_words(module.params)
        targets = targets_path(module)
    except BadArguments as error:
        module.fail_json(msg=str(error))
    results = read_units(module, command, reads, targets)
    # A unit the play knows to be in its loader answers no register of its
    # application: it is reported skipped, not failed.
    for result in results:
        if result['name'] in module.params['skip']:
            result.update(outcome='skipped', values={}, message='')
    facts = dict(fcloader_registers={r['name']: r['values'] for r in results
                                     if r['outcome'] != 'skipped'})
    failed = [r['name'] for r in results if r['outcome'] == 'failed']
    outcome = dict(changed=False, units=results, failed=failed, ansible_facts=facts)
    if failed:
        module.fail_json(msg=some_units(failed, len(results), 'could not be read'), **outcome)
    module.exit_json(msg='%d units read' % len(results), **outcome)


if __name__ == '__main__':
    main()
