#!/usr/bin/python3
"""A server killed (SIGKILL) mid-upload, started again: the time from the
kill until it listens again with the cut upload kept under its dated name,
on the real clock, and whether the kept text is what had reached the disk.
No outside program does this job, so the figure stands alone.

    bench/kill_recovery.py [RUNS]      (default 5; needs build/bin/nodalis)
"""
import glob, os, shutil, signal, statistics, subprocess, sys, tempfile, time

runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
base = tempfile.mkdtemp(prefix="nodalis-kill-")
link, out = os.path.join(base, "machine.tty"), os.path.join(base, "machine.out")
reception = os.path.join(base, "Receiv", "FromCN.txt")
upload = os.path.join(base, "upload.txt")
open(upload, "wb").write(b"%\nO2000 (RECEPTION)\n" +
                         b"".join(b"N%d G1 X%d.5 Y2.25 F900\n" % (i * 10, i) for i in range(1, 2000)) +
                         b"M30\n%\n")
with open(os.path.join(base, "Nodalis.ini"), "wb") as f:
    f.write(b"[NODALIS]\r\nPortListen=0\r\nDncAppMode=2\r\n[DNC]\r\nMethode=0\r\nIsModeEcoute=1\r\n"
            b"[COMM]\r\nPortName=" + link.encode() + b"\r\nBauds=9600\r\nDataBit=8\r\nParite=N\r\n"
            b"StopBit=1\r\nTimeOut=1\r\nEOB=13,10\r\n[REMONTE]\r\nRemonteDossier=1\r\nPathRemonte=" +
            base.encode() + b"/Remontes\r\n")
machine = subprocess.Popen(["/usr/bin/python3", os.path.join(root, "tests/support/serial_machine.py"),
                            "--link", link, "--out", out],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
assert machine.stdout.readline().strip() == "ready"

def log():
    return b"".join(open(p, "rb").read() for p in glob.glob(os.path.join(base, "LogFiles", "*.txt")))

def start():
    listening = log().count(b"---Code105---")
    server = subprocess.Popen([os.path.join(root, "build/bin/nodalis"), "--headless", "--base", base],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while log().count(b"---Code105---") == listening:
        time.sleep(0.002)
    return server

times, kept_all = [], True
server = start()
for _ in range(runs):
    while os.path.exists(reception) and os.path.getsize(reception) > 0:  # a fresh cycle
        time.sleep(0.01)
    machine.stdin.write(f"send {upload} 32 5\n")
    machine.stdin.flush()
    while not os.path.exists(reception) or open(reception, "rb").read().count(b"\n") < 200:
        time.sleep(0.005)
    server.send_signal(signal.SIGKILL)
    killed = time.monotonic()
    server.wait()
    on_disk = open(reception, "rb").read()
    before = set(glob.glob(os.path.join(base, "Receiv", "FromCN_(*")))
    server = start()
    times.append(time.monotonic() - killed)
    new = set(glob.glob(os.path.join(base, "Receiv", "FromCN_(*"))) - before
    kept = len(new) == 1 and open(new.pop(), "rb").read() == on_disk
    kept_all = kept_all and kept
    lines = on_disk.count(b"\n")
    print(f"back to listening {times[-1] * 1000:6.0f} ms after the kill; "
          f"{lines} lines kept: {kept}", flush=True)
    while machine.stdout.readline().strip() != "ok":  # the rest of the upload
        pass
    time.sleep(2)  # its reception ends
server.terminate()
server.wait()
print(f"median {statistics.median(times) * 1000:.0f} ms, worst {max(times) * 1000:.0f} ms; "
      f"every cut upload kept: {kept_all}")
machine.stdin.write("quit\n")
machine.stdin.flush()
machine.wait()
shutil.rmtree(base, ignore_errors=True)
