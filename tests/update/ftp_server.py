#!/usr/bin/python3
"""Anonymous, read-only FTP server on the loopback interface, serving one folder.

Usage: ftp_server.py ROOT [PORT]
Prints the port it listens on (PORT 0 or none: one the system picks), then serves until killed.
Active data connections work as the client asks for them.
"""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    logger = logging.getLogger("pyftpdlib")
    logger.addHandler(logging.NullHandler())
    logger.setLevel(logging.CRITICAL)
    logger.propagate = False

    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root)  # read-only: list and retrieve

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", port), Handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
