"""A Modbus unit played by pymodbus, for proving our frames against code
written elsewhere.

    pymodbus_peer.py rtu|ascii <folder>   serial over a socat pty pair
    pymodbus_peer.py tcp|rtutcp           Modbus TCP / RTU frames over TCP

Prints one line "READY <device or port>" once it serves, then runs until
killed. Holding register n starts out holding n & 0xFFFF; any unit answers.
"""
import asyncio
import os
import signal
import socket
import subprocess
import sys
import time

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartAsyncSerialServer, StartTcpServer
from pymodbus.transaction import (ModbusAsciiFramer, ModbusRtuFramer,
                                  ModbusSocketFramer)


def context():
    registers = ModbusSequentialDataBlock(0, [n & 0xFFFF for n in range(65536)])
    store = ModbusSlaveContext(hr=registers, zero_mode=True)
    return ModbusServerContext(slaves=store, single=True)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def serve_serial(mode, folder):
    ours = os.path.join(folder, "ours")
    theirs = os.path.join(folder, "theirs")
    socat = subprocess.Popen(["socat", f"pty,raw,echo=0,link={ours}",
                              f"pty,raw,echo=0,link={theirs}"])
    for _ in range(200):
        if os.path.exists(ours) and os.path.exists(theirs):
            break
        time.sleep(0.01)
    framer = ModbusRtuFramer if mode == "rtu" else ModbusAsciiFramer

    def end(*_):
        socat.kill()
        socat.wait()
        os._exit(0)

    signal.signal(signal.SIGTERM, end)

    async def serve():
        server = await StartAsyncSerialServer(
            context=context(), framer=framer, port=theirs, baudrate=9600,
            timeout=0.005, defer_start=True)
        # Only once it holds the line: opening it throws away what waits.
        await server.start()
        print("READY", ours, flush=True)
        await server.serve_forever()

    try:
        asyncio.run(serve())
    finally:
        socat.kill()


def serve_tcp(mode):
    port = free_port()
    print("READY", port, flush=True)
    framer = ModbusSocketFramer if mode == "tcp" else ModbusRtuFramer
    StartTcpServer(context=context(), framer=framer, address=("127.0.0.1", port))


if __name__ == "__main__":
    if sys.argv[1] in ("rtu", "ascii"):
        serve_serial(sys.argv[1], sys.argv[2])
    else:
        serve_tcp(sys.argv[1])
