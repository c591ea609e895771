#!/usr/bin/python3
"""An FTP server on the loopback interface whose replies follow a scenario, for the cases a real
server does not produce on demand.

Usage: ftp_script_server.py SCENARIO_JSON
Prints the port first. Then prints "CONN" for every control connection it accepts and
"CMD <line>" for every command line it receives, in order. It serves one control connection
at a time until killed.

Scenario keys (all optional):
  greeting  reply sent on connect (default "220 Scripted server ready")
  replies   {VERB: reply} replacing the default reply of a command
  first     {VERB: reply} used on the first control connection only
  retr      {"mode": "data" | "nodata" | "silent", "data": latin-1 text, "size": n,
             "pre": preliminary reply, "final": final reply}
A reply is one or more lines separated by "\n", each sent with CR LF, encoded as UTF-8;
"RAW:" + text sends the text exactly as given; "HANGUP" closes the control connection instead;
"SILENT" sends nothing; a last line "HANGUP" closes the connection after the lines before it.
"""
import json
import socket
import sys

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


def send(conn, reply):
    """Sends a reply; returns True when it ends with a "HANGUP" line (close afterwards)."""
    if reply.startswith("RAW:"):
        conn.sendall(reply[4:].encode("utf-8"))
        return False
    lines = reply.split("\n")
    hangup = lines[-1] == "HANGUP"
    if hangup:
        lines.pop()
    conn.sendall("".join(l + "\r\n" for l in lines).encode("utf-8"))
    return hangup


def retr_data(spec):
    if "size" in spec:
        return bytes(i % 251 for i in range(spec["size"]))
    return spec.get("data", "").encode("latin-1")


def do_retr(conn, spec, port_addr):
    mode = spec.get("mode", "data")
    send(conn, spec.get("pre", "150 Opening BINARY mode data connection"))
    if mode == "nodata":
        send(conn, spec.get("final", "226 Transfer complete"))
        return
    data = socket.create_connection(port_addr, timeout=10)
    if mode == "data":
        data.sendall(retr_data(spec))
        data.close()
    else:  # silent: hold the connection open until the client gives up on it
        try:
            while data.recv(4096):
                pass
        except OSError:
            pass
        data.close()
    send(conn, spec.get("final", "226 Transfer complete"))


def serve(conn, scenario, first):
    greeting = scenario.get("greeting", "220 Scripted server ready")
    if greeting == "HANGUP":
        conn.close()
        return
    if greeting != "SILENT":
        send(conn, greeting)
    replies = dict(DEFAULTS)
    replies.update(scenario.get("replies", {}))
    if first:
        replies.update(scenario.get("first", {}))
    port_addr = None
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
        if verb == "RETR" and verb not in scenario.get("replies", {}) and not (
                first and verb in scenario.get("first", {})):
            do_retr(conn, scenario.get("retr", {}), port_addr)
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
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    log(str(listener.getsockname()[1]))
    count = 0
    while True:
        conn, _ = listener.accept()
        count += 1
        log("CONN")
        serve(conn, scenario, count == 1)


if __name__ == "__main__":
    main()
