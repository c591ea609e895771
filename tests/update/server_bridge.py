#!/usr/bin/env python3
"""Starts the tests' local FTP servers for test programs that cannot start this machine's
programs themselves: the Windows tests under Wine.

It listens on 127.0.0.1 (the port is printed on the first line of output). Each client sends
one line, a JSON list: the server script and its arguments, with Windows paths on the drives
Z: (this machine's root) and C: (the Wine prefix's drive_c) in the form the Wine programs see
them. The bridge starts the script with this Python, sends the client everything the script
prints, and ends the script when the client sends another line or closes the connection;
then the client gets the rest of the output and the connection closes.

Usage: server_bridge.py [PORT]
"""
import json
import os
import re
import socket
import subprocess
import sys
import threading

DRIVE = re.compile(r"^([A-Za-z]):[\\/]")


def unix_path(arg):
    m = DRIVE.match(arg)
    if not m:
        return arg
    rest = arg[2:].replace("\\", "/")
    drive = m.group(1).lower()
    if drive == "z":
        return rest
    if drive == "c":
        prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
        return os.path.join(prefix, "drive_c") + rest
    return arg


def serve(conn):
    with conn:
        requests = conn.makefile("rb")
        line = requests.readline()
        if not line:
            return
        args = [unix_path(a) for a in json.loads(line)]
        child = subprocess.Popen([sys.executable] + args, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL)

        def relay():
            while True:
                chunk = child.stdout.read1(65536)
                if not chunk:
                    break
                try:
                    conn.sendall(chunk)
                except OSError:
                    break

        pump = threading.Thread(target=relay, daemon=True)
        pump.start()
        requests.readline()  # the client's stop word, or its close
        child.kill()
        child.wait()
        pump.join(timeout=5)


def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 0
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
