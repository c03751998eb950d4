"""A FANUC control through FOCAS, played by the simulated control loaded as
the FOCAS library (number mode), each figure one process doing one job,
timed from its start to its exit:
- a 10 MB program sent (the control taking 1,460 bytes a call) and fetched
  (256-byte blocks), against `cp` of the same file in the same run;
- 10 MB against 1 MB sent, to see the time grow with the size and no more;
- listing 2,000 programs."""
import os, subprocess, time

import benchlib

MB = 1 << 20


def program(number, size):
    line = b"N10 G1 X100.125 Y200.5 Z-3.02 F1200\n"
    body = line * (size // len(line))
    return b"%\nO" + str(number).encode() + b" (BENCH)\n" + body + b"M30\n%"


def figures():
    work = benchlib.base_folder("focas")
    memory = os.path.join(work, "memory")
    os.makedirs(memory)
    with open(os.path.join(memory, "control.ini"), "w") as f:
        f.write("[control]\nCncType=16\nBytesPerCall=1460\n")
    library = os.path.join(benchlib.BIN, "libnodalis-focas-sim.so")
    ours = [benchlib.binary("bench_focas"), library]
    env = dict(os.environ, NODALIS_FOCAS_SIM=memory)
    files = {}
    for number, size in ((4000, 10 * MB), (4001, MB)):
        files[number] = os.path.join(work, f"O{number}.nc")
        with open(files[number], "wb") as f:
            f.write(program(number, size))

    def run(args):
        t0 = time.monotonic()
        subprocess.run(args, check=True, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return time.monotonic() - t0

    copy = lambda: run(["cp", files[4000], os.path.join(work, "copy.nc")])
    rows = []
    a, b = benchlib.interleaved(lambda: run(ours + ["put", files[4000]]), copy)
    rows.append(benchlib.Row("FOCAS send 10 MB (MB/s)", [10 / x for x in a], [10 / x for x in b],
                             "MB/s", ">= 50 MB/s", lambda o, c, r: o >= 50))
    got = os.path.join(work, "got.nc")
    a, b = benchlib.interleaved(lambda: run(ours + ["get", "O4000", got]), copy)
    rows.append(benchlib.Row("FOCAS fetch 10 MB (MB/s)", [10 / x for x in a], [10 / x for x in b],
                             "MB/s", ">= 20 MB/s", lambda o, c, r: o >= 20))
    a, b = benchlib.interleaved(lambda: run(ours + ["put", files[4000]]),
                                lambda: run(ours + ["put", files[4001]]))
    rows.append(benchlib.Row("FOCAS send: 10 MB against 1 MB", a, b, "s", "<= 12 x",
                             lambda o, c, r: r <= 12))
    for n in range(1, 2001):
        with open(os.path.join(memory, f"O{n}"), "wb") as f:
            f.write(b"%%\nO%d (P)\nM30\n%%" % n)
    listing = []
    for _ in range(benchlib.PAIRS):
        listing.append(run(ours + ["list"]) * 1000)
    rows.append(benchlib.Row("FOCAS listing of 2,000 programs", listing, [], "ms", "< 200 ms",
                             lambda o, c, r: o < 200))
    return rows
