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


GOOD = {'image': TMP + '/fw.img', 'targets': [{'name': 'a', 'tcp': '127.0.0.1:1'}]}
# module, arguments over GOOD's, what the message says; the program never runs.
BAD_ARGUMENTS = [
    ('download', {'image': None}, 'missing required arguments: image'),
    ('download', {'targets': None}, 'one of the following is required: targets, targets_file'),
    ('download', {'targets_file': TMP + '/t'}, 'mutually exclusive: targets|targets_file'),
    ('download', {'targets_file': TMP + '/none', 'targets': None}, 'No such file or directory'),
    ('download', {'targets': []}, 'the targets name no unit'),
    ('download', {'targets': [{'name': 'a', 'speed': 1}]}, 'targets[0]: unknown option speed'),
    ('download', {'targets': [{'name': 'a', 'tcp': ['x']}]}, 'targets[0]: tcp takes one value'),
    ('download', {'targets': [{'tcp': 'h', 'encapsulated': 'yes'}]}, 'encapsulated takes true or false'),
    ('download', {'targets': ['name=a --tcp "h']}, 'targets[0]: unclosed quote'),
    ('download', {'targets': ['name=a/b --tcp h']}, "name 'a/b': a name takes letters"),
    ('download', {'targets': ['--tcp h', 'name=h:502 --port 2']}, 'two units are named h:502'),
    ('download', {'settings': {'baud': None}}, 'settings: baud takes one value'),
    ('download', {'jobs': 0}, 'jobs must be 1 or more'),
    ('download', {'image': TMP + '/none.img'}, 'image %s/none.img is not a file' % TMP),
    ('download', {'executable': 'no-such-cli'}, 'no-such-cli was not found on this host'),
    ('read', {'registers': []}, 'registers names no register'),
    ('read', {'registers': [70000]}, 'registers[0].address must be a whole number from 0 to 65535'),
    ('read', {'registers': [{'address': 1, 'count': 2, 'type': 'float'}]}, 'without a type'),
    ('read', {'registers': [{'address': 1, 'size': 2}]}, 'registers[0]: unknown key size'),
    ('read', {'registers': [{'address': 1, 'type': 'bcd'}]}, 'type must be one of int16'),
    ('read', {'registers': [1, {'address': 2, 'name': '1'}]}, 'two registers are named 1'),
]


class Arguments(unittest.TestCase):
    def test_bad_arguments_fail_clearly_before_the_program_runs(self):
        marker = TMP + '/cli-ran'
        with open(TMP + '/cli', 'w') as script:
            script.write('#!/bin/sh\ntouch %s\n' % marker)
        os.chmod(TMP + '/cli', 0o755)
        for module, changes, message in BAD_ARGUMENTS:
            arguments = dict(GOOD, executable=TMP + '/cli', registers=[100])
            arguments.update(changes)
            del arguments['registers' if module == 'download' else 'image']
            arguments = {k: v for k, v in arguments.items() if v is not None}
            with open(TMP + '/args.json', 'w') as handle:
                json.dump({'ANSIBLE_MODULE_ARGS': arguments}, handle)
            done = run('/usr/bin/python3', MODULES + 'fcloader_%s.py' % module, TMP + '/args.json')
            result = json.loads(done.stdout)
            self.assertTrue(result.get('failed'), (module, changes))
            self.assertIn(message, result['msg'], (module, changes))
        self.assertFalse(os.path.exists(marker))


if __name__ == '__main__':
    unittest.main()
