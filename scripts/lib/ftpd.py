"""FTP server for the demo and the benchmarks: pyftpdlib on a free loopback port.

Usage: ftpd.py USER PASSWORD HOME-DIRECTORY

Serves HOME-DIRECTORY to one user with every permission (list, change
directory, read, write, append, delete, rename, make directories). Listens on
127.0.0.1 on a port the system picks, prints "PORT <n>" once it listens, and
runs until SIGTERM or SIGINT. Passive data connections use free ports of the
same loopback address. Run it with /usr/bin/python3, which has pyftpdlib.
"""

import logging
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    if len(sys.argv) != 4:
        sys.stderr.write(__doc__)
        sys.exit(2)
    user, password, home = sys.argv[1:4]
    logging.basicConfig(level=logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")
    handler = type("LoopbackHandler", (FTPHandler,), {})
    handler.authorizer = authorizer
    handler.banner = "Quorbit sample FTP server ready."
    handler.permit_foreign_addresses = False

    server = FTPServer(("127.0.0.1", 0), handler)
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
