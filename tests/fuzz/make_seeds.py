#!/usr/bin/env python3
"""Writes the seed corpora of the reply, probe, simulator and image targets:
the frames the protocol defines and the nasty cases around them. Run from tests/fuzz."""
import os


def crc(b):
    c = 0xFFFF
    for x in b:
        c ^= x
        for _ in range(8):
            c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
    return bytes([c & 0xFF, c >> 8])


def rtu(b):
    b = bytes(b)
    return b + crc(b)


def lrc(b):
    return (-sum(b)) & 0xFF


def ascii_frame(b):
    b = bytes(b)
    return (':' + (b + bytes([lrc(b)])).hex().upper() + '\r\n').encode()


def mbap(unit_pdu, tid=0):
    n = len(unit_pdu)
    return bytes([tid >> 8, tid & 0xFF, 0, 0, (n >> 8) & 0xFF, n & 0xFF]) + bytes(unit_pdu)


def w(folder, name, data):
    os.makedirs(f'corpus/{folder}', exist_ok=True)
    with open(f'corpus/{folder}/{name}', 'wb') as f:
        f.write(bytes(data))


# rtu_reply: [request kind][block count] reply bytes
read16 = rtu([1, 3, 2, 0, 42])
w('rtu_reply', 'read16', [0, 0] + list(read16))
w('rtu_reply', 'read32', [1, 0] + list(rtu([1, 3, 4, 0, 0, 1, 2])))
w('rtu_reply', 'float', [2, 0] + list(rtu([1, 3, 4, 0x3F, 0x80, 0, 0])))
w('rtu_reply', 'write16', [3, 0] + list(rtu([1, 16, 0, 100, 0, 1])))
w('rtu_reply', 'exception', [0, 0] + list(rtu([1, 0x83, 2])))
w('rtu_reply', 'block10', [4, 10] + list(rtu([1, 3, 20] + [7] * 20)))
w('rtu_reply', 'block125', [4, 125] + list(rtu([1, 3, 250] + [1] * 250)))
w('rtu_reply', 'block_count0', [4, 0] + list(rtu([1, 3, 0])))
w('rtu_reply', 'block255', [4, 255] + list(rtu([1, 3, 254] + [2] * 254)))
w('rtu_reply', 'block128_256_bytes', [4, 128] + list(rtu([1, 3, 0] + [3] * 256)))
w('rtu_reply', 'wide64', [5, 64] + list(rtu([1, 3, 0] + [4] * 256)))
w('rtu_reply', 'bytecount_disagrees', [4, 10] + list(rtu([1, 3, 40] + [7] * 20)))
w('rtu_reply', 'bytecount_short', [4, 10] + list(rtu([1, 3, 2, 0, 1])))
w('rtu_reply', 'bad_crc', [0, 0] + list(read16[:-1]) + [read16[-1] ^ 1])
w('rtu_reply', 'noise_then_reply', [0, 0] + [0x55] * 300 + list(read16))
w('rtu_reply', 'other_unit', [0, 0] + list(rtu([2, 3, 2, 0, 42])))
w('rtu_reply', 'surplus', [0, 0] + list(read16) + [0] * 10)
w('rtu_reply', 'beyond_buffer', [4, 255] + [1] * 600)
w('rtu_reply', 'write_block', [6, 20] + list(rtu([1, 16, 0, 100, 0, 10])))

w('rtu_reply', 'trickle_past_timeout', [4 << 3, 0] + list(read16))
w('rtu_reply', 'noise_every_280ms', [0 | (4 << 3), 0] + [0x55] * 40)
w('rtu_reply', 'exception_padded', [0, 0] + list(rtu([1, 0x83, 2, 0])))
w('rtu_reply', 'wrong_function', [0, 0] + list(rtu([1, 4, 2, 0, 42])))

# ascii_reply: [request kind | cut << 3][block count] reply text
w('ascii_reply', 'read16', [0, 0] + list(ascii_frame([1, 3, 2, 0, 42])))
w('ascii_reply', 'write16', [3, 0] + list(ascii_frame([1, 16, 0, 100, 0, 1])))
w('ascii_reply', 'exception', [0, 0] + list(ascii_frame([1, 0x83, 2])))
w('ascii_reply', 'other_unit', [0, 0] + list(ascii_frame([9, 3, 2, 0, 42])))
w('ascii_reply', 'block10', [4, 10] + list(ascii_frame([1, 3, 20] + [7] * 20)))
w('ascii_reply', 'lower_case', [0, 0] + list(ascii_frame([1, 3, 2, 0, 0xAB]).lower()))
w('ascii_reply', 'restart', [0, 0] + list(b':0103') + list(ascii_frame([1, 3, 2, 0, 42])))
w('ascii_reply', 'slow_pieces', [0 | (3 << 3), 0] + list(ascii_frame([1, 3, 2, 0, 42])))
w('ascii_reply', 'no_colon_stream', [0 | (2 << 3), 0] + [0x41] * 100)
w('ascii_reply', 'beyond_buffer', [0, 0] + list(b':' + b'01' * 300 + b'\r\n'))

# tcp_reply: top bit of the kind selects RTU frames over TCP
w('tcp_reply', 'mbap_read16', [0, 0] + list(mbap([1, 3, 2, 0, 42])))
w('tcp_reply', 'mbap_write16', [3, 0] + list(mbap([1, 16, 0, 100, 0, 1])))
w('tcp_reply', 'mbap_block125', [4, 125] + list(mbap([1, 3, 250] + [1] * 250)))
w('tcp_reply', 'mbap_length_lies', [0, 0, 0, 0, 0, 0, 0, 255, 1, 3, 2, 0, 42])
w('tcp_reply', 'mbap_exception', [0, 0] + list(mbap([1, 0x83, 2])))
w('tcp_reply', 'mbap_short', [0, 0, 0, 0, 0])
w('tcp_reply', 'mbap_wide128', [5, 128] + list(mbap([1, 3, 0] + [4] * 512)))
w('tcp_reply', 'rtu_read16', [0x80, 0] + list(read16))
w('tcp_reply', 'rtu_block10', [0x84, 10] + list(rtu([1, 3, 20] + [7] * 20)))
w('tcp_reply', 'rtu_bad_crc', [0x80, 0] + list(read16[:-1]) + [0])
w('tcp_reply', 'rtu_surplus', [0x80, 0] + list(read16) * 2)
w('tcp_reply', 'mbap_wrong_tid', [0, 0] + list(mbap([1, 3, 2, 0, 42], 5)))
w('tcp_reply', 'mbap_length_ffff', [0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 1, 3, 2, 0, 42])
w('tcp_reply', 'mbap_pieces', [3 << 3, 0] + list(mbap([1, 3, 2, 0, 42])))

# probe_answer: [even RTU / odd ASCII] answer
w('probe_answer', 'rtu_exception', [0] + list(rtu([1, 0x88, 1])))
w('probe_answer', 'rtu_echo', [0] + list(rtu([1, 8, 0, 0, 0, 0])))
w('probe_answer', 'rtu_short', [0, 1, 0x88])
w('probe_answer', 'ascii_exception', [1] + list(ascii_frame([1, 0x88, 1])))
w('probe_answer', 'ascii_echo', [1] + list(ascii_frame([0, 8, 0, 0, 0, 0, 0xE1, 0xDA])))
w('probe_answer', 'ascii_lower', [1] + list(ascii_frame([7, 0x88, 1]).lower()))
w('probe_answer', 'ascii_odd', [1] + list(b':01880\r\n'))
w('probe_answer', 'ascii_empty', [1] + list(b':\r\n'))
w('probe_answer', 'ascii_only_lrc', [1] + list(b':00\r\n'))
w('probe_answer', 'ascii_long', [1] + list(b':' + b'0' * 600 + b'\r\n'))
w('probe_answer', 'ascii_at_buffer', [1] + list(b':' + b'00' * 255 + b'\r\n'))
w('probe_answer', 'ascii_restart', [1] + list(b':0102' + ascii_frame([1, 0x88, 1])))
w('probe_answer', 'ascii_bad_char', [1] + list(b':01G8\r\n'))

# sim_request: [transport | (piece size - 1) << 2] stream
rd = [3, 0, 100, 0, 2]
wr = [16, 0x0A, 0x5A, 0, 1, 2, 0, 1]
whole = 63 << 2
w('sim_request', 'rtu_read', [0 | whole] + list(rtu([1] + rd)))
w('sim_request', 'rtu_write_bytewise', [0] + list(rtu([1] + wr)))
w('sim_request', 'rtu_count_disagrees', [0 | (7 << 2)] + list(rtu([1, 16, 0, 100, 0, 10, 4, 0, 1, 0, 2])))
w('sim_request', 'rtu_write_254', [0 | whole] + list(rtu([1, 16, 0, 100, 0, 127, 254] + [0] * 254)))
w('sim_request', 'rtu_unknown_fn', [0 | (3 << 2)] + list(rtu([1, 0x2B, 0x0E, 1, 0])))
w('sim_request', 'rtu_read_count0', [0 | whole] + list(rtu([1, 3, 0, 100, 0, 0])))
w('sim_request', 'rtu_read_126', [0 | whole] + list(rtu([1, 3, 0, 100, 0, 126])))
w('sim_request', 'rtu_download', [0 | whole] + list(rtu([1] + wr)) +
  list(rtu([1, 16, 0x4E, 0x20, 0, 112, 224] + [9] * 224)))
w('sim_request', 'ascii_read', [1 | (15 << 2)] + list(ascii_frame([1] + rd)))
w('sim_request', 'ascii_odd', [1 | (15 << 2)] + list(b':0103006400021\r\n'))
w('sim_request', 'ascii_long', [1 | whole] + list(b':' + b'01' * 300 + b'\r\n'))
w('sim_request', 'mbap_read', [2 | whole] + list(mbap([1] + rd, 7)))
w('sim_request', 'mbap_len0', [2 | whole] + [0, 1, 0, 0, 0, 0])
w('sim_request', 'mbap_len255', [2 | whole] + [0, 1, 0, 0, 0, 255, 1, 3] + [0] * 253)
w('sim_request', 'mbap_len256', [2 | whole] + [0, 1, 0, 0, 1, 0, 1, 3] + [0] * 254)
w('sim_request', 'mbap_protocol1', [2 | whole] + [0, 1, 0, 1, 0, 6, 1] + rd)
w('sim_request', 'mbap_write', [2 | whole] + list(mbap([1] + wr, 9)))
w('sim_request', 'rtu_over_tcp', [3 | whole] + list(rtu([1] + rd)))

# image_file: the file's bytes
w('image_file', 'empty', [])
w('image_file', 'one_byte', [1])
w('image_file', 'one_sector', [0x5A] * 1024)
w('image_file', 'sector_and_one', [0xA5] * 1025)
w('image_file', 'two_sectors_short', [3] * 2047)
w('image_file', 'three_sectors', list(range(256)) * 12)

# echo: [request kind][block count][echo: bytes kept (127 all) | flip flag << 7] ([flip]) reply
w('echo', 'exact_echo', [0, 0, 0x7F] + list(read16))
w('echo', 'echo_cut', [0, 0, 3] + list(read16))
w('echo', 'echo_flipped', [0, 0, 0xFF, 0x21] + list(read16))
w('echo', 'no_echo', [0, 0, 0] + list(read16))
w('echo', 'echo_write_block', [6, 20, 0x7F] + list(rtu([1, 16, 0, 100, 0, 10])))
w('echo', 'echo_ascii', [0x80, 0, 0x7F] + list(ascii_frame([1, 3, 2, 0, 42])))
w('echo', 'echo_then_pieces', [4 << 3, 0, 0x7F] + list(read16))

# trace_decode: [framing | direction << 2] frame
w('trace_decode', 'rtu_request', [0] + list(rtu([1, 3, 0x0A, 0x59, 0, 1])))
w('trace_decode', 'rtu_reply', [4] + list(read16))
w('trace_decode', 'rtu_exception', [4] + list(rtu([1, 0x90, 4])))
w('trace_decode', 'rtu_sector', [0] + list(rtu([1, 16, 0x4E, 0x20, 0, 112, 224] + [9] * 224)))
w('trace_decode', 'ascii', [1] + list(ascii_frame([1, 3, 2, 0, 42])))
w('trace_decode', 'ascii_bytes', [1] + list(b':\x1b[2J\x00\xff\r\n'))
w('trace_decode', 'mbap', [2] + list(mbap([1, 16, 0x0A, 0x5B, 0, 1, 2, 0, 1])))
w('trace_decode', 'encapsulated', [3 | 8] + list(read16) + [0])

# targets: a targets file's text
w('targets', 'bench', b'''\xef\xbb\xbf# Bench 2
name=pump-7   --device /dev/serial/by-id/usb-FTDI_FT232R_A10KX1-if00-port0 --baud 19200
name=pump-8   --device "/dev/tty USB1" --baud=19200 --parity even  # left
name=meter-3  --tcp 10.0.0.5:502 --timeout 1 --retry 0
--tcp 10.0.0.6 --encapsulated --unit 2 --echo --mode rtu --stop-bits 1.5 --data-bits 7
--port 3 --device '/dev/it'\\''s' --device /dev/a\\ b
''')
w('targets', 'refused', b'name=u1 --tcp h --save --capture victim.txt\n')
w('targets', 'command_words', b'name=u1 --tcp h test --json\n')
w('targets', 'nul', b'--tcp a\n--device /dev/null\x00junk\n')
w('targets', 'unclosed', b'--device "/dev/tty\n')

# watch_list: a watch list's text
w('watch_list', 'commissioning', b'''# Meter 3, commissioning
7000  float       flow rate
7002  float       pressure
7004  float-lohi  temperature      # low word first
3300  int32       volume total
100   int16       alarm word
0x65
''')
w('watch_list', 'bad_address', b'x100 float\n')
w('watch_list', 'control', b'100 int16 a\x1bb\n')

# loader: answers in turn, each [length | gap 0x40 | raw 0x80] bytes after the
# request's own MBAP header, unit and function
write_ok = [4, 0x0A, 0x59, 0, 1]
read_word = lambda v: [3, 2, v >> 8, v & 0xFF]
w('loader', 'v1_run', write_ok + read_word(1) + (write_ok + read_word(0)) * 8 + write_ok * 6)
w('loader', 'v2_run', write_ok + read_word(2) + (write_ok * 3 + read_word(0)) * 6 + write_ok * 4)
w('loader', 'flash_failed', write_ok + read_word(1) + write_ok * 3 + read_word(0xFFFF))
w('loader', 'exception', write_ok + [0x80 | 9, 0, 0, 0, 0, 0, 3, 1, 0x90, 4])
w('loader', 'late', write_ok + [0x40 | 3, 2, 0, 1] + write_ok)
w('loader', 'silent', [])

# sim_control: control lines
w('sim_control', 'commands', b'ping\nstatus\nget 100\nset 100 5\nget 0x0A59\n'
  b'fault flash-failed,once=2\nfault nope\nclear-faults\nflash-size\nrequests\n'
  b'clear-requests\nhelp\nflash-out\nset 70000 1\nset 1 2 3\n')

# sim_registers: a --registers file
w('sim_registers', 'registers', b'100 21\n0x0A59 1\n# comment\n7000 0xFFFFFFFF\n  101   7  # after\n')
w('sim_registers', 'bad', b'65536 1\n1 99999999999\nx y\n1\n')
