# -*- coding: utf-8 -*-
# What fcloader_download and fcloader_read share: the units a task names,
# handed to fcloader-cli as a targets file that fcloader-cli alone reads and
# judges, and one fcloader-cli run over them.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os

# The option words a unit's line may carry, as the task's keys spell them.
UNIT_OPTIONS = ('port', 'device', 'baud', 'parity', 'data_bits', 'stop_bits', 'mode',
                'tcp', 'encapsulated', 'unit', 'timeout', 'retry')
FLAG_OPTIONS = ('encapsulated',)

# fcloader-cli's exit status for usage or input it refuses, before any unit is touched.
EXIT_REFUSED = 2

UNIT_ARGUMENTS = dict(
    targets=dict(type='list', elements='raw'),
    targets_file=dict(type='path'),
    settings=dict(type='dict', default={}),
    jobs=dict(type='int'),
    executable=dict(type='str', default='fcloader-cli'),
)
UNIT_ARGUMENT_RULES = dict(
    mutually_exclusive=[('targets', 'targets_file')],
    required_one_of=[('targets', 'targets_file')],
)


class BadArguments(Exception):
    pass


def quote_word(word):
    """One word of a targets line, kept whole by fcloader-cli's splitter:
    inside '...' every byte stands for itself, and a ' is written '\\''."""
    return "'" + word.replace("'", "'\\''") + "'"


def option_words(options, where):
    """A dict of unit options as the command line's words."""
    if not isinstance(options, dict):
        raise BadArguments('%s must be a dict of unit options' % where)
    words = []
    for key, value in options.items():
        if key not in UNIT_OPTIONS:
            raise BadArguments('%s: unknown option %s (known: %s)'
                               % (where, key, ', '.join(UNIT_OPTIONS)))
        flag = '--' + key.replace('_', '-')
        if key in FLAG_OPTIONS:
            if not isinstance(value, bool):
                raise BadArguments('%s: %s takes true or false' % (where, key))
            words += [flag] if value else []
            continue
        if isinstance(value, (bool, dict, list)) or value is None or str(value) == '':
            raise BadArguments('%s: %s takes one value, not %r' % (where, key, value))
        words += [flag, str(value)]
    return words


def target_line(item, line):
    """Item `line` of a task's targets as line `line` of a targets file: a
    dict's words quoted, a string as it is (fcloader-cli judges both)."""
    where = 'targets[%d]' % (line - 1)
    if isinstance(item, str):
        if '\n' in item or '\r' in item:
            raise BadArguments('%s: a unit is one line' % where)
        return item
    if not isinstance(item, dict):
        raise BadArguments('%s: a unit is a dict of options or a targets line' % where)
    options = dict(item)
    name = options.pop('name', None)
    words = (['name=%s' % name] if name is not None else []) + option_words(options, where)
    if any('\n' in word or '\r' in word for word in words):
        raise BadArguments('%s: a value holds a line break' % where)
    return ' '.join(quote_word(word) for word in words)


def targets_path(module):
    """The targets file fcloader-cli is given: the task's own, or one made of
    its targets in the module's private temporary folder."""
    params = module.params
    if params['jobs'] is not None and params['jobs'] < 1:
        raise BadArguments('jobs must be 1 or more, not %d' % params['jobs'])
    if params['targets_file'] is not None:
        return params['targets_file']
    lines = [target_line(item, line) for line, item in enumerate(params['targets'], 1)]
    path = os.path.join(module.tmpdir, 'targets.txt')
    with open(path, 'w', encoding='utf-8', errors='surrogateescape') as handle:
        handle.write(''.join(text + '\n' for text in lines))
    return path


def run_words(params):
    return option_words(params['settings'], 'settings')


def find_cli(module):
    executable = module.params['executable']
    path = module.get_bin_path(executable, required=False)
    if not path:
        raise BadArguments('%s was not found on this host: install the fcloader package, or '
                           'name the program with executable' % executable)
    return path


def last_json(text):
    for line in reversed(text.splitlines()):
        line = line.strip()
        if line.startswith('{'):
            try:
                return json.loads(line)
            except ValueError:
                return None
    return None


def run_fleet(module, command, words, targets):
    """fcloader-cli `words` --targets FILE --json over every unit; the units
    of its summary. A run that fcloader-cli refused (or that gave no summary)
    fails the task with fcloader-cli's own message."""
    args = command + words + ['--targets', targets, '--json']
    if module.params['jobs']:
        args += ['--jobs', str(module.params['jobs'])]
    rc, out, err = module.run_command(args)
    summary = last_json(out)
    if rc == EXIT_REFUSED or not summary or 'units' not in summary:
        reason = err.strip() or 'fcloader-cli ended with status %d and no summary' % rc
        if 'targets: line ' in reason and module.params['targets'] is not None:
            reason += ' (line N of the targets is item N of the task\'s targets)'
        module.fail_json(msg=reason, rc=rc, cmd=args, changed=False)
    return rc, summary


def unit_message(entry):
    return entry.get('message') or ''


def some_units(names, total, what):
    return '%d of %d units %s: %s' % (len(names), total, what, ', '.join(names))


def usable_file(path, what):
    if not os.path.isfile(path):
        raise BadArguments('%s %s is not a file on this host' % (what, path))
