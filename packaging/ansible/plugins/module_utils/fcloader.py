# -*- coding: utf-8 -*-
# What fcloader_download and fcloader_read share: the units a task names,
# checked before fcloader-cli runs, and one fcloader-cli run per unit.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import re
import shlex
from concurrent.futures import ThreadPoolExecutor

# The option words a unit's line may carry, as the task's keys spell them.
UNIT_OPTIONS = ('port', 'device', 'baud', 'parity', 'data_bits', 'stop_bits', 'mode',
                'tcp', 'encapsulated', 'unit', 'timeout', 'retry')
FLAG_OPTIONS = ('encapsulated',)
NAME_PATTERN = re.compile(r'^[A-Za-z0-9_.:@-]+$')

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


class Unit:
    def __init__(self, line, name, words):
        self.line = line
        self.name = name
        self.words = words

    def target_line(self):
        return ' '.join(quote_word(w) for w in ['name=' + self.name] + self.words)


def quote_word(word):
    if word and not re.search(r'[\s"\']', word):
        return word
    return "'" + word + "'" if "'" not in word else '"' + word + '"'


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
        text = str(value)
        if '\n' in text or ('"' in text and "'" in text):
            raise BadArguments('%s: %s has a character a targets line cannot hold' % (where, key))
        words += [flag, text]
    return words


def split_line(text):
    """A targets line's words, split as fcloader-cli splits them."""
    lexer = shlex.shlex(text, posix=True)
    lexer.whitespace_split = True
    lexer.escape = ''
    lexer.commenters = ''
    try:
        return list(lexer)
    except ValueError:
        return None


def word_after(words, option):
    for index, word in enumerate(words[:-1]):
        if word == option:
            return words[index + 1]
    return None


def default_name(words, line):
    """The name fcloader-cli gives a unit whose line names none."""
    tcp = word_after(words, '--tcp')
    if tcp:
        return tcp if ':' in tcp else tcp + ':502'
    device = word_after(words, '--device')
    if device:
        return device.rsplit('/', 1)[-1]
    port = word_after(words, '--port')
    return 'COM' + port if port else 'line%d' % line


def unit_from_text(text, line, where):
    words = split_line(text)
    if words is None:
        raise BadArguments('%s: unclosed quote' % where)
    name = None
    if words and words[0].startswith('name='):
        name = words.pop(0)[len('name='):]
    return Unit(line, name or default_name(words, line), words)


def unit_from_item(item, line):
    where = 'targets[%d]' % (line - 1)
    if isinstance(item, str):
        if '\n' in item or not item.strip():
            raise BadArguments('%s: a unit is one non-empty line' % where)
        return unit_from_text(item, line, where)
    if not isinstance(item, dict):
        raise BadArguments('%s: a unit is a dict of options or a targets line' % where)
    options = dict(item)
    name = options.pop('name', None)
    words = option_words(options, where)
    return Unit(line, str(name) if name is not None else default_name(words, line), words)


def units_from_file(path):
    try:
        with open(path, encoding='utf-8', errors='replace') as handle:
            lines = handle.read().splitlines()
    except OSError as error:
        raise BadArguments('targets_file %s: %s' % (path, error.strerror))
    units = []
    for number, text in enumerate(lines, 1):
        if text.strip() and not text.strip().startswith('#'):
            units.append(unit_from_text(text, number, '%s line %d' % (path, number)))
    return units


def check_names(units):
    seen = {}
    for unit in units:
        if not NAME_PATTERN.match(unit.name):
            raise BadArguments('unit name %r: a name takes letters, digits and - _ . : @'
                               % unit.name)
        if unit.name in seen:
            raise BadArguments('two units are named %s' % unit.name)
        seen[unit.name] = unit


def task_units(params):
    """The units a task names, checked; raises BadArguments."""
    if params['jobs'] is not None and params['jobs'] < 1:
        raise BadArguments('jobs must be 1 or more, not %d' % params['jobs'])
    if params['targets_file'] is not None:
        units = units_from_file(params['targets_file'])
    else:
        units = [unit_from_item(item, line) for line, item in enumerate(params['targets'], 1)]
    if not units:
        raise BadArguments('the targets name no unit')
    check_names(units)
    return units


def run_words(params):
    return option_words(params['settings'], 'settings')


def find_cli(module):
    executable = module.params['executable']
    path = module.get_bin_path(executable, required=False)
    if not path:
        raise BadArguments('%s was not found on this host: install the fcloader package, or '
                           'name the program with executable' % executable)
    return path


def run_json(module, args):
    """Runs fcloader-cli once; its exit status, last JSON object and standard error."""
    rc, out, err = module.run_command(args)
    return rc, last_json(out), err.strip()


def last_json(text):
    for line in reversed(text.splitlines()):
        line = line.strip()
        if line.startswith('{'):
            try:
                return json.loads(line)
            except ValueError:
                return None
    return None


def first_message(result, err, fallback):
    messages = (result or {}).get('messages') or []
    if messages:
        return messages[0]
    return err or fallback


def line_of(unit):
    """What the unit's line is known by in its words; units without one share the task's."""
    for option in ('--device', '--port', '--tcp'):
        value = word_after(unit.words, option)
        if value:
            return option, value if option != '--tcp' or ':' in value else value + ':502'
    return None


def for_each_unit(units, jobs, work):
    """work(unit) for every unit, in order: the units of one line one after the other (a
    serial device opens once, a gateway's units answer one at a time), `jobs` lines at a
    time (all at once by default)."""
    lines = {}
    for unit in units:
        lines.setdefault(line_of(unit), []).append(unit)
    with ThreadPoolExecutor(max_workers=jobs or len(lines)) as pool:
        done = list(pool.map(lambda line: [(unit, work(unit)) for unit in line], lines.values()))
    results = {id(unit): result for line in done for unit, result in line}
    return [results[id(unit)] for unit in units]


def some_units(names, total, what):
    return '%d of %d units %s: %s' % (len(names), total, what, ', '.join(names))


def usable_file(path, what):
    if not os.path.isfile(path):
        raise BadArguments('%s %s is not a file on this host' % (what, path))
