"""A machine behind an IP-serial converter (Methode 7). The converter is
this process: a TCP listener on 127.0.0.1 that the server connects to.
- send: T of a 1 MB program, one character in flight, first byte to last,
  against an outside program (a Python client) writing the same bytes to
  the same kind of listener;
- upload: 10 MB sent by the converter as fast as it can, until the whole
  of it is in the server's reception file, less nothing (the reception's
  end after TimeOut comes later), against a plain socket reader of the same
  stream;
- reconnection: the converter drops the connection and refuses for 2 s;
  from the drop to the server's next connection (its retries are 5 s apart);
- idle: CPU of the listening server over 30 s, connected to a silent box."""
import os, socket, subprocess, sys, threading, time

import benchlib
import fig_idle

SEND = 1 << 20
UPLOAD = 10 << 20
READER = r"""
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
want, got = int(sys.argv[2]), 0
while got < want:
    d = s.recv(1 << 16)
    if not d:
        break
    got += len(d)
print(got, flush=True)
"""
WRITER = r"""
import socket, sys
data = open(sys.argv[2], "rb").read()
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.sendall(data)
s.close()
"""


class Box:
    """The converter: one listening socket, one connection at a time."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.conn = None

    def accept(self, timeout=20):
        self.listener.settimeout(timeout)
        self.conn, _ = self.listener.accept()
        return time.monotonic()

    def read(self, total, timeout=60):
        """First and last arrival times of `total` bytes, and the bytes."""
        self.conn.settimeout(timeout)
        chunks, got, first = [], 0, None
        while got < total:
            d = self.conn.recv(1 << 16)
            if not d:
                break
            first = first or time.monotonic()
            chunks.append(d)
            got += len(d)
        return first, time.monotonic(), b"".join(chunks)


def figures():
    base = benchlib.base_folder("ipserial")
    os.makedirs(os.path.join(base, "Send"))
    box = Box()
    program = benchlib.program(SEND)
    with open(os.path.join(base, "Send", "ToCN.txt"), "wb") as f:
        f.write(program)
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": benchlib.free_port(), "DncAppMode": 2, "IconTray": 0,
                    "ControlAllowFrom": "127.0.0.1"},
        "DNC": {"Methode": 7, "IsModeEcoute": 1},
        "RESEAU": {"RemoteHost": "127.0.0.1", "RemotePort": box.port},
        "COMM": {"TimeOut": 1, "EOB": "13,10"},
        "OPTION_DNC": {"NbBlocAvance": 1},
    })
    server = benchlib.server(base)
    box.accept()
    rows = []
    try:
        exact = []

        def ours_send():
            ctl = subprocess.Popen([benchlib.binary("nodalisctl"), "--base", base, "--timeout",
                                    "120", "send", "T"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
            box.accept()  # a send connects anew, and listens on after it
            first, last, got = box.read(len(program))
            ctl.wait()
            exact.append(got == program)
            return len(program) / 1024 / (last - first)

        path = os.path.join(base, "Send", "ToCN.txt")

        def their_send():
            other = Box()
            proc = subprocess.Popen([sys.executable, "-c", WRITER, str(other.port), path])
            other.accept()
            first, last, _ = other.read(len(program))
            proc.wait()
            other.listener.close()
            return len(program) / 1024 / (last - first)

        a, b = benchlib.interleaved(ours_send, their_send, max(3, benchlib.PAIRS // 2))
        rows.append(benchlib.Row("IP-serial send 1 MB, one character in flight", a, b, "KB/s",
                                 ">= 115 KB/s", lambda o, c, r: o >= 115 and all(exact),
                                 "" if all(exact) else "NOT BYTE-EXACT"))

        upload = benchlib.program(UPLOAD, "O9999")
        reception = os.path.join(base, "Receiv", "FromCN.txt")

        def ours_upload():
            listening = benchlib.log_count(base, "---Code384---")
            t0 = time.monotonic()
            box.conn.sendall(upload)
            while not (os.path.exists(reception) and os.path.getsize(reception) >= len(upload)):
                time.sleep(0.001)
                if time.monotonic() - t0 > 60:
                    log = os.path.join(base, "LogFiles")
                    tail = b"".join(open(os.path.join(log, n), "rb").read()[-1500:]
                                    for n in os.listdir(log))
                    raise RuntimeError("the upload never arrived whole:\n" +
                                       tail.decode("latin-1"))
            elapsed = time.monotonic() - t0
            # Past the reception's end, and listening again.
            while benchlib.log_count(base, "---Code384---") == listening:
                time.sleep(0.05)
            return elapsed

        def their_upload():
            other = Box()
            reader = subprocess.Popen([sys.executable, "-c", READER, str(other.port),
                                       str(len(upload))], stdout=subprocess.PIPE)
            other.accept()
            t0 = time.monotonic()
            other.conn.sendall(upload)
            reader.communicate()
            elapsed = time.monotonic() - t0
            other.conn.close()
            other.listener.close()
            return elapsed

        a, b = benchlib.interleaved(ours_upload, their_upload, max(3, benchlib.PAIRS // 2))
        rows.append(benchlib.Row("IP-serial upload 10 MB, into the reception file", a, b, "s",
                                 "<= 2 x a socket read", lambda o, c, r: r <= 2))

        def reconnection():
            box.conn.close()
            box.listener.close()
            dropped = time.monotonic()
            time.sleep(2)
            box.listener = socket.socket()
            box.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            box.listener.bind(("127.0.0.1", box.port))
            box.listener.listen(8)
            return box.accept(30) - dropped

        times = [reconnection() for _ in range(2)]
        rows.append(benchlib.Row("IP-serial reconnection after a 2 s box restart", times, [],
                                 "s", "< 6 s", lambda o, c, r: o < 6))

        fig_idle.WINDOW_S = 30
        idle = fig_idle.share([server.pid])
        rows.append(benchlib.Row("IP-serial idle listening server, CPU over 30 s", [idle], [],
                                 "% core", "< 1 %", lambda o, c, r: o < 1))
    finally:
        benchlib.stop(server)
    return rows
