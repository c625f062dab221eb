"""A server that accepts connections and never answers.

Usage: stall_server.py

Listens on 127.0.0.1 on a port the system picks and prints "PORT <n>". Every
connection is accepted and kept open; whatever the client sends is read and
dropped, so its sends never block, but not one byte is sent back. Runs until
SIGTERM or SIGINT. The benchmarks point a client at it to see how much
processor time the client burns while it waits.
"""

import selectors
import signal
import socket
import sys


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    selector = selectors.DefaultSelector()
    selector.register(listener, selectors.EVENT_READ)
    try:
        while True:
            for key, _ in selector.select():
                if key.fileobj is listener:
                    conn, _ = listener.accept()
                    selector.register(conn, selectors.EVENT_READ)
                elif not key.fileobj.recv(65536):
                    selector.unregister(key.fileobj)
                    key.fileobj.close()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
