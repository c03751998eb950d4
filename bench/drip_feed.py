#!/usr/bin/python3
"""Drip feed: a program sent to a machine that cuts at a fixed byte rate from
a 256-byte buffer and paces the line with XOFF/XON (tests/support/
serial_machine.py, pyserial on a pseudo-terminal). Interleaved with `cat`
writing the same bytes to the same line, the kernel doing XON/XOFF for
both; each run is timed at the machine, from the first byte to the last,
on the real clock. Prints each rate as a share of the drain rate, the
median of the pairs and the ratio to `cat`, and whether every byte came.

    bench/drip_feed.py RATE [BYTES] [PAIRS]
        (defaults: 46080 B/s, 1 MB, 3 pairs; needs build/bin/nodalis)
"""
import os, shutil, statistics, subprocess, sys, tempfile, time

rate = int(sys.argv[1]) if len(sys.argv) > 1 else 46080
size = int(sys.argv[2]) if len(sys.argv) > 2 else 1 << 20
pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
base = tempfile.mkdtemp(prefix="nodalis-drip-")
link, out = os.path.join(base, "machine.tty"), os.path.join(base, "machine.out")

# A program of `size` bytes as CAM writes it, and what goes on the wire.
lines, n = ["%", "O1000 (DRIP FEED)"], 0
while sum(len(l) + 2 for l in lines) < size - 16:
    n += 1
    lines.append(f"N{n * 10} G1 X{n % 400}.125 Y{(n * 7) % 300}.5 Z-{n % 9}.02 F1200")
lines += ["M30", "%"]
program = "\r\n".join(lines).encode() + b"\r\n"
wire = b"\x12\r\n" + program + b"\x14\r\n"
os.makedirs(os.path.join(base, "Programmes"))
open(os.path.join(base, "Programmes", "O1000"), "wb").write(program)
open(os.path.join(base, "wire.bin"), "wb").write(wire)
open(os.path.join(base, "call.txt"), "wb").write(b"(APPEL O1000)\r\n")

machine = subprocess.Popen(["/usr/bin/python3", os.path.join(root, "tests/support/serial_machine.py"),
                            "--link", link, "--out", out, "--rate", str(rate)],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
assert machine.stdout.readline().strip() == "ready"

def command(line):
    machine.stdin.write(line + "\n")
    machine.stdin.flush()
    while machine.stdout.readline().strip() != "ok":
        pass

def timed_arrival():
    """Seconds from the first byte at the machine to the whole wire text."""
    first = None
    while True:
        got = os.path.getsize(out)
        now = time.monotonic()
        if got and first is None:
            first = now
        if got >= len(wire):
            return now - first
        time.sleep(0.005)

with open(os.path.join(base, "Nodalis.ini"), "wb") as f:
    f.write(b"[NODALIS]\r\nPortListen=0\r\nDncAppMode=2\r\n[DNC]\r\nMethode=0\r\nIsModeEcoute=1\r\n"
            b"UseRPC=1\r\nCallSyntax=(APPEL $$$$)\r\nPathFileProgOpen=" + base.encode() +
            b"/Programmes\r\n[COMM]\r\nPortName=" + link.encode() + b"\r\nBauds=9600\r\n"
            b"DataBit=8\r\nParite=N\r\nStopBit=1\r\nTimeOut=1\r\nEOB=13,10\r\n"
            b"[OPTION_DNC]\r\nCtrlFlux=1\r\nCtrlFluxSend=1\r\nTimeOutEnvoi=2\r\n"
            b"[OPTION_T]\r\nBOT=18\r\nEOT=20\r\n")

def nodalis_run():
    command("clear")
    server = subprocess.Popen([os.path.join(root, "build/bin/nodalis"), "--headless", "--base", base],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.5)  # listening
    command(f"send {os.path.join(base, 'call.txt')} 64 0")
    seconds = timed_arrival()
    exact = open(out, "rb").read() == wire
    server.terminate()
    server.wait()
    return seconds, exact

def cat_run():
    command("clear")
    # The kernel holds cat's output on XOFF as it holds the server's.
    subprocess.run(["stty", "-F", link, "raw", "-echo", "ixon", "ixoff", "9600"], check=True)
    cat = subprocess.Popen(f"cat {os.path.join(base, 'wire.bin')} > {link}", shell=True)
    seconds = timed_arrival()
    cat.wait()
    return seconds, open(out, "rb").read() == wire

ours, theirs, exact = [], [], True
for _ in range(pairs):
    for run, times in ((nodalis_run, ours), (cat_run, theirs)):
        seconds, ok = run()
        times.append(seconds)
        exact = exact and ok
        print(f"{run.__name__[:-4]:8} {len(wire)} bytes in {seconds:7.2f} s: "
              f"{len(wire) / seconds / rate * 100:6.2f}% of {rate} B/s{'' if ok else ' NOT EXACT'}",
              flush=True)
m_ours, m_theirs = statistics.median(ours), statistics.median(theirs)
print(f"median: nodalis {len(wire) / m_ours / rate * 100:.2f}% of the drain rate, "
      f"cat {len(wire) / m_theirs / rate * 100:.2f}%; nodalis/cat time {m_ours / m_theirs:.3f}; "
      f"byte-exact: {exact}")
machine.stdin.write("quit\n")
machine.stdin.flush()
machine.wait()
shutil.rmtree(base, ignore_errors=True)
