"""Scripted FTP server: scripted_server.py with passive replies that may name
any address.

Usage: ftp_script_server.py SCRIPT-FILE

The script format is that of scripted_server.py. In the TEXT of a "pasv"
step, "{p1}" and "{p2}" also become the two port numbers of the data
listener, so that a reply can name another host while the listener stays on
127.0.0.1, for example:

  pasv 227 Entering Passive Mode (127,0,0,2,{p1},{p2})
"""

import scripted_server


class FtpScriptServer(scripted_server.Server):
    def open_passive(self, template):
        self.data.close_all()
        self.data.listener = scripted_server.listener()
        port = self.data.listener.getsockname()[1]
        p1, p2 = str(port // 256), str(port % 256)
        text = (template.replace("{addr}", "127,0,0,1,%s,%s" % (p1, p2))
                .replace("{p1}", p1).replace("{p2}", p2))
        self.control.connection().sendall(scripted_server.decode(text) + b"\r\n")


if __name__ == "__main__":
    # main() builds its server from the module's Server name.
    scripted_server.Server = FtpScriptServer
    scripted_server.main()
