r"""Scripted TCP server for client tests: plays one script, step by step.

Usage: scripted_server.py SCRIPT-FILE [ADDRESS]

Listens on ADDRESS (127.0.0.1, or ::1 for IPv6) on a free port, prints "PORT <n>", then runs the
script. Each line of the script is one step; empty lines and lines starting
with "#" are skipped. A step is a keyword, optionally followed by one space
and an argument. TEXT arguments are taken verbatim up to the end of the line
(trailing blanks included) with these escapes: \r \n \t \\ \xHH.

Steps act on the control connection (the one clients connect to first). A
step prefixed with "data " acts on the data connection instead (see pasv).
A connection is accepted by the first step that needs it.

  send TEXT          send the bytes at once (TCP_NODELAY: a short text goes
                     out as one segment)
  send_file PATH     send the contents of a file
  flood TEXT         send TEXT again and again until the client closes the
                     connection; a MISMATCH when the client has taken 128 MiB
                     without closing
  pause SECONDS      sleep (fractions allowed); between two sends it splits
                     the data into separate segments, which the client reads
                     apart; a stall that must not read (so that the client's
                     sends fill the buffers) also uses it, others await_close
  expect TEXT        read one line from the client (up to LF; a CR LF or LF
                     ending is removed) and check it equals TEXT
  expect_match GLOB  the same, matched with shell wildcards (* ? [...])
  expect_bytes TEXT  read exactly len(TEXT) bytes and check them
  expect_close       read until the client closes; any byte is a mismatch
  await_close        hold the connection without sending until the client
                     closes it (a stall that lasts as long as the client
                     waits); what the client sends meanwhile is dropped; a
                     TIMEOUT when the client sends nothing for the time limit
  await_file PATH    wait until the file PATH exists (the test creates it
                     when the client has got where the server must wait for)
  drain [PATH]       read until the client closes; print "RECEIVED <count>"
                     and, with PATH, write the bytes to that file
  close              close the connection
  shutdown           end the sending side only (the client reads the end of
                     the stream) and go on reading, as a server does in a
                     lingering close
  accept             close the connection (if any) and accept the next one on
                     the same listener
  timeout SECONDS    time limit for each later read or accept (default 10)
  pasv [TEXT]        open a data listener on the control listener's address
                     and send, on the control connection, TEXT + CR LF where
                     "{addr}" becomes "127,0,0,1,p1,p2", "{p1}", "{p2}" the
                     two port numbers alone (so that a reply can name another
                     host while the listener stays on 127.0.0.1) and "{port}"
                     the port (for a 229 reply); default TEXT:
                     "227 Entering Passive Mode ({addr})"
  drip SECONDS TEXT  send TEXT, then again every SECONDS, until the client
                     closes the connection; a TIMEOUT when it has not closed
                     within the time limit
  trickle SECONDS TEXT
                     send TEXT one byte at a time, SECONDS apart; the client
                     closing the connection ends the step early

Output on standard output: "PORT <n>" once listening; "RECEIVED <n>" for
each drain; "MISMATCH step <k>: ..." or "TIMEOUT step <k>: ..." when a check
fails (the script stops there, exit code 1); "DONE" when every step passed
(exit code 0). All sockets are closed at the end.
"""

import fnmatch
import os
import select
import socket
import sys
import time

FLOOD_LIMIT = 128 * 1024 * 1024


class ScriptFailure(Exception):
    """A failed check: kind is "MISMATCH" or "TIMEOUT"."""

    def __init__(self, kind, detail):
        super().__init__(detail)
        self.kind = kind
        self.detail = detail


def decode(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x" and i + 4 <= len(text):
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            out.extend({"r": b"\r", "n": b"\n", "t": b"\t", "\\": b"\\"}.get(n, n.encode("latin-1")))
            i += 2
            continue
        out.extend(c.encode("latin-1"))
        i += 1
    return bytes(out)


def listener(host="127.0.0.1"):
    s = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((host, 0))
    s.listen(8)
    return s


class Channel:
    """One side (control or data): its listener, connection and read buffer."""

    def __init__(self, server):
        self.server = server
        self.listener = None
        self.conn = None
        self.buffer = b""

    def accept(self):
        if self.listener is None:
            raise ScriptFailure("MISMATCH", "no listener to accept on")
        self.listener.settimeout(self.server.timeout)
        try:
            conn, _ = self.listener.accept()
        except socket.timeout:
            raise ScriptFailure("TIMEOUT", "no client connected")
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.conn = conn
        self.buffer = b""

    def connection(self):
        if self.conn is None:
            self.accept()
        return self.conn

    def receive_more(self):
        conn = self.connection()
        conn.settimeout(self.server.timeout)
        try:
            chunk = conn.recv(65536)
        except socket.timeout:
            raise ScriptFailure("TIMEOUT", "client sent nothing; so far %r" % self.buffer)
        except ConnectionResetError:
            chunk = b""
        return chunk

    def read_line(self):
        while b"\n" not in self.buffer:
            chunk = self.receive_more()
            if not chunk:
                raise ScriptFailure("MISMATCH", "client closed; pending %r" % self.buffer)
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line[:-1] if line.endswith(b"\r") else line

    def read_bytes(self, count):
        while len(self.buffer) < count:
            chunk = self.receive_more()
            if not chunk:
                break
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def read_to_end(self):
        data = self.buffer
        self.buffer = b""
        while True:
            chunk = self.receive_more()
            if not chunk:
                return data
            data += chunk

    def close(self):
        if self.conn is not None:
            self.conn.close()
            self.conn = None

    def close_all(self):
        self.close()
        if self.listener is not None:
            self.listener.close()
            self.listener = None


class Server:
    def __init__(self, host):
        self.timeout = 10.0
        self.control = Channel(self)
        self.host = host
        self.control.listener = listener(host)
        self.data = Channel(self)

    def run_step(self, keyword, arg, channel):
        if keyword == "send":
            channel.connection().sendall(decode(arg))
        elif keyword == "send_file":
            with open(arg, "rb") as f:
                channel.connection().sendall(f.read())
        elif keyword == "flood":
            self.flood(channel.connection(), decode(arg))
        elif keyword == "pause":
            time.sleep(float(arg))
        elif keyword == "expect":
            self.check(channel.read_line(), decode(arg))
        elif keyword == "expect_match":
            line = channel.read_line()
            if not fnmatch.fnmatchcase(line.decode("latin-1"), decode(arg).decode("latin-1")):
                raise ScriptFailure("MISMATCH", "expected %r, got %r" % (arg, line))
        elif keyword == "expect_bytes":
            want = decode(arg)
            self.check(channel.read_bytes(len(want)), want)
        elif keyword == "expect_close":
            self.check(channel.read_to_end(), b"")
        elif keyword == "await_close":
            channel.read_to_end()
        elif keyword == "await_file":
            self.await_file(arg)
        elif keyword == "drain":
            data = channel.read_to_end()
            print("RECEIVED %d" % len(data))
            if arg:
                with open(arg, "wb") as f:
                    f.write(data)
        elif keyword == "close":
            channel.connection()
            channel.close()
        elif keyword == "shutdown":
            channel.connection().shutdown(socket.SHUT_WR)
        elif keyword == "accept":
            channel.close()
            channel.accept()
        elif keyword == "timeout":
            self.timeout = float(arg)
        elif keyword == "pasv":
            self.open_passive(arg or "227 Entering Passive Mode ({addr})")
        elif keyword == "drip":
            seconds, _, text = arg.partition(" ")
            self.drip(channel.connection(), float(seconds), decode(text))
        elif keyword == "trickle":
            seconds, _, text = arg.partition(" ")
            self.trickle(channel.connection(), float(seconds), decode(text))
        else:
            raise ScriptFailure("MISMATCH", "unknown step %r" % keyword)

    def open_passive(self, template):
        self.data.close_all()
        self.data.listener = listener(self.host)
        port = self.data.listener.getsockname()[1]
        p1, p2 = str(port // 256), str(port % 256)
        text = (template.replace("{addr}", "127,0,0,1,%s,%s" % (p1, p2))
                .replace("{p1}", p1).replace("{p2}", p2).replace("{port}", str(port)))
        self.control.connection().sendall(decode(text) + b"\r\n")

    def flood(self, conn, text):
        # Large pieces, so that the bytes go out as fast as the client reads.
        piece = text * max(1, 65536 // len(text))
        conn.settimeout(self.timeout)
        sent = 0
        try:
            while sent < FLOOD_LIMIT:
                conn.sendall(piece)
                sent += len(piece)
        except ConnectionError:
            return
        except socket.timeout:
            raise ScriptFailure("TIMEOUT", "client neither read nor closed")
        raise ScriptFailure("MISMATCH", "client took %d bytes without closing" % sent)

    def drip(self, conn, seconds, text):
        end = time.monotonic() + self.timeout
        try:
            while time.monotonic() < end:
                conn.sendall(text)
                readable, _, _ = select.select([conn], [], [], seconds)
                if readable and not conn.recv(65536):
                    return
        except ConnectionError:
            return
        raise ScriptFailure("TIMEOUT", "client kept the connection open")

    def await_file(self, path):
        end = time.monotonic() + self.timeout
        while not os.path.exists(path):
            if time.monotonic() >= end:
                raise ScriptFailure("TIMEOUT", "no file %s" % path)
            time.sleep(0.01)

    @staticmethod
    def trickle(conn, seconds, text):
        try:
            for i in range(len(text)):
                conn.sendall(text[i:i + 1])
                time.sleep(seconds)
        except ConnectionError:
            return

    @staticmethod
    def check(got, want):
        if got != want:
            raise ScriptFailure("MISMATCH", "expected %r, got %r" % (want, got))

    def close_all(self):
        self.data.close_all()
        self.control.close_all()


def parse(line):
    line = line.rstrip("\n")
    keyword, _, arg = line.partition(" ")
    return keyword, arg


def main():
    with open(sys.argv[1], encoding="latin-1") as f:
        steps = [l.rstrip("\n") for l in f]
    server = Server(sys.argv[2] if len(sys.argv) > 2 else "127.0.0.1")
    print("PORT %d" % server.control.listener.getsockname()[1])
    status = 0
    try:
        for number, line in enumerate(steps, 1):
            if not line.strip() or line.startswith("#"):
                continue
            keyword, arg = parse(line)
            channel = server.control
            if keyword == "data":
                keyword, arg = parse(arg)
                channel = server.data
            try:
                server.run_step(keyword, arg, channel)
            except ScriptFailure as failure:
                print("%s step %d: %s: %s" % (failure.kind, number, line, failure.detail))
                status = 1
                break
            except OSError as error:
                print("MISMATCH step %d: %s: %s" % (number, line, error))
                status = 1
                break
        else:
            print("DONE")
    finally:
        server.close_all()
    sys.exit(status)


if __name__ == "__main__":
    main()
