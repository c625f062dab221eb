"""A real FTP server for client tests: pyftpdlib on a free loopback port.

Usage: ftp_server.py USER PASSWORD HOME-DIRECTORY

Serves HOME-DIRECTORY to the one user, with every permission (list,
change directory, read, write, append, delete, rename, make directories).
Listens on 127.0.0.1 on a free port and prints "PORT <n>" once it does.
Passive data connections are offered on free ports of the same loopback
address. Runs until it receives SIGTERM or SIGINT.
"""

import logging
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

ALL_PERMISSIONS = "elradfmwMT"


def make_server(user, password, home):
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm=ALL_PERMISSIONS)
    handler = type("TestHandler", (FTPHandler,), {})
    handler.authorizer = authorizer
    handler.banner = "pyftpdlib test server ready."
    # The passive listener binds to the control connection's own address,
    # 127.0.0.1; any free port will do.
    handler.passive_ports = None
    handler.permit_foreign_addresses = False
    return FTPServer(("127.0.0.1", 0), handler)


def main():
    if len(sys.argv) != 4:
        sys.stderr.write(__doc__)
        sys.exit(2)
    logging.basicConfig(level=logging.WARNING)
    server = make_server(*sys.argv[1:4])
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
