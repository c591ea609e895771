#!/usr/bin/python3
"""Anonymous, read-only FTP server on the loopback interface, serving one folder.

Usage: ftp_server.py ROOT [PORT] [--as-published]
Prints the port it listens on (PORT 0 or none: one the system picks), then serves until killed.
Active data connections work as the client asks for them.
The folder is served as the maker publishes a release: before each SIZE and RETR, the section
[Files] of ROOT/autocad/status_up.ini is brought up to date with the update files there, and
"NAME.minisig", asked for, is made afresh from NAME with the test key, the date of the status
file and NAME's path. With --as-published the folder is served as it is.
"""
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

from update_signing import publish_status, sign_file, status_date


def main():
    args = [a for a in sys.argv[1:] if a != "--as-published"]
    as_published = len(args) < len(sys.argv) - 1
    root = args[0]
    port = int(args[1]) if len(args) > 1 else 0
    logger = logging.getLogger("pyftpdlib")
    logger.addHandler(logging.NullHandler())
    logger.setLevel(logging.CRITICAL)
    logger.propagate = False

    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root)  # read-only: list and retrieve

    def sign_afresh(file):
        if as_published:
            return
        publish_status(root)
        if file.endswith(".minisig"):
            signed = file[:-len(".minisig")]
            if os.path.isfile(signed):
                date = status_date(os.path.join(root, "autocad", "status_up.ini"))
                name = os.path.relpath(os.path.realpath(signed),
                                       os.path.realpath(root)).replace(os.sep, "/")
                sign_file(signed, file, date, name)
            elif os.path.exists(file):
                os.remove(file)

    class Handler(FTPHandler):
        # SIZE and RETR of one signature must name the same bytes.
        def ftp_SIZE(self, path):
            sign_afresh(path)
            return FTPHandler.ftp_SIZE(self, path)

        def ftp_RETR(self, file):
            sign_afresh(file)
            return FTPHandler.ftp_RETR(self, file)

    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", port), Handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
