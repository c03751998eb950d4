#!/usr/bin/env python3
"""The FTP server of a networked machine, for the FTP transport tests.

pyftpdlib on 127.0.0.1 with an ephemeral port, user cnc / password cnc with
write permission in the home folder given by -d. Says
">>> starting FTP server on 127.0.0.1:PORT <<<" on stderr once listening,
then "login cnc" at each login.
Faults of real machines' servers on request:
  --quota BYTES   a STOR that would take the home past BYTES ends with 552
  --drop-after N  RETR sends N bytes, closes the data connection, says 226
  --stall         RETR opens the transfer and never sends a byte
  --no-mlsd       MLSD is not understood (500): listings come from LIST
  --dos           LIST in DOS form ("12-01-26  10:15AM  <DIR>  name")
  --many N        a folder "many" listing N files that do not exist
"""

import argparse
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler, proto_cmds
from pyftpdlib.servers import FTPServer


class QuotaExceeded(Exception):
    pass


def used_bytes(home):
    total = 0
    for folder, _, files in os.walk(home):
        for f in files:
            try:
                total += os.path.getsize(os.path.join(folder, f))
            except OSError:
                pass
    return total


class CutFile:
    """A file opened by the server, read only up to a limit or written only
    up to the quota."""

    def __init__(self, fd, read_limit=None, write_room=None):
        self._fd = fd
        self._read_left = read_limit
        self._write_room = write_room

    def read(self, n=-1):
        if self._read_left is None:
            return self._fd.read(n)
        n = self._read_left if n < 0 else min(n, self._read_left)
        data = self._fd.read(n)
        self._read_left -= len(data)
        return data

    def write(self, data):
        if self._write_room is not None:
            self._write_room -= len(data)
            if self._write_room < 0:
                raise QuotaExceeded()
        return self._fd.write(data)

    def __getattr__(self, name):
        return getattr(self._fd, name)


def make_handler(opts, home):
    many_dir = os.path.realpath(os.path.join(home, "many"))

    class MachineFS(AbstractedFS):
        def open(self, filename, mode):
            fd = super().open(filename, mode)
            if "r" in mode and opts.drop_after is not None:
                return CutFile(fd, read_limit=opts.drop_after)
            if "w" in mode and opts.quota is not None:
                return CutFile(fd, write_room=opts.quota - used_bytes(home))
            return fd

        def listdir(self, path):
            if opts.many and os.path.realpath(path) == many_dir:
                return ["f%06d.nc" % i for i in range(opts.many)]
            return super().listdir(path)

        def format_list(self, basedir, listing, ignore_err=True):
            if opts.many and os.path.realpath(basedir) == many_dir:
                for name in listing:
                    yield ("-rw-r--r-- 1 cnc cnc 1 Jan 01 10:00 %s\r\n" % name).encode()
                return
            if not opts.dos:
                yield from super().format_list(basedir, listing, ignore_err)
                return
            for name in listing:
                try:
                    st = self.lstat(os.path.join(basedir, name))
                except OSError:
                    continue
                when = time.strftime("%m-%d-%y  %I:%M%p", time.localtime(st.st_mtime))
                what = "<DIR>         " if os.path.isdir(os.path.join(basedir, name)) \
                    else "%14d" % st.st_size
                yield ("%s       %s %s\r\n" % (when, what, name)).encode("utf8")

        def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
            if opts.many and os.path.realpath(basedir) == many_dir:
                for name in listing:
                    yield ("type=file;size=1;modify=20260101100000; %s\r\n" % name).encode()
                return
            yield from super().format_mlsx(basedir, listing, perms, facts, ignore_err)

    class MachineDTP(DTPHandler):
        def handle_error(self):
            if isinstance(sys.exc_info()[1], QuotaExceeded):
                self._resp = ("552 Exceeded storage allocation.", logging.warning)
                self.close()
            else:
                super().handle_error()

    class MachineHandler(FTPHandler):
        abstracted_fs = MachineFS
        dtp_handler = MachineDTP
        auth_failed_timeout = 0
        use_sendfile = False  # RETR reads through MachineFS's files
        if opts.no_mlsd:
            proto_cmds = {k: v for k, v in proto_cmds.items() if k != "MLSD"}

        def on_login(self, username):
            sys.stderr.write("login %s\n" % username)
            sys.stderr.flush()

        def ftp_RETR(self, file):
            if not opts.stall:
                return super().ftp_RETR(file)
            # The transfer is announced and never starts.
            self.respond("150 File status okay. About to open data connection.")
            return file

    authorizer = DummyAuthorizer()
    authorizer.add_user("cnc", "cnc", home, perm="elradfmwMT")
    MachineHandler.authorizer = authorizer
    return MachineHandler


def main():
    p = argparse.ArgumentParser()
    p.add_argument("-d", dest="home", required=True)
    p.add_argument("--quota", type=int)
    p.add_argument("--drop-after", type=int)
    p.add_argument("--stall", action="store_true")
    p.add_argument("--no-mlsd", action="store_true")
    p.add_argument("--dos", action="store_true")
    p.add_argument("--many", type=int, default=0)
    p.add_argument("-p", dest="port", type=int, default=0)
    opts = p.parse_args()
    home = os.path.abspath(opts.home)
    if opts.many:
        os.makedirs(os.path.join(home, "many"), exist_ok=True)
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    server = FTPServer(("127.0.0.1", opts.port), make_handler(opts, home))
    host, port = server.socket.getsockname()[:2]
    sys.stderr.write(">>> starting FTP server on %s:%d <<<\n" % (host, port))
    sys.stderr.flush()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
