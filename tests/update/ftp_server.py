#!/usr/bin/python3
"""Anonymous, read-only FTP server on the loopback interface, serving one folder.

Usage: ftp_server.py ROOT [PORT]
Prints the port it listens on (PORT 0 or none: one the system picks), then serves until killed.
Active data connections work as the client asks for them.
Every file is signed as the maker's server signs it: "NAME.minisig", asked for, is made afresh
from NAME with the test key and the date of ROOT/autocad/status_up.ini.
"""
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

from update_signing import sign_file, status_date


def main():
    root = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    logger = logging.getLogger("pyftpdlib")
    logger.addHandler(logging.NullHandler())
    logger.setLevel(logging.CRITICAL)
    logger.propagate = False

    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root)  # read-only: list and retrieve

    def sign_afresh(file):
        if file.endswith(".minisig"):
            signed = file[:-len(".minisig")]
            if os.path.isfile(signed):
                date = status_date(os.path.join(root, "autocad", "status_up.ini"))
                sign_file(signed, file, date)
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
