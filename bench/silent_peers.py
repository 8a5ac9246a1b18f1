#!/usr/bin/env python3
"""Real-time run of the controller place against peers that send no valid command.

Starts server-sim under a fresh root on a free port, then, one after the other: a peer that
connects and stays silent, and a peer that sends one zero byte a second. Each must be dropped
by the heartbeat (about 120 s after it connected); then a controller connects and its ping is
answered. Prints the seconds each peer held the place. Takes about four minutes.

    bench/silent_peers.py build/bench/server/server-sim
"""

import os
import socket
import subprocess
import sys
import tempfile
import time

PING = bytes.fromhex("03 00 00 06 06 00")
SUCCESS = bytes.fromhex("03 00 00 05 10")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def connect(port, deadline=20.0):
    end = time.monotonic() + deadline
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=1)
        except OSError:
            if time.monotonic() > end:
                raise
            time.sleep(0.05)


def held(port, dribble):
    """Seconds until the daemon closes a peer that sends nothing valid."""
    peer = connect(port)
    start = time.monotonic()
    peer.settimeout(1)
    while True:
        if dribble:
            try:
                peer.send(b"\x00")
            except OSError:
                break
        try:
            if peer.recv(4096) == b"":
                break
        except socket.timeout:
            continue
        except OSError:
            break
    peer.close()
    return time.monotonic() - start


def answer(controller):
    """Whether the ping's success arrives (the signals the daemon sends meanwhile are passed over)."""
    received = b""
    end = time.monotonic() + 5
    while time.monotonic() < end:
        while len(received) >= 4 and len(received) >= int.from_bytes(received[2:4], "big"):
            length = int.from_bytes(received[2:4], "big")
            if received[:length] == SUCCESS:
                return True
            received = received[length:]
        try:
            chunk = controller.recv(4096)
        except socket.timeout:
            break
        if not chunk:
            break
        received += chunk
    return False


def main():
    binary = sys.argv[1]
    root = tempfile.mkdtemp(prefix="gw-silent-")
    for folder in ("usr/local/etc", "var/run", "var/log", "dev"):
        os.makedirs(os.path.join(root, folder))
    port = free_port()
    log = open(os.path.join(root, "log"), "w")
    daemon = subprocess.Popen([binary, f"--port={port}"], env=dict(os.environ, GW_ROOT=root),
                              stdout=log, stderr=subprocess.STDOUT)
    try:
        for name, dribble in (("silent peer", False), ("one zero byte a second", True)):
            print(f"{name}: dropped after {held(port, dribble):.1f} s", flush=True)
        controller = connect(port)
        controller.settimeout(5)
        start = time.monotonic()
        controller.sendall(PING)
        answered = answer(controller)
        print(f"controller: ping answered {answered} in {1000 * (time.monotonic() - start):.1f} ms")
        controller.close()
    finally:
        daemon.terminate()
        daemon.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
