"""Listening servers with nothing to do: 1, 32 and 128 headless servers,
each on its own pseudo-terminal, waiting for their machine. The CPU they
use (time on the CPU of all their threads, from /proc, over the same window) is given in % of
one core for the whole group. The baseline is the same number of `cat`
processes blocked reading the same kind of line."""
import os, subprocess, time

import benchlib

WINDOW_S = float(os.environ.get("NODALIS_BENCH_IDLE_WINDOW", "10"))


def cpu_seconds(pids):
    """Time on the CPU of every thread of the processes, in ns from the
    scheduler (the clock-tick counts of /proc/PID/stat are too coarse)."""
    total = 0
    for pid in pids:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
    return total / 1e9


def share(pids):
    """% of one core the processes used over the window."""
    start, t0 = cpu_seconds(pids), time.monotonic()
    time.sleep(WINDOW_S)
    return (cpu_seconds(pids) - start) / (time.monotonic() - t0) * 100


def group(count):
    lines, servers, cats = [], [], []
    try:
        for n in range(count):
            base = benchlib.base_folder(f"idle{n}")
            line = benchlib.Pty(os.path.join(base, "machine.tty"))
            lines.append(line)
            benchlib.write_ini(base, {
                "NODALIS": {"PortListen": 0, "DncAppMode": 1, "IconTray": 0},
                "DNC": {"Methode": 0, "IsModeEcoute": 1},
                "COMM": {"PortName": line.link, "Bauds": 9600, "DataBit": 8, "Parite": "N",
                         "StopBit": 1, "EOB": "13,10", "TimeOut": 2},
            })
            servers.append((base, benchlib.server(base)))
        for base, proc in servers:
            end = time.monotonic() + 60
            while benchlib.log_count(base, "---Code105---") == 0:
                if time.monotonic() > end or proc.poll() is not None:
                    raise RuntimeError(f"server on {base} never listened")
                time.sleep(0.05)
        time.sleep(1)  # past the start-up work
        for line in lines:
            cats.append(subprocess.Popen(["cat"], stdin=open(line.slave_name, "rb"),
                                         stdout=subprocess.DEVNULL))
        ours, theirs = [], []
        for _ in range(max(1, benchlib.PAIRS // 2)):
            ours.append(share([p.pid for _, p in servers]))
            theirs.append(share([p.pid for p in cats]))
        return ours, theirs
    finally:
        for _, proc in servers:
            proc.terminate()
        for cat in cats:
            cat.kill()
        for _, proc in servers:
            proc.wait()
        for line in lines:
            line.close()


def figures():
    rows = []
    for count, goal in ((1, 0.05), (32, None), (128, 3.0)):
        ours, theirs = group(count)
        rows.append(benchlib.Row(
            f"{count} idle listening server{'s' if count > 1 else ''}, CPU", ours, theirs,
            "% core", f"< {goal} %" if goal else "-",
            (lambda o, c, r, g=goal: g is None or o < g)))
    return rows


def waiting_server(base, link, wait_log, figure, seconds):
    """The row of a server on `base` waiting on a quiet line (a pty linked at
    `link`) once it logged `wait_log`: its CPU over `seconds`, < 1 %."""
    global WINDOW_S
    line = benchlib.Pty(link)
    server = benchlib.server(base, wait_log=wait_log)
    try:
        WINDOW_S = seconds
        return benchlib.Row(f"{figure}, CPU over {seconds} s", [share([server.pid])], [],
                            "% core", "< 1 %", lambda o, c, r: o < 1)
    finally:
        benchlib.stop(server)
        line.close()
