#!/usr/bin/python3
"""An FTP server on the loopback interface whose replies follow a scenario, for the cases a real
server does not produce on demand.

Usage: ftp_script_server.py SCENARIO_JSON
Prints the port first. Then prints "CONN" for every control connection it accepts and
"CMD <line>" for every command line it receives, in order. It serves one control connection
at a time until killed.

Scenario keys (all optional):
  address   the loopback address to listen on (default "127.0.0.1")
  port      the port to listen on (default 0: one the system picks)
  greeting  reply sent on connect (default "220 Scripted server ready")
  replies   {VERB: reply} replacing the default reply of a command
  first     {VERB: reply} used on the first control connection only
  retr      {"mode": "data" | "nodata" | "silent", "data": latin-1 text, "size": n,
             "reply": a reply to RETR instead of a transfer,
             "pre": preliminary reply, "final": final reply,
             "announce": n (the preliminary reply announces n bytes),
             "reset": true (the data connection ends with a reset, not a close),
             "reset_after": seconds (the reset that much after the data),
             "late_pre": true (the preliminary reply only after the data connection ended),
             "endless": true (data without end), "stall_after": n (n bytes, then silence),
             "intruder": {"source": address, "data": text} (on RETR, before the reply, another
             connection from `source` reaches the client's data port first),
             "size_cmd": true | n (SIZE is answered with the file's length, or with n; without
             it SIZE gets "500 Unknown command"),
             "final_first": true (the final reply before the data connection),
             "trickle": seconds (the data one byte at a time, every so many seconds)}
            Without "data" and "size" a file holds "content of " + its path.
  retr_by_path  {path: the keys of retr} for single files
  date      the release date signatures carry (default "02.03.2026")
  pieces    {"bytes": true (every reply written one byte at a time), "line_pause": seconds
             (each line of a reply written on its own, this long after the one before)}
  passive   the passive commands it answers, of "EPSV" and "PASV" (default: neither, so the
            client falls back to PORT); the data connection then comes from the client
  pasv_address  the address a 227 reply names (default the control connection's own)
  sig_by_path   {path: how the signature "path.minisig" goes wrong}: "key": "other" (made
             with a key of its own), "of": another path (that file's own signature, naming
             it), "over": text (a signature of these bytes, naming path), "date": another
             release date, "retitle": a date written over the trusted comment afterwards,
             "cut": n (only the first n bytes); "legacy": true signs in minisign's legacy
             form; "sep": the separator of the trusted comment's words (default " ");
             "delay": seconds of silence on its data connection before it comes
  serve_as  {path: other}: RETR path sends other's bytes, and path.minisig other's signature
  listed    {path: the keys of retr}: the status file lists these bytes for path instead of
             what RETR path sends (a file of another publication)
Every "PATH.minisig" is served as a plain transfer (the keys of retr do not apply to it) and
holds the signature, made with the test key, of what RETR PATH sends, with the trusted comment
"date_global=DATE file=PATH" (PATH without its leading "/"), unless retr_by_path names
"PATH.minisig" itself. The status file "/autocad/status_up.ini" holds, unless its retr keys
give "size" or "bytes", its "data" (default "[Update]\r\ndate_global=DATE\r\n") followed by
the section [Files] listing the five update files as served; the server prints it, in
hexadecimal, on the line after the port ("STATUS <hex>").
A reply is one or more lines separated by "\n", each sent with CR LF, encoded as UTF-8;
"RAW:" + text sends the text exactly as given; "HANGUP" closes the control connection instead;
"SILENT" sends nothing; a last line "HANGUP" closes the connection after the lines before it;
a last line "STREAM:<seconds>:<text>" sends that line again and again, every <seconds> (0: as
fast as the client takes it), until the client goes or STREAM_LIMIT seconds have passed.
An active data connection starts from the control connection's own address.
"""
import json
import socket
import struct
import sys
import time

from update_signing import UPDATE_FILES, comment, sign, with_files

STREAM_LIMIT = 30
DEFAULT_DATE = "02.03.2026"
STATUS_PATH = "/autocad/status_up.ini"
UPDATE_PATHS = ["/autocad/" + name for name in UPDATE_FILES]
SIGNED_PATHS = [STATUS_PATH] + UPDATE_PATHS

DEFAULTS = {
    "HOST": "220 Host accepted",
    "USER": "331 Password required",
    "PASS": "230 Logged in",
    "FEAT": "211-Features:\n UTF8\n MDTM\n211 End",
    "CLNT": "200 Noted",
    "TYPE": "200 Type set to I",
    "SYST": "215 UNIX Type: L8",
    "SITE": "210 UTC",
    "PORT": "200 PORT command successful",
    "QUIT": "221 Goodbye",
}


def log(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def stream(conn, interval, text):
    """Sends one line again and again until the client goes or STREAM_LIMIT has passed."""
    line = (text + "\r\n").encode("utf-8")
    if interval == 0:
        line *= 4096
    conn.settimeout(5)
    end = time.monotonic() + STREAM_LIMIT
    try:
        while time.monotonic() < end:
            conn.sendall(line)
            if interval:
                time.sleep(interval)
    except OSError:
        pass


PIECES = {}


def write(conn, data):
    """Writes reply bytes as the scenario's "pieces" says: whole, or one byte at a time."""
    if not PIECES.get("bytes"):
        conn.sendall(data)
        return
    for i in range(len(data)):
        conn.sendall(data[i:i + 1])
        time.sleep(0.001)


def send(conn, reply):
    """Sends a reply; returns True when the connection is to close afterwards."""
    if reply.startswith("RAW:"):
        write(conn, reply[4:].encode("utf-8"))
        return False
    lines = reply.split("\n")
    last = lines[-1]
    if last == "HANGUP" or last.startswith("STREAM:"):
        lines.pop()
    pause = PIECES.get("line_pause")
    if pause:
        for i, l in enumerate(lines):
            if i:
                time.sleep(pause)
            write(conn, (l + "\r\n").encode("utf-8"))
    else:
        write(conn, "".join(l + "\r\n" for l in lines).encode("utf-8"))
    if last.startswith("STREAM:"):
        _, interval, text = last.split(":", 2)
        stream(conn, float(interval), text)
        return True
    return last == "HANGUP"


def retr_data(spec, path):
    if "bytes" in spec:
        return spec["bytes"]
    if "size" in spec:
        return bytes(i % 251 for i in range(spec["size"]))
    if "data" in spec:
        return spec["data"].encode("latin-1")
    return ("content of " + path).encode("latin-1")


def intrude(spec, port_addr):
    """Another local program that reaches the client's data port before the server."""
    other = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    other.bind((spec.get("source", "127.0.0.1"), 0))
    other.settimeout(5)
    try:
        other.connect(port_addr)
        other.sendall(spec.get("data", "EVIL PAYLOAD").encode("latin-1"))
    except OSError:
        pass
    other.close()


_signatures = {}


def served(scenario, path):
    """The bytes RETR `path` sends (for a plain transfer)."""
    return retr_data(retr_spec(scenario, scenario.get("retr", {}), path), path)


def status_file(scenario):
    """The status file's bytes, or None when its retr keys give them."""
    by_path = scenario.get("retr_by_path", {})
    spec = by_path.get(STATUS_PATH, {})
    if "size" in spec or "bytes" in spec:
        return None
    date = scenario.get("date", DEFAULT_DATE)
    base = spec.get("data", "[Update]\r\ndate_global=%s\r\n" % date).encode("latin-1")
    listed = scenario.get("listed", {})
    files = {}
    for path in UPDATE_PATHS:  # as published, whatever is served in their place
        files[path[len("/autocad/"):]] = retr_data(
            listed.get(path, by_path.get(path, scenario.get("retr", {}))), path)
    return with_files(base, files)


def signature(scenario, path):
    """The signature file that the scenario serves for `path`."""
    how = scenario.get("sig_by_path", {}).get(path, {})
    cache_key = (path, json.dumps(how, sort_keys=True))
    if cache_key not in _signatures:
        of = scenario.get("serve_as", {}).get(path, how.get("of", path))
        data = how["over"].encode("latin-1") if "over" in how else served(scenario, of)
        name = of[1:]
        sig = sign(data, how.get("date", scenario.get("date", DEFAULT_DATE)), name,
                   other_key=how.get("key") == "other", legacy=how.get("legacy", False),
                   sep=how.get("sep", " "))
        if "retitle" in how:
            lines = sig.split(b"\n")
            lines[2] = b"trusted comment: " + comment(how["retitle"], name).encode()
            sig = b"\n".join(lines)
        if "cut" in how:
            sig = sig[:how["cut"]]
        _signatures[cache_key] = sig
    return _signatures[cache_key]


def retr_spec(scenario, retr, path):
    """What RETR (and SIZE) of `path` gets: a signature file is a plain transfer of its bytes."""
    by_path = scenario.get("retr_by_path", {})
    if path.endswith(".minisig") and path not in by_path:
        how = scenario.get("sig_by_path", {}).get(path[:-len(".minisig")], {})
        return {"bytes": signature(scenario, path[:-len(".minisig")]), "size_cmd": True,
                "delay": how.get("delay", 0)}
    if path in scenario.get("serve_as", {}):
        other = scenario["serve_as"][path]
        return dict(retr_spec(scenario, retr, other), bytes=served(scenario, other))
    spec = by_path.get(path, retr)
    if path == STATUS_PATH:
        status = status_file(scenario)
        if status is not None:
            return dict(spec, bytes=status)
    return spec


def do_retr(conn, spec, port_addr, path, passive=None):
    if "reply" in spec:
        send(conn, spec["reply"])
        return
    mode = spec.get("mode", "data")
    pre = "150 Opening BINARY mode data connection"
    if "announce" in spec:
        pre += " for %s (%d bytes)" % (path, spec["announce"])
    if not spec.get("late_pre"):
        send(conn, spec.get("pre", pre))
    if spec.get("final_first"):
        send(conn, spec.get("final", "226 Transfer complete"))
    if mode == "nodata":
        send(conn, spec.get("final", "226 Transfer complete"))
        return
    data = None
    try:
        if passive:
            passive.settimeout(10)
            data, _ = passive.accept()
        else:
            data = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            data.bind((conn.getsockname()[0], 0))
            data.settimeout(10)
            data.connect(port_addr)
        data.settimeout(10)
        time.sleep(spec.get("delay", 0))
        if spec.get("endless"):
            chunk = bytes(i % 251 for i in range(65536))
            end = time.monotonic() + STREAM_LIMIT
            while time.monotonic() < end:
                data.sendall(chunk)
        elif mode == "data":
            payload = retr_data(spec, path)
            if "stall_after" in spec:
                payload = payload[:spec["stall_after"]]
                mode = "silent"
            if "trickle" in spec:
                for i in range(len(payload)):
                    time.sleep(spec["trickle"])
                    data.sendall(payload[i:i + 1])
            else:
                data.sendall(payload)
        if mode == "silent":  # hold the connection open until the client gives up on it
            while data.recv(4096):
                pass
    except OSError:
        pass
    if passive:
        passive.close()
    if data is None:
        return
    if spec.get("reset"):
        time.sleep(spec.get("reset_after", 0))
        data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    data.close()
    if spec.get("late_pre"):
        time.sleep(0.2)
        send(conn, spec.get("pre", pre))
    if not spec.get("final_first"):
        send(conn, spec.get("final", "226 Transfer complete"))


def serve(conn, scenario, first):
    # Replies go out at once (two short replies in a row would otherwise wait for the client's
    # delayed acknowledgement).
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    greeting = scenario.get("greeting", "220 Scripted server ready")
    if greeting == "HANGUP":
        conn.close()
        return
    if greeting != "SILENT" and send(conn, greeting):
        conn.close()
        return
    replies = dict(DEFAULTS)
    replies.update(scenario.get("replies", {}))
    if first:
        replies.update(scenario.get("first", {}))
    port_addr = None
    passive = None  # the listener a 227 or 229 announced
    retr = scenario.get("retr", {})
    reader = conn.makefile("rb")
    while True:
        try:
            raw = reader.readline()
        except OSError:
            break
        if not raw:
            break
        line = raw.decode("utf-8", "replace").rstrip("\r\n")
        log("CMD " + line)
        verb = line.split(" ", 1)[0].upper()
        if verb == "PORT":
            n = [int(x) for x in line[5:].split(",")]
            port_addr = (".".join(str(x) for x in n[:4]), n[4] * 256 + n[5])
        reply = replies.get(verb, "500 Unknown command")
        if verb in scenario.get("passive", []) and verb not in scenario.get("replies", {}):
            if passive:
                passive.close()
            passive = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            passive.bind((conn.getsockname()[0], 0))
            passive.listen(1)
            port = passive.getsockname()[1]
            if verb == "EPSV":
                reply = "229 Entering Extended Passive Mode (|||%d|)" % port
            else:
                named = scenario.get("pasv_address", conn.getsockname()[0]).replace(".", ",")
                reply = "227 Entering Passive Mode (%s,%d,%d)" % (named, port >> 8, port & 255)
        if verb == "SIZE" and verb not in scenario.get("replies", {}):
            spec = retr_spec(scenario, retr, line[5:])
            size = spec.get("size_cmd")
            if size is True:
                size = len(retr_data(spec, line[5:]))
            if size is not None and size is not False:
                reply = "213 %d" % size
        if verb == "RETR" and verb not in scenario.get("replies", {}) and not (
                first and verb in scenario.get("first", {})):
            path = line[5:]
            spec = retr_spec(scenario, retr, path)
            if "intruder" in spec and port_addr:
                intrude(spec["intruder"], port_addr)
            try:
                do_retr(conn, spec, port_addr, path, passive)
            except OSError:  # the client has gone
                break
            passive = None
            continue
        if reply == "HANGUP":
            break
        if reply != "SILENT" and send(conn, reply):
            break
        if verb == "QUIT":
            break
    reader.close()
    conn.close()


def main():
    scenario = json.loads(sys.argv[1])
    PIECES.update(scenario.get("pieces", {}))
    for path in SIGNED_PATHS:  # made before the first client comes
        signature(scenario, path)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((scenario.get("address", "127.0.0.1"), scenario.get("port", 0)))
    listener.listen(4)
    log(str(listener.getsockname()[1]))
    log("STATUS " + (status_file(scenario) or b"").hex())
    count = 0
    while True:
        conn, _ = listener.accept()
        count += 1
        log("CONN")
        serve(conn, scenario, count == 1)


if __name__ == "__main__":
    main()
