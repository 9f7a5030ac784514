#!/usr/bin/python3
"""A pyftpdlib server on loopback for the FTP tests.

ftp_server.py PORT ROOT USER PASSWORD [--tls CERT KEY] [--size-on-folders] [--no-mlsd] [--pasv-elsewhere]
"""
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    port, root, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    rest = sys.argv[5:]
    tls = "--tls" in rest
    base = FTPHandler
    if tls:
        from pyftpdlib.handlers import SSLConnection, TLS_FTPHandler
        i = rest.index("--tls")
        TLS_FTPHandler.certfile, TLS_FTPHandler.keyfile = rest[i + 1], rest[i + 2]
        TLS_FTPHandler.tls_control_required = True
        TLS_FTPHandler.tls_data_required = True
        # Debian's pyftpdlib 1.5.7 closes the data channel while the client's TLS handshake on
        # it is still running; without this every protected transfer fails.
        _readable = SSLConnection.readable
        SSLConnection.readable = lambda self: self._ssl_accepting or _readable(self)
        base = TLS_FTPHandler

    class Handler(base):
        pass

    if "--size-on-folders" in rest:
        # Some servers answer SIZE for folders too.
        def ftp_SIZE(self, path):
            if self.fs.isdir(path):
                self.respond("213 4096")
                return
            return base.ftp_SIZE(self, path)

        Handler.ftp_SIZE = ftp_SIZE
    if "--no-mlsd" in rest:
        Handler.proto_cmds = {k: v for k, v in base.proto_cmds.items() if k not in ("MLSD", "MLST")}

    if "--pasv-elsewhere" in rest:
        # PASV replies name a host that is not this one; without EPSV the client must use them.
        Handler.masquerade_address = "192.0.2.1"
        Handler.proto_cmds = {k: v for k, v in Handler.proto_cmds.items() if k not in ("EPSV",)}

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    Handler.permit_foreign_addresses = True
    server = FTPServer(("127.0.0.1", port), Handler)
    server.max_cons = 64
    server.serve_forever(timeout=0.5)


if __name__ == "__main__":
    # Nobody reads the server's output while a test runs: a full pipe would stop the server.
    logging.basicConfig(level=logging.WARNING)
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)
    os.umask(0o022)
    main()
