"""A TNC control through the TNCremo tool, played by the stand-in
nodalis-tnccmd on a local folder:
- one fetch of a program through the server's link (its script, the tool's
  start, the wait on its end, the 100 ms pause after it, the copy), against
  the same tool run by hand on the same script: the difference is the
  link's own cost per operation;
- CPU of the link while it waits for a tool that runs 10 s (a hung tool,
  killed at a 10 s limit);
- parsing a 10,000-line listing."""
import os, subprocess, time

import benchlib

PROGRAM = b"0 BEGIN PGM 1234 MM\r\n" + b"1 L X+0 R0 FMAX\r\n" * 2000 + b"2 END PGM 1234 MM\r\n"


def listing(entries):
    line = "%-32s M %13d  06.12.2026 10:00:00    \r\n"
    return ("".join(line % (f"P{n}.H", n) for n in range(entries)) +
            f"{entries} file(s) 0 bytes").encode("latin-1")


def figures():
    work = benchlib.base_folder("tnc")
    root = os.path.join(work, "tnc")
    os.makedirs(root)
    with open(os.path.join(root, "1234.H"), "wb") as f:
        f.write(PROGRAM)
    tool = benchlib.binary("nodalis-tnccmd")
    env = dict(os.environ, NODALIS_TNC_ROOT=root)
    script = os.path.join(work, "GET.bat")
    by_hand = os.path.join(work, "byhand.txt")
    with open(script, "wb") as f:
        f.write(b'cd "."\r\nGET "1234.H" ' + by_hand.encode() + b"\r\nexit\r\n")
    ours = [benchlib.binary("bench_tnc"), tool, root, "get", "1234.H", os.path.join(work, "got.H")]

    def run(args, extra=None):
        t0 = time.monotonic()
        subprocess.run(args, check=True, env=dict(env, **(extra or {})),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return time.monotonic() - t0

    a, b = benchlib.interleaved(lambda: run(ours), lambda: run([tool, "-i1", "START", script]))
    overhead = [x - y for x, y in zip(a, b)]
    rows = [benchlib.Row("TNC fetch: the link's cost beyond the tool's run", overhead, b, "s",
                         "< 0.15 s (0.1 s of it the pause after the tool)",
                         lambda o, c, r: o < 0.15)]

    cpu = []
    for _ in range(3):
        start = time.monotonic()
        child = subprocess.Popen([benchlib.binary("bench_tnc"), tool, root, "list", ".", "10"],
                                 env=dict(env, NODALIS_TNC_FAULTS="hang"),
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, _, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - start
        cpu.append(100 * (usage.ru_utime + usage.ru_stime) / wall)
    rows.append(benchlib.Row("TNC: CPU while a tool runs 10 s", cpu, [], "% of a core", "< 1 %",
                             lambda o, c, r: o < 1))

    big = os.path.join(work, "listing.txt")
    with open(big, "wb") as f:
        f.write(listing(10000))
    out = subprocess.run([benchlib.binary("bench_tnc"), "parse", big, "21"], check=True,
                         capture_output=True).stdout.split()
    if int(out[1]) != 10000:
        raise RuntimeError(f"the listing gave {out[1]} entries, not 10000")
    rows.append(benchlib.Row("TNC: parsing a 10,000-line listing", [float(out[0])], [], "ms",
                             "< 50 ms", lambda o, c, r: o < 50))
    return rows
