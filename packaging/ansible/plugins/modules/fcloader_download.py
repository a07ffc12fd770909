#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: fcloader_download
short_description: Flash every flow computer one station's PC reaches
description:
  - Runs C(fcloader-cli download IMAGE --yes --targets FILE --json) on the managed host, which
    flashes every unit the targets name, each on its own line and thread, all at once or
    I(jobs) at a time.
  - Returns one result per unit; changed when any unit was flashed; fails the host when any
    unit failed, naming them.
  - In check mode nothing is flashed; every unit is asked with C(fcloader-cli test --targets FILE)
    whether it answers, and whether it answers from its loader (a unit left in download mode,
    which the download recovers: C(would be recovered)); with I(skip_when), a unit whose register
    already reads the value is reported as C(would be skipped).
  - With I(skip_when) a unit that already reads the value is not flashed (C(skipped), not
    changed), so a rerun with nothing left to do changes nothing; with I(verify) a unit
    flashed must read the value after its reset, or it fails.
  - The units go to fcloader-cli as a targets file, which fcloader-cli alone reads: a line it
    refuses (a word that is no unit option, C(--save), C(--capture), a command, a NUL byte, a
    file over 1 MB) fails the task with fcloader-cli's message, in check mode as in a real run,
    before any unit is touched. Whatever a unit leaves out comes from I(settings), then from the
    profile fcloader keeps for the user the task runs as.
extends_documentation_fragment:
  - fcloader.fleet.units
options:
  image:
    description: The firmware image, a file on the managed host.
    type: path
    required: true
  targets:
    description:
      - The units, one item each, in the order of a targets file. An item is a dict of
        C(name) and the unit's options (C(port), C(device), C(baud), C(parity),
        C(data_bits), C(stop_bits), C(mode), C(tcp), C(encapsulated), C(unit), C(timeout),
        C(retry)), or a targets line as fcloader-cli reads it
        (C(name=pump-7 --device /dev/ttyUSB0 --baud 19200)).
      - A unit without a name is named as fcloader-cli names it (C(HOST:PORT), the device's
        file name, C(COMn)).
    type: list
    elements: raw
  jobs:
    description: How many units are flashed (or asked, in check mode) at a time; all by default.
    type: int
  log_dir:
    description: Where fcloader-cli keeps each unit's trace, as C(NAME.log).
    type: path
  sha256:
    description:
      - The image's sha256 (64 hex digits, as sha256sum prints it). fcloader-cli reads the image
        once, and refuses it before any unit is touched when the digest of the bytes it read,
        the bytes it would flash, is another.
    type: str
  skip_when:
    description:
      - C(address) and C(value) of a 16-bit holding register (its firmware version, say) that
        reads the value on a unit already running the image; such a unit is left alone
        (fcloader-cli's C(--unless)).
    type: dict
  verify:
    description:
      - C(address) and C(value) of a register the unit must read after the download and its
        reset; a unit that reads anything else fails (fcloader-cli's C(--expect)).
    type: dict
'''

EXAMPLES = r'''
- name: Flash the units of this station
  fcloader.fleet.fcloader_download:
    image: /var/tmp/fcloader/fw-2.1.img
    sha256: 0d5f2c0f0b6a8e2d51b4b7f5a3c9e1d2f8a7b6c5d4e3f2a1b0c9d8e7f6a5b4c3
    targets:
      - {name: pump-7, device: /dev/ttyUSB0, baud: 19200}
      - {name: meter-3, tcp: "10.0.0.5:502"}
      - name=meter-4 --tcp 10.0.0.6 --encapsulated --unit 2
    settings: {unit: 5}
    jobs: 4
    log_dir: /var/log/fcloader
    skip_when: {address: 100, value: 22}
    verify: {address: 100, value: 22}
'''

RETURN = r'''
units:
  description:
    - One result per unit, in the targets' order. C(outcome) is fcloader-cli's (C(success),
      C(failed), C(skipped), C(interrupted)); in check mode C(answers), C(would be skipped),
      C(would be recovered), C(no answer) or C(refused).
    - C(loader_version) is given where fcloader-cli reports it (in check mode, for a unit
      found in its loader), and null otherwise.
  returned: when fcloader-cli ran
  type: list
  elements: dict
  sample: [{name: pump-7, outcome: success, seconds: 17.3,
            message: Download completed successfully., loader_version: null}]
flashed:
  description: The names of the units flashed.
  returned: when fcloader-cli ran
  type: list
skipped:
  description: The names of the units left alone by I(skip_when) (in check mode, that would be).
  returned: when fcloader-cli ran
  type: list
failed:
  description: The names of the units that failed (in check mode, that do not answer).
  returned: when fcloader-cli ran
  type: list
rc:
  description: fcloader-cli's exit status (0 all flashed, 1 a unit failed, 2 refused, 128 + N stopped by signal N).
  returned: when the download ran
  type: int
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.fcloader.fleet.plugins.module_utils.fcloader import (
    UNIT_ARGUMENTS, UNIT_ARGUMENT_RULES, BadArguments, find_cli, run_fleet, run_words,
    some_units, targets_path, unit_message, usable_file)

SIGNAL_EXIT = 128


def probe_outcome(entry):
    if entry.get('outcome') == 'success':
        return 'answers'
    return 'would be recovered' if entry.get('loader_version') is not None else 'no answer'


def probe_result(entry):
    return dict(name=entry.get('unit'), outcome=probe_outcome(entry),
                seconds=entry.get('seconds'), message=unit_message(entry),
                loader_version=entry.get('loader_version'))


def already_there(module, command, targets):
    """The names of the units whose skip_when register reads its value."""
    check = module.params['skip_when']
    _, summary = run_fleet(module, command, ['read', str(check['address']), '--type', 'int16'],
                           targets)
    return {entry.get('unit') for entry in summary['units']
            if entry.get('outcome') == 'success' and str(entry.get('value')) == str(check['value'])}


CHECK_DONE = ('answers', 'would be skipped', 'would be recovered')


def check_units(module, command, targets):
    _, summary = run_fleet(module, command, ['test'], targets)
    results = [probe_result(entry) for entry in summary['units']]
    if module.params['skip_when']:
        there = already_there(module, command, targets)
        for result in results:
            if result['outcome'] == 'answers' and result['name'] in there:
                result['outcome'] = 'would be skipped'
                result['message'] = 'already at %s' % module.params['skip_when']['value']
    failed = [r['name'] for r in results if r['outcome'] not in CHECK_DONE]
    skipped = [r['name'] for r in results if r['outcome'] == 'would be skipped']
    outcome = dict(changed=False, units=results, flashed=[], failed=failed, skipped=skipped)
    if not os.path.isfile(module.params['image']):
        outcome['image'] = 'not on this host yet (a check run copies nothing)'
    if failed:
        module.fail_json(msg=some_units(failed, len(results), 'would not be flashed'), **outcome)
    module.exit_json(msg='all %d units answer' % len(results), **outcome)


def register_check(params, key):
    """The words of skip_when or verify; raises BadArguments."""
    check = params[key]
    if check is None:
        return []
    if set(check) != {'address', 'value'}:
        raise BadArguments('%s takes address and value' % key)
    for name, high in (('address', 65535), ('value', 65535)):
        value = check[name]
        if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= high:
            raise BadArguments('%s.%s must be a whole number from 0 to %d' % (key, name, high))
    option = {'skip_when': '--unless', 'verify': '--expect'}[key]
    return [option, '%d=%d' % (check['address'], check['value'])]


def unit_result(entry):
    return dict(name=entry.get('unit'), outcome=entry.get('outcome'),
                seconds=entry.get('seconds'), message=unit_message(entry),
                loader_version=entry.get('loader_version'))


def flash_units(module, command, targets):
    words = ['download', module.params['image'], '--yes']
    if module.params['sha256']:
        words += ['--sha256', module.params['sha256']]
    if module.params['log_dir']:
        words += ['--log-dir', module.params['log_dir']]
    words += register_check(module.params, 'skip_when') + register_check(module.params, 'verify')
    rc, summary = run_fleet(module, command, words, targets)
    results = [unit_result(entry) for entry in summary['units']]
    flashed = [r['name'] for r in results if r['outcome'] == 'success']
    skipped = [r['name'] for r in results if r['outcome'] == 'skipped']
    failed = [r['name'] for r in results if r['outcome'] not in ('success', 'skipped')]
    outcome = dict(changed=bool(flashed), units=results, flashed=flashed, skipped=skipped,
                   failed=failed, rc=rc, seconds=summary.get('seconds'))
    if rc > SIGNAL_EXIT:
        module.fail_json(msg='fcloader-cli was stopped by signal %d; not flashed: %s'
                         % (rc - SIGNAL_EXIT, ', '.join(failed)), **outcome)
    if failed or rc != 0:
        module.fail_json(msg=some_units(failed, len(results), 'failed'), **outcome)
    module.exit_json(msg='%d of %d units flashed, %d already at the image'
                     % (len(flashed), len(results), len(skipped)), **outcome)


def main():
    module = AnsibleModule(
        argument_spec=dict(image=dict(type='path', required=True), log_dir=dict(type='path'),
                           sha256=dict(type='str'), skip_when=dict(type='dict'),
                           verify=dict(type='dict'), **UNIT_ARGUMENTS),
        supports_check_mode=True, **UNIT_ARGUMENT_RULES)
    try:
        command = [find_cli(module)] + run_words(module.params)
        register_check(module.params, 'skip_when')
        register_check(module.params, 'verify')
        if not module.check_mode:
            usable_file(module.params['image'], 'image')
        targets = targets_path(module)
    except BadArguments as error:
        module.fail_json(msg=str(error))
    if module.check_mode:
        check_units(module, command, targets)
    flash_units(module, command, targets)


if __name__ == '__main__':
    main()
