#!/usr/bin/python3
# The collection as a rollout uses it: three stations on this machine, each
# with its own fcsim units, one made to fail; then the modules' argument checks.
import hashlib, json, os, shutil, signal, socket, subprocess, sys, tempfile, unittest

CLI, FCSIM, SOURCE = (os.environ[k] for k in ('FCLOADER_CLI', 'FCSIM', 'FC_COLLECTION'))
TMP = tempfile.mkdtemp(prefix='fc-ansible-')
IMAGE = bytes(range(256)) * 12  # three sectors
PLAYBOOK = os.path.join(SOURCE, 'examples', 'flash-stations.yml')
# Ansible writes only below TMP, and never asks the network.
ENV = dict(os.environ, HOME=TMP, XDG_CONFIG_HOME=TMP + '/config', ANSIBLE_HOME=TMP + '/ansible',
           ANSIBLE_CONFIG=TMP + '/ansible.cfg', ANSIBLE_LOCAL_TEMP=TMP + '/local',
           ANSIBLE_REMOTE_TEMP=TMP + '/remote', ANSIBLE_COLLECTIONS_PATH=TMP + '/collections',
           ANSIBLE_GALAXY_CACHE_DIR=TMP + '/cache', ANSIBLE_RETRY_FILES_ENABLED='0',
           ANSIBLE_NOCOLOR='1', ANSIBLE_PYTHON_INTERPRETER='/usr/bin/python3',
           PYTHONPATH=TMP + '/collections')
GALAXY, PLAY = '/usr/bin/ansible-galaxy', '/usr/bin/ansible-playbook'  # Debian's ansible-core
MODULES = TMP + '/collections/ansible_collections/fcloader/fleet/plugins/modules/'


def run(*args, **kwargs):
    return subprocess.run(args, env=ENV, cwd=TMP, capture_output=True, text=True, **kwargs)


class Unit:
    def __init__(self, name, *options):
        self.name, self.flash_file = name, '%s/%s.flash' % (TMP, name)
        self.process = subprocess.Popen(
            [FCSIM, '--reset-ms', '0', '--set', '100=21', '--after-download', '100=22',
             '--flash-out', self.flash_file,
             '--control', '%s/%s.ctl' % (TMP, name)] + list(options),
            stdout=subprocess.PIPE, text=True)
        self.endpoints = dict(line.split() for line in iter(self.process.stdout.readline, 'ready\n'))

    def tcp(self, kind='modbus-tcp'):
        return self.endpoints[kind]

    def flash(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(10)
        with open(self.flash_file, 'rb') as handle:
            return handle.read()


def control(unit, command):
    with socket.socket(socket.AF_UNIX) as peer:
        peer.connect('%s/%s.ctl' % (TMP, unit))
        peer.sendall(command.encode() + b'\n')
        return peer.makefile().readline().strip()


def station(name, units):
    return {'ansible_connection': 'local', 'fc_units': units, 'fc_remote_dir': TMP + '/' + name,
            'fc_cli': CLI, 'fc_settings': {'timeout': 1, 'retry': 0}}


def setUpModule():
    global UNITS
    with open(TMP + '/ansible.cfg', 'w'), open(TMP + '/fw.img', 'wb') as image:
        image.write(IMAGE)
    built = run(GALAXY, 'collection', 'build', SOURCE, '--output-path', TMP)
    assert built.returncode == 0, built.stdout + built.stderr
    for source, path in ((SOURCE, TMP + '/from-folder'), (built.stdout.split()[-1], ENV['ANSIBLE_COLLECTIONS_PATH'])):
        installed = run(GALAXY, 'collection', 'install', '--offline', source, '-p', path)
        assert installed.returncode == 0, installed.stdout + installed.stderr
    UNITS = {name: Unit(name, *options) for name, options in (
        ('a1', ['--tcp-port', '0']), ('a2', ['--pty', '--link', TMP + '/ttyA2']),
        ('b1', ['--rtu-tcp-port', '0']),
        ('c1', ['--tcp-port', '0']), ('c2', ['--tcp-port', '0', '--fault', 'flash-failed']))}
    inventory = {'stations': {'hosts': {
        'station-a': station('station-a', [{'name': 'a1', 'tcp': UNITS['a1'].tcp()},
                                           {'name': 'a2', 'device': TMP + '/ttyA2', 'baud': 9600}]),
        'station-b': station('station-b', ['name=b1 --encapsulated --tcp ' + UNITS['b1'].tcp('rtu-tcp')]),
        'station-c': station('station-c', [{'name': 'c1', 'tcp': UNITS['c1'].tcp()},
                                           {'name': 'c2', 'tcp': UNITS['c2'].tcp()}])},
        'vars': {'fc_image': TMP + '/fw.img', 'fc_image_sha256': hashlib.sha256(IMAGE).hexdigest(),
                 'fc_registers': [{'name': 'firmware', 'address': 100}],
                 'fc_skip_when': {'address': 100, 'value': 22}, 'fc_verify': {'address': 100, 'value': 22}}}}
    with open(TMP + '/inventory.json', 'w') as handle:
        json.dump(inventory, handle)


def tearDownModule():
    for unit in UNITS.values():
        unit.process.kill()
    shutil.rmtree(TMP, ignore_errors=True)


def playbook(*options):
    done = run(PLAY, '-i', TMP + '/inventory.json', PLAYBOOK, *options, timeout=100)
    print(done.stdout, done.stderr, sep='\n', file=sys.stderr)
    return done


class Rollout(unittest.TestCase):
    def test_check_run_then_rollout_flashes_good_units_and_names_the_failing_one(self):
        check = playbook('--check')
        self.assertEqual(check.returncode, 0)
        for unit in UNITS:
            self.assertRegex(check.stdout, r'station-\w  %s +answers .*firmware=21' % unit)
        self.assertFalse(os.path.exists(TMP + '/station-a'))
        self.assertIn('5 of 5 units done; stations failed: none', check.stdout)
        self.assertEqual({control(name, 'flash-size') for name in UNITS}, {'ok 0'})
        flashed = playbook()
        self.assertEqual(flashed.returncode, 2)  # a host failed
        self.assertRegex(flashed.stdout, r'station-c +c2 +failed .*Flash write failed')
        self.assertRegex(flashed.stdout, r'4 of 5 units done; stations failed: station-c')
        self.assertRegex(flashed.stdout, r'station-a +: ok=\d+ +changed=[1-9].* failed=0')
        self.assertRegex(flashed.stdout, r'station-c +: .* failed=1')
        rerun = playbook('--limit', 'station-a,station-b')  # nothing left to do there
        self.assertEqual(rerun.returncode, 0)
        self.assertRegex(rerun.stdout, r'station-a +a1 +skipped .*already at 22.*firmware=22')
        self.assertRegex(rerun.stdout, r'station-a +: ok=\d+ +changed=0 .* failed=0')
        self.assertRegex(rerun.stdout, r'station-b +: ok=\d+ +changed=0 .* failed=0')
        flashes = {name: unit.flash() for name, unit in UNITS.items()}
        self.assertEqual([n for n, f in flashes.items() if f == IMAGE], ['a1', 'a2', 'b1', 'c1'])


class Tampering(unittest.TestCase):
    # The image swapped on the station after the copy was checked (the program
    # swaps it as it starts), and, as root, a folder another user made first.
    def test_a_swapped_image_or_a_foreign_folder_flashes_nothing(self):
        unit = Unit('d1', '--tcp-port', '0')
        self.addCleanup(unit.process.kill)
        with open(TMP + '/other.img', 'wb') as other, open(TMP + '/swapper', 'w') as script:
            other.write(IMAGE[::-1])
            script.write('#!/bin/sh\nfor w; do case "$w" in *.img) cp %s/other.img "$w";; esac; done\n'
                         'exec %s "$@"\n' % (TMP, CLI))
        os.chmod(TMP + '/swapper', 0o755)
        hosts = {'station-d': dict(station('station-d', [{'name': 'd1', 'tcp': unit.tcp()}]),
                                   fc_cli=TMP + '/swapper')}
        if os.geteuid() == 0:
            os.mkdir(TMP + '/station-e', 0o777)
            os.chown(TMP + '/station-e', 65534, 65534)
            hosts['station-e'] = station('station-e', [{'name': 'e1', 'tcp': unit.tcp()}])
        inventory = json.load(open(TMP + '/inventory.json'))
        inventory['stations']['hosts'] = hosts
        with open(TMP + '/tampered.json', 'w') as handle:
            json.dump(inventory, handle)
        done = run(PLAY, '-i', TMP + '/tampered.json', PLAYBOOK, timeout=100)
        print(done.stdout, done.stderr, sep='\n', file=sys.stderr)
        self.assertEqual(done.returncode, 2)
        self.assertRegex(done.stdout, r"station-d .*The image's sha256 is not the one given")
        if os.geteuid() == 0:
            self.assertRegex(done.stdout, r"station-e .*station-e is not a folder of root's own")
        self.assertEqual(control('d1', 'flash-size'), 'ok 0')


GOOD = {'image': TMP + '/fw.img', 'targets': [{'name': 'a', 'tcp': '127.0.0.1:1'}]}
# module, arguments over GOOD's, what the message says; the program never runs.
BAD_ARGUMENTS = [
    ('download', {'image': None}, 'missing required arguments: image'),
    ('download', {'targets': None}, 'one of the following is required: targets, targets_file'),
    ('download', {'targets_file': TMP + '/t'}, 'mutually exclusive: targets|targets_file'),
    ('download', {'targets': [{'name': 'a', 'speed': 1}]}, 'targets[0]: unknown option speed'),
    ('download', {'targets': [{'name': 'a', 'tcp': ['x']}]}, 'targets[0]: tcp takes one value'),
    ('download', {'targets': [{'tcp': 'h', 'encapsulated': 'yes'}]}, 'encapsulated takes true or false'),
    ('download', {'settings': {'baud': None}}, 'settings: baud takes one value'),
    ('download', {'jobs': 0}, 'jobs must be 1 or more'),
    ('download', {'targets': ['name=a --tcp h\n--save']}, 'targets[0]: a unit is one line'),
    ('download', {'image': TMP + '/none.img'}, 'image %s/none.img is not a file' % TMP),
    ('download', {'executable': 'no-such-cli'}, 'no-such-cli was not found on this host'),
    ('read', {'registers': []}, 'registers names no register'),
    ('read', {'registers': [70000]}, 'registers[0].address must be a whole number from 0 to 65535'),
    ('read', {'registers': [{'address': 1, 'count': 2, 'type': 'float'}]}, 'without a type'),
    ('read', {'registers': [{'address': 1, 'size': 2}]}, 'registers[0]: unknown key size'),
    ('read', {'registers': [{'address': 1, 'type': 'bcd'}]}, 'type must be one of int16'),
    ('read', {'registers': [1, {'address': 2, 'name': '1'}]}, 'two registers are named 1'),
]


TOO_LARGE, WITH_NUL = TMP + '/large-targets', TMP + '/nul-targets'
VICTIM = TMP + '/victim.txt'
# Targets fcloader-cli refuses, with its message, in check mode as in a real run,
# before any unit is touched: the modules never split a line themselves.
REFUSED_BY_CLI = [
    ({'targets_file': TMP + '/none'}, 'cannot read %s/none: No such file or directory' % TMP),
    ({'targets': []}, 'targets: the targets name no unit'),
    ({'targets': ['name=a --tcp "h']}, 'line 1: unclosed quote'),
    ({'targets': ['name=a/b --tcp h']}, 'line 1: a name takes letters'),
    ({'targets': [{'name': '..', 'tcp': 'h'}]}, 'line 1: a name takes letters'),
    ({'targets': ['--tcp h', 'name=h:502 --port 2']}, "line 2: the name h:502 is also line 1's"),
    ({'targets': ['name=u1 --tcp 127.0.0.1:1 --timeout 1 --save --capture ' + VICTIM]},
     'line 1: --save applies to the whole run, not to one unit'),
    ({'targets': ['name=u1 --tcp 127.0.0.1:1 --capture ' + VICTIM]},
     'line 1: --capture applies to the whole run'),
    ({'targets': ['name=u1 --tcp 127.0.0.1:1 test --json']}, 'line 1: unexpected word "test"'),
    ({'targets': ['--tcp h', 'name=b --device "/dev/a\'b" x']}, 'line 2: unexpected word "x"'),
    ({'targets_file': WITH_NUL}, 'line 2: a NUL byte'),
    ({'targets_file': TOO_LARGE}, 'line 3: the targets file is over 1 MB'),
    ({'targets_file': '/dev/zero'}, 'line 1: the targets file is over 1 MB'),
    ({'sha256': 'abc'}, 'bad value for --sha256: "abc"'),
]


def run_module(module, arguments):
    with open(TMP + '/args.json', 'w') as handle:
        json.dump({'ANSIBLE_MODULE_ARGS': arguments}, handle)
    done = run('/usr/bin/python3', MODULES + 'fcloader_%s.py' % module, TMP + '/args.json')
    return json.loads(done.stdout)


class Arguments(unittest.TestCase):
    def test_targets_are_judged_by_the_cli_alone(self):
        with open(WITH_NUL, 'wb') as nul, open(TOO_LARGE, 'w') as large:
            nul.write(b'--tcp h\n--device /dev/null\0junk\n')
            large.write('--tcp h\n\n' + '#' * (1 << 20))
        for changes, message in REFUSED_BY_CLI:
            for module, check in (('download', False), ('download', True), ('read', False)):
                arguments = dict(GOOD, executable=CLI, _ansible_check_mode=check)
                arguments.update({'targets': None} if 'targets_file' in changes else {})
                arguments.update(changes)
                if 'sha256' in changes and (module == 'read' or check):
                    continue  # only a flash reads the image
                if module == 'read':
                    arguments['registers'] = [100]
                    del arguments['image']
                result = run_module(module, {k: v for k, v in arguments.items() if v is not None})
                self.assertTrue(result.get('failed'), (module, check, changes))
                self.assertIn(message, result['msg'], (module, check, changes))
        self.assertFalse(os.path.exists(VICTIM))


    def test_bad_arguments_fail_clearly_before_the_program_runs(self):
        marker = TMP + '/cli-ran'
        with open(TMP + '/cli', 'w') as script:
            script.write('#!/bin/sh\ntouch %s\n' % marker)
        os.chmod(TMP + '/cli', 0o755)
        for module, changes, message in BAD_ARGUMENTS:
            arguments = dict(GOOD, executable=TMP + '/cli', registers=[100])
            arguments.update(changes)
            del arguments['registers' if module == 'download' else 'image']
            result = run_module(module, {k: v for k, v in arguments.items() if v is not None})
            self.assertTrue(result.get('failed'), (module, changes))
            self.assertIn(message, result['msg'], (module, changes))
        self.assertFalse(os.path.exists(marker))


if __name__ == '__main__':
    unittest.main()
