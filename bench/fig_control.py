"""Control link figures: a burst of control connections, each taken when
its first PING is answered, against an outside listener that answers the
same PING and does nothing else."""
import os, resource, selectors, socket, subprocess, sys, time

import benchlib

CONNECTIONS = 1000
PING, OK = b"Info:PING|\r\n", b"Info:OK|\r\n"

# The outside listener: accepts as fast as it can (backlog as deep as the
# system allows) and answers every PING line with OK; nothing else.
LISTENER = r"""
import selectors, socket, sys
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(socket.SOMAXCONN)
server.setblocking(False)
sel = selectors.DefaultSelector()
sel.register(server, selectors.EVENT_READ)
pending = {}
print(server.getsockname()[1], flush=True)
while True:
    for key, _ in sel.select():
        s = key.fileobj
        if s is server:
            while True:
                try:
                    c, _ = server.accept()
                except BlockingIOError:
                    break
                c.setblocking(False)
                pending[c] = b""
                sel.register(c, selectors.EVENT_READ)
            continue
        try:
            data = s.recv(4096)
        except OSError:
            data = b""
        if not data:
            sel.unregister(s)
            pending.pop(s, None)
            s.close()
            continue
        buf = pending[s] + data
        *lines, pending[s] = buf.split(b"\r\n")
        for line in lines:
            if line == b"Info:PING|":
                s.send(b"Info:OK|\r\n")
"""


def raise_file_limit(needed):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft != resource.RLIM_INFINITY and soft < needed:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(needed, hard), hard))


def ping_once(port, deadline_s=20):
    """Waits until a PING on a fresh connection is answered."""
    end = time.monotonic() + deadline_s
    while time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
                s.sendall(PING)
                got = b""
                while OK not in got:
                    chunk = s.recv(4096)
                    if not chunk:
                        break
                    got += chunk
                if OK in got:
                    return
        except OSError:
            pass
        time.sleep(0.02)
    raise RuntimeError(f"nothing answers PING on port {port}")


def burst(port, count=CONNECTIONS, deadline_s=30):
    """Opens `count` connections as fast as it can, each sending PING once
    connected: seconds from the first connect to the last OK."""
    sel = selectors.DefaultSelector()
    socks, got = [], {}
    done = 0
    start = time.monotonic()
    try:
        for _ in range(count):
            s = socket.socket()
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", port))
            socks.append(s)
            got[s] = b""
            sel.register(s, selectors.EVENT_WRITE)
        last = start
        end = start + deadline_s
        while done < count:
            left = end - time.monotonic()
            if left <= 0:
                raise RuntimeError(f"{count - done} of {count} connections never answered")
            for key, events in sel.select(min(left, 1.0)):
                s = key.fileobj
                if events & selectors.EVENT_WRITE:
                    if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR):
                        raise RuntimeError("a connection was refused")
                    s.send(PING)
                    sel.modify(s, selectors.EVENT_READ)
                    continue
                chunk = s.recv(4096)
                if not chunk:
                    raise RuntimeError("a connection was closed before its answer")
                got[s] += chunk
                if OK in got[s]:
                    last = time.monotonic()
                    done += 1
                    sel.unregister(s)
        return last - start
    finally:
        sel.close()
        for s in socks:
            s.close()
        # Both sides see every connection go before the next burst.
        time.sleep(0.3)


def figures():
    raise_file_limit(2 * CONNECTIONS + 64)
    base = benchlib.base_folder("control")
    port = benchlib.free_port()
    benchlib.write_ini(base, {
        "NODALIS": {"DncAppMode": 0, "PortListen": port, "ControlAllowFrom": "127.0.0.1"},
        "DNC": {"RefMO": "BENCH", "IsModeEcoute": 0},
    })
    ours = benchlib.server(base)
    listener = subprocess.Popen([sys.executable, "-c", LISTENER], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
    try:
        outside = int(listener.stdout.readline())
        ping_once(port)
        ping_once(outside)
        a, b = benchlib.interleaved(lambda: burst(port), lambda: burst(outside))
        alive = ours.poll() is None
    finally:
        benchlib.stop(ours)
        benchlib.stop(listener)
    return [benchlib.Row(
        "1,000 control connections, burst", a, b, "s", "< 1 s",
        lambda mo, mb, r: alive and mo < 1.0,
        note="from the first connect to the last PING answered; baseline: a python "
             "listener answering PING (backlog SOMAXCONN)" + ("" if alive else
                                                              "; the server died"))]
