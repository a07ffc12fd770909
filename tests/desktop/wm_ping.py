#!/usr/bin/python3
"""Plays the window manager's part towards one window.

Sends _NET_WM_PING every 200 ms, as desktops do to find windows that hang,
and measures how long each reply takes (a client answers by sending the
message back to the root window). With a third argument, also asks the
window once to close (WM_DELETE_WINDOW, the title bar's close button) that
many milliseconds after the start.

Runs until its standard input closes, waits a moment for late replies, then
writes one line to the result file:
    pings=<sent> answered=<n> max_ms=<slowest reply> mean_ms=<mean reply>
A ping never answered counts as not answered.
"""
import os
import select
import sys
import time

from Xlib import X, display, protocol

PING_EVERY = 0.2
LATE_REPLY_GRACE = 1.5


def main():
    window_id = int(sys.argv[1])
    result_path = sys.argv[2]
    close_after = float(sys.argv[3]) / 1000 if len(sys.argv) > 3 else None

    dpy = display.Display()
    root = dpy.screen().root
    # Qt sends its replies with the structure-notify and redirect masks; a
    # real window manager holds the redirect, this client need not.
    root.change_attributes(event_mask=X.StructureNotifyMask)
    window = dpy.create_resource_object("window", window_id)
    protocols = dpy.intern_atom("WM_PROTOCOLS")
    ping = dpy.intern_atom("_NET_WM_PING")
    delete = dpy.intern_atom("WM_DELETE_WINDOW")

    def send(kind, stamp):
        event = protocol.event.ClientMessage(
            window=window, client_type=protocols,
            data=(32, [kind, stamp, window_id, 0, 0]))
        window.send_event(event, event_mask=0)
        dpy.flush()

    outstanding = {}
    replies = []

    def take_replies():
        while dpy.pending_events():
            event = dpy.next_event()
            if event.type != X.ClientMessage or event.client_type != protocols:
                continue
            data = event.data[1]
            if data[0] == ping and data[1] in outstanding:
                replies.append(time.monotonic() - outstanding.pop(data[1]))

    start = time.monotonic()
    next_ping = start
    stamp = 1
    sent = 0
    asked_to_close = close_after is None
    stdin_open = True
    while stdin_open:
        now = time.monotonic()
        if not asked_to_close and now - start >= close_after:
            send(delete, X.CurrentTime)
            asked_to_close = True
        if now >= next_ping:
            outstanding[stamp] = now
            send(ping, stamp)
            stamp += 1
            sent += 1
            next_ping = now + PING_EVERY
        ready, _, _ = select.select([sys.stdin, dpy.fileno()], [], [],
                                    max(0.0, next_ping - time.monotonic()))
        take_replies()
        if sys.stdin in ready and not os.read(sys.stdin.fileno(), 64):
            stdin_open = False

    deadline = time.monotonic() + LATE_REPLY_GRACE
    while outstanding and time.monotonic() < deadline:
        select.select([dpy.fileno()], [], [], 0.05)
        take_replies()

    slowest = max(replies, default=0.0) * 1000
    mean = sum(replies) / len(replies) * 1000 if replies else 0.0
    with open(result_path, "w") as out:
        out.write(f"pings={sent} answered={len(replies)} "
                  f"max_ms={slowest:.0f} mean_ms={mean:.0f}\n")


if __name__ == "__main__":
    main()
