#!/usr/bin/env python3
"""A headless nodalis flooded with CONNECT lines, one per TCP segment, while
another client pings: prints the server's resident memory before and after,
whether it is still alive, and how long the other client waited for answers.

    bench/control_flood.py [LINES]      (default 20000; needs build/bin/nodalis)
"""
import os, socket, subprocess, sys, tempfile, time

lines = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
base = tempfile.mkdtemp(prefix="nodalis-flood-")
with open(os.path.join(base, "Nodalis.ini"), "wb") as f:
    f.write(b"[NODALIS]\r\nPortListen=0\r\nDncAppMode=0\r\n[DNC]\r\nRefMO=M1\r\n")
server = subprocess.Popen([os.path.join(root, "build/bin/nodalis"), "--headless", "--base", base],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
while b"serving from" not in server.stdout.readline():
    pass
ini = open(os.path.join(base, "Nodalis.ini"), "rb").read()
port = int(ini.split(b"Socket=")[1].split(b"\r")[0])

def rss_kb():
    for row in open(f"/proc/{server.pid}/status"):
        if row.startswith("VmRSS:"):
            return int(row.split()[1])

def ping(timeout=30.0):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    start = time.monotonic()
    s.sendall(b"Info:PING|\r\n")
    got = b""
    while b"Info:OK|" not in got:
        chunk = s.recv(4096)
        if not chunk:
            break
        got += chunk
    s.close()
    return time.monotonic() - start if b"Info:OK|" in got else None

before = rss_kb()
flooder = socket.create_connection(("127.0.0.1", port))
flooder.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
sent, waits = 0, []
try:
    for i in range(lines):
        flooder.send(b"Info:CONNECT|\r\n")
        sent += 1
        time.sleep(0.002)
        if i % 2000 == 1999:
            waits.append(ping())
except OSError:
    pass  # the server closed the flooder
waits.append(ping())
after = rss_kb()
alive = server.poll() is None
print(f"lines sent {sent} of {lines}; server alive: {alive}")
print(f"resident memory {before} kB before, {after} kB after ({after - before:+d} kB)")
print("other client's PING answered in: " +
      ", ".join("none" if w is None else f"{w * 1000:.0f} ms" for w in waits))
server.terminate()
server.wait()
sys.exit(0 if alive and all(w is not None for w in waits) else 1)
