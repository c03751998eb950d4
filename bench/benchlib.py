"""What every figure of bench/run.py shares: the server binaries, base
folders, pseudo-terminals, interleaved pairs against an outside program and
the table row. Every time is taken on the real clock (time.monotonic) by
this process, outside the program measured."""
import os, shutil, socket, statistics, subprocess, tempfile, time, tty

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.environ.get("NODALIS_BENCH_BIN", os.path.join(ROOT, "build-release", "bin"))
PAIRS = int(os.environ.get("NODALIS_BENCH_PAIRS", "5"))


def binary(name):
    return os.path.join(BIN, name)


def base_folder(tag):
    """A fresh base folder, removed when the run ends (see cleanup)."""
    folder = tempfile.mkdtemp(prefix=f"nodalis-bench-{tag}-")
    _folders.append(folder)
    return folder


_folders = []


def cleanup():
    for folder in _folders:
        shutil.rmtree(folder, ignore_errors=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_ini(base, sections):
    """Nodalis.ini from {section: {key: value}}, CR LF as the server writes it."""
    text = ""
    for section, keys in sections.items():
        text += f"[{section}]\r\n" + "".join(f"{k}={v}\r\n" for k, v in keys.items())
    with open(os.path.join(base, "Nodalis.ini"), "w", encoding="latin-1", newline="") as f:
        f.write(text)


def program(size, name="O1000"):
    """A program of about `size` bytes as CAM writes it."""
    out, n = [b"%\r\n", name.encode() + b" (BENCH)\r\n"], 0
    length = sum(map(len, out))
    while length < size - 12:
        n += 1
        line = b"N%d G1 X%d.125 Y%d.5 Z-%d.02 F1200\r\n" % (n * 10, n % 400, n * 7 % 300, n % 9)
        out.append(line)
        length += len(line)
    out.append(b"M30\r\n%\r\n")
    return b"".join(out)


class Pty:
    """A pseudo-terminal: the machine holds the master, the server or the
    outside program opens the slave through a link named `link`."""

    def __init__(self, link):
        self.master, slave = os.openpty()
        tty.setraw(slave)
        self.slave_name = os.ttyname(slave)
        self._slave = slave  # kept open so the line never hangs up between runs
        self.link = link
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(self.slave_name, link)
        os.set_blocking(self.master, False)

    def drain(self):
        """Drops whatever waits on the line."""
        try:
            while os.read(self.master, 1 << 16):
                pass
        except BlockingIOError:
            pass

    def read_until(self, total, deadline_s=120, first_byte=None):
        """Reads until `total` bytes came: (time of the first byte, time of
        the last, bytes). `first_byte` (optional) is called with the time of
        the first byte."""
        import select
        got, first, chunks = 0, None, []
        end = time.monotonic() + deadline_s
        while got < total:
            left = end - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([self.master], [], [], min(left, 1.0))
            if not ready:
                continue
            try:
                chunk = os.read(self.master, 1 << 16)
            except (BlockingIOError, OSError):
                continue
            now = time.monotonic()
            if first is None and chunk:
                first = now
                if first_byte:
                    first_byte(now)
            chunks.append(chunk)
            got += len(chunk)
        return first, time.monotonic(), b"".join(chunks)

    def close(self):
        os.close(self.master)
        os.close(self._slave)
        if os.path.lexists(self.link):
            os.remove(self.link)


def interleaved(ours, baseline, pairs=None):
    """Runs ours, baseline, ours, baseline... `pairs` times; each callable
    returns one figure. Gives the two lists."""
    a, b = [], []
    for _ in range(pairs or PAIRS):
        a.append(ours())
        b.append(baseline())
    return a, b


def spread(values, unit):
    if not values:
        return "-"
    fmt = "%.0f" if unit in ("ms",) and statistics.median(values) >= 100 else "%.3g"
    med = fmt % statistics.median(values)
    return f"{med} {unit} ({fmt % min(values)}-{fmt % max(values)})"


class Row:
    """One line of the table. `goal` is its text; `met` says whether the
    medians meet it (ours, baseline, ratio)."""

    def __init__(self, figure, ours, baseline, unit, goal, met, note=""):
        self.figure, self.ours, self.baseline = figure, ours, baseline
        self.unit, self.goal, self.note = unit, goal, note
        mo = statistics.median(ours) if ours else None
        mb = statistics.median(baseline) if baseline else None
        self.ratio = mo / mb if mo is not None and mb else None
        self.met = bool(ours) and met(mo, mb, self.ratio)


def print_table(rows, out=None):
    head = ("figure", "ours: median (min-max)", "baseline: median (min-max)", "ratio", "goal", "")
    cells = [head] + [(r.figure, spread(r.ours, r.unit), r.baseline_text if hasattr(r, "baseline_text")
                       else spread(r.baseline, r.unit),
                       "-" if r.ratio is None else f"{r.ratio:.2f}", r.goal,
                       "met" if r.met else "NOT MET") for r in rows]
    widths = [max(len(c[i]) for c in cells) for i in range(len(head))]
    for c in cells:
        print("  ".join(c[i].ljust(widths[i]) for i in range(len(head))).rstrip(), file=out)
    for r in rows:
        if r.note:
            print(f"  {r.figure}: {r.note}", file=out)


def server(base, *args, wait_log=None, timeout=20):
    """Starts the server on `base` (headless); with `wait_log`, waits until
    the event log holds that many more lines with the text."""
    before = log_count(base, wait_log) if wait_log else 0
    proc = subprocess.Popen([binary("nodalis"), "--headless", "--base", base, *args],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if wait_log:
        end = time.monotonic() + timeout
        while log_count(base, wait_log) == before:
            if time.monotonic() > end or proc.poll() is not None:
                raise RuntimeError(f"server on {base} never logged {wait_log!r}")
            time.sleep(0.005)
    return proc


def log_count(base, text):
    folder = os.path.join(base, "LogFiles")
    if not os.path.isdir(folder):
        return 0
    n = 0
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            n += f.read().count(text.encode("latin-1"))
    return n


def stop(proc):
    proc.terminate()
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def timed(args):
    """Seconds from the start of a program to its exit (it must succeed)."""
    t0 = time.monotonic()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - t0


def ftp_server(home, *options):
    """tests/support/ftp_server.py (pyftpdlib, user cnc/cnc) serving home:
    the process and its port."""
    server = subprocess.Popen(["/usr/bin/python3",
                               os.path.join(ROOT, "tests", "support", "ftp_server.py"),
                               "-d", home, *options],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in server.stderr:
        if "starting FTP server on" in line:
            return server, int(line.rsplit(":", 1)[1].split()[0])
    raise RuntimeError("the FTP server did not start (apt-get install python3-pyftpdlib)")


def peer_step_times(base, peer, link, steps):
    """nodalis-sim playing a controller (--peer, answering at once) on the
    line `link` of a server started on `base`: the seconds of each step,
    by the step's second word (its program), from the end of the step
    before (the first step gives none)."""
    sim = subprocess.Popen([binary("nodalis-sim"), "--peer", peer, "--reply-gap", "0",
                            "--link", link, steps],
                           cwd=base, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    sim.stdout.readline()  # the device
    proc = server(base)
    times, last = {}, None
    try:
        for raw in sim.stdout:
            words = raw.decode("latin-1").split()
            now = time.monotonic()
            if len(words) > 1 and words[0] == "request":
                if last is not None:
                    times.setdefault(words[1].rstrip(":"), []).append(now - last)
                last = now
        if sim.wait() != 0:
            raise RuntimeError(f"the simulated {peer} saw a wrong answer")
    finally:
        stop(proc)
    return times
