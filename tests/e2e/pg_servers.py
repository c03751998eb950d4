#!/usr/bin/env python3
"""Thirty-two servers, each on its own pseudo-terminal, sharing one PostgreSQL
store and one PathData folder. Every machine sends an upload at the same
moment; then a second one, and the cluster restarts while they are stored.
An upload ends as one FROMCN record whose text holds it (a restart is waited
out), or, when its store failed (713), as a reception copy beside its server:
never both, never twice, never lost.

    pg_servers.py BIN_DIR     exit 0 pass, 1 fail, 77 without PostgreSQL
"""
import collections, glob, os, shutil, subprocess, sys, tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
sys.path[:0] = [os.path.join(ROOT, "tests", "support"), os.path.join(ROOT, "bench")]
import benchlib  # noqa: E402
import pg_cluster  # noqa: E402

SERVERS = 32
TIMEOUT_S = 1
LISTENING = "---Code105---"
STORED = ("---Code701---", "---Code702---")
FAILED = "---Code713---"
WAIT_S = 80  # each wait; generous, as 32 servers may share two cores


class Failure(Exception):
    pass


def program(server, phase):
    """(program number, text as the machine sends it), distinct per server and phase."""
    number = f"O{phase}{server:03d}"
    return number, (f"%\r\n{number}\r\nN10 G0 X{server}.{phase} Y-{server}.5\r\n"
                    f"N20 G1 Z-2.{server} F800\r\nM30\r\n%\r\n").encode()


def log_tail(base, lines=12):
    found = sorted(glob.glob(os.path.join(base, "LogFiles", "*")))
    if not found:
        return "  (no event log)"
    with open(found[-1], encoding="latin-1") as f:
        return "\n".join("  " + line.rstrip() for line in f.readlines()[-lines:])


def outcomes(base):
    return sum(benchlib.log_count(base, code) for code in STORED + (FAILED,))


def wait_all(what, servers, done):
    """Polls until done(base) holds for every server; a server that exits fails."""
    end = time.monotonic() + WAIT_S
    while True:
        for n, (base, proc) in enumerate(servers, 1):
            if proc.poll() is not None:
                raise Failure(f"server M{n:02d} exited ({proc.returncode}) waiting for "
                              f"{what}:\n{log_tail(base)}")
        late = [n for n, (base, _) in enumerate(servers, 1) if not done(base)]
        if not late:
            return
        if time.monotonic() > end:
            n = late[0]
            raise Failure(f"{len(late)} servers never got to {what} in {WAIT_S} s "
                          f"(M{', M'.join(f'{x:02d}' for x in late)}); M{n:02d}:\n"
                          f"{log_tail(servers[n - 1][0])}")
        time.sleep(0.2)


def send_uploads(lines, servers, phase):
    """One upload on every line at once; gives each server's counts of outcomes
    and listening cycles from before."""
    before = [(outcomes(base), benchlib.log_count(base, LISTENING)) for base, _ in servers]
    for n, line in enumerate(lines, 1):
        os.write(line.master, program(n, phase)[1])
    return before


def stored_uploads(port, data):
    """{program number: [CodeFromCN...]} of FROMCN, every record's text read."""
    env = dict(os.environ, PGPASSWORD=pg_cluster.PASSWORD)
    psql = os.path.join(pg_cluster.server_bin(), "psql")
    out = subprocess.run([psql, "-h", "127.0.0.1", "-p", str(port), "-U", pg_cluster.USER,
                          "-d", pg_cluster.DATABASE, "-tAc",
                          "SELECT CodeFromCN, FilePathProg FROM FROMCN ORDER BY CodeFromCN"],
                         env=env, check=True, capture_output=True, text=True).stdout
    texts = {program(n, p)[1]: program(n, p)[0] for n in range(1, SERVERS + 1) for p in (1, 2)}
    found = collections.defaultdict(list)
    for row in out.splitlines():
        code, path = row.split("|")
        if path != f".\\FROMCN\\ISO{int(code):05d}.txt":
            raise Failure(f"FROMCN {code} names the text {path!r}")
        name = os.path.join(data, "FROMCN", f"ISO{int(code):05d}.txt")
        if not os.path.exists(name):
            raise Failure(f"FROMCN {code} has no text ({name})")
        with open(name, "rb") as f:
            text = f.read()
        if text not in texts:
            raise Failure(f"FROMCN {code} holds no program sent: {text!r}")
        found[texts[text]].append(int(code))
    twice = {number: codes for number, codes in found.items() if len(codes) > 1}
    if twice:
        raise Failure(f"programs stored more than once (program: CodeFromCN): {twice}")
    return found


def absent(found, phase):
    return [program(n, phase)[0] for n in range(1, SERVERS + 1)
            if program(n, phase)[0] not in found]


def kept_copy(base, text):
    for name in glob.glob(os.path.join(base, "Receiv", "FromCN_(*")):
        with open(name, "rb") as f:
            if f.read() == text:
                return name
    return None


def run(bin_dir, tmp):
    benchlib.BIN = bin_dir
    cluster = os.path.join(tmp, "cluster")
    data = os.path.join(tmp, "Data")
    os.makedirs(data)
    servers, lines = [], []
    try:
        port = pg_cluster.start(cluster)
        for n in range(1, SERVERS + 1):
            base = os.path.join(tmp, f"M{n:02d}")
            os.makedirs(base)
            lines.append(benchlib.Pty(os.path.join(base, "machine.tty")))
            benchlib.write_ini(base, {
                # Driven over the control link (DncAppMode 0): a stand-alone
                # server keeps uploads in plain files whatever DataAccess says.
                "NODALIS": {"PortListen": 0, "DncAppMode": 0, "IconTray": 0,
                            "ControlAllowFrom": "127.0.0.1"},
                "DNC": {"RefMO": f"M{n:02d}", "Methode": 0, "IsModeEcoute": 1, "UseRPC": 1,
                        "CallSyntax": "(APPEL $$$$)", "DataAccess": 1, "PathData": data + "/",
                        "DbDriver": "PSQL", "DbHost": "127.0.0.1", "DbPort": port,
                        "DbName": pg_cluster.DATABASE, "DbUser": pg_cluster.USER,
                        "DbPassword": pg_cluster.PASSWORD},
                "COMM": {"PortName": lines[-1].link, "Bauds": 9600, "DataBit": 8, "Parite": "N",
                         "StopBit": 1, "EOB": "13,10", "TimeOut": TIMEOUT_S, "CtrlFlux": 0},
            })
        subprocess.run([benchlib.binary("nodalisctl"), "--base", os.path.join(tmp, "M01"),
                        "store", "init"], check=True, stdout=subprocess.DEVNULL)

        for n in range(1, SERVERS + 1):
            servers.append((os.path.join(tmp, f"M{n:02d}"),
                            benchlib.server(os.path.join(tmp, f"M{n:02d}"))))
        wait_all("listening", servers, lambda base: benchlib.log_count(base, LISTENING) > 0)

        def settled(before):
            marks = dict(zip((b for b, _ in servers), before))
            return lambda base: (outcomes(base) > marks[base][0] and
                                 benchlib.log_count(base, LISTENING) > marks[base][1])

        # Phase 1: a sound store takes all 32 at once.
        before = send_uploads(lines, servers, 1)
        wait_all("the store of the first upload", servers, settled(before))
        failed = [n for n, (base, _) in enumerate(servers, 1) if benchlib.log_count(base, FAILED)]
        if failed:
            raise Failure(f"stores failed on a sound cluster (713) on M{failed[0]:02d}:\n"
                          f"{log_tail(servers[failed[0] - 1][0])}")
        found = stored_uploads(port, data)
        if absent(found, 1):
            raise Failure(f"first uploads missing from FROMCN: {absent(found, 1)}")

        # Phase 2: the cluster restarts under the stores.
        before = send_uploads(lines, servers, 2)
        time.sleep(TIMEOUT_S)
        pg_cluster.restart(cluster)
        wait_all("the store of the second upload", servers, settled(before))
        found = stored_uploads(port, data)
        if absent(found, 1):
            raise Failure(f"first uploads gone from FROMCN after the restart: {absent(found, 1)}")
        stored = kept = 0
        for n, (base, _) in enumerate(servers, 1):
            number, text = program(n, 2)
            copy = kept_copy(base, text)
            reported = benchlib.log_count(base, FAILED) > 0
            if number in found and reported:
                raise Failure(f"M{n:02d}: {number} is in FROMCN {found[number]} yet its store "
                              f"was reported failed (713):\n{log_tail(base)}")
            if number in found:
                stored += 1
            elif copy and reported:
                kept += 1
            else:
                raise Failure(f"M{n:02d}: {number} lost: not in FROMCN, "
                              f"{'713 logged' if reported else 'no 713'}, "
                              f"{'copy ' + copy if copy else 'no reception copy'}:\n"
                              f"{log_tail(base)}")
        print(f"second uploads through the restart: {stored} stored, {kept} kept (713)")
        # A restart of a second or two is well within the wait for the server.
        if kept:
            raise Failure(f"the restart was not ridden out: {kept} uploads kept as copies")

        for _, proc in servers:
            proc.terminate()
        for n, (base, proc) in enumerate(servers, 1):
            try:
                proc.wait(30)
            except subprocess.TimeoutExpired:
                raise Failure(f"M{n:02d} did not stop on SIGTERM:\n{log_tail(base)}")
            if proc.returncode != 0:
                raise Failure(f"M{n:02d} stopped with {proc.returncode}:\n{log_tail(base)}")
    finally:
        for _, proc in servers:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        for line in lines:
            line.close()
        pg_cluster.stop(cluster)


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    start = time.monotonic()
    tmp = tempfile.mkdtemp(prefix="nodalis-pg-servers-")
    try:
        run(os.path.abspath(sys.argv[1]), tmp)
    except Failure as e:
        print(f"FAIL: {e}", file=sys.stderr)
        return 1
    except subprocess.CalledProcessError as e:
        out = e.stdout if isinstance(e.stdout, str) else (e.stdout or b"").decode(errors="replace")
        print(f"FAIL: {' '.join(map(str, e.cmd))} ({e.returncode}):\n{out}{e.stderr or ''}",
              file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print(f"pass in {time.monotonic() - start:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
