"""The shop-wide store on PostgreSQL, a private cluster on this machine
(tests/support/pg_cluster.py) holding 100,000 programs.
- call look-up: what the server does against the store for a call (open its
  kept connection, select the called program, check for a pending upload),
  timed op by op by bench_store; the baseline is pgbench running the same
  two statements, prepared, on one connection.
- upload with 32 servers at once: 32 bench_store processes identify and store
  uploads at the same moment (record, then its text file written and synced);
  the baseline is pgbench with 32 clients running the same identification,
  insertion and path update, without the text file.
- idle: 128 headless servers that each stored one upload (so each holds its
  connection) then listen; the statements they run in 10 s, read from the
  cluster's counters, against the same window with no server at all."""
import os, statistics, subprocess, sys, time

import benchlib

sys.path.insert(0, os.path.join(benchlib.ROOT, "tests", "support"))
import pg_cluster  # noqa: E402

PROGRAMS = 100_000
OPS = int(os.environ.get("NODALIS_BENCH_PG_OPS", "300"))
IDLE_SERVERS = int(os.environ.get("NODALIS_BENCH_PG_IDLE", "128"))
WINDOW_S = 10


class Cluster:
    def __init__(self, folder):
        self.folder = folder
        self.port = pg_cluster.start(folder)
        self.env = dict(os.environ, PGPASSWORD=pg_cluster.PASSWORD)

    def psql(self, sql, database=pg_cluster.DATABASE):
        out = subprocess.run([os.path.join(pg_cluster.server_bin(), "psql"), "-h", "127.0.0.1",
                              "-p", str(self.port), "-U", pg_cluster.USER, "-d", database,
                              "-v", "ON_ERROR_STOP=1", "-tAc", sql],
                             env=self.env, check=True, stdout=subprocess.PIPE, text=True)
        return out.stdout.strip()

    def pgbench(self, script, clients, transactions):
        """Latencies (ms) of every transaction of a pgbench run of script."""
        work = benchlib.base_folder("pgbench")
        path = os.path.join(work, "script.sql")
        with open(path, "w") as f:
            f.write(script)
        subprocess.run([os.path.join(pg_cluster.server_bin(), "pgbench"), "-n", "-M", "prepared",
                        "-h", "127.0.0.1", "-p", str(self.port), "-U", pg_cluster.USER,
                        "-c", str(clients), "-j", str(min(clients, 2)), "-t", str(transactions),
                        "-f", path, "-l", "--log-prefix", os.path.join(work, "log"),
                        pg_cluster.DATABASE],
                       env=self.env, check=True, cwd=work, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        latencies = []
        for name in os.listdir(work):
            if name.startswith("log"):
                with open(os.path.join(work, name)) as f:
                    latencies += [int(line.split()[2]) / 1000 for line in f]
        return latencies

    def statements(self):
        """Transactions the store's database has run so far (asked of another
        database, so that asking adds none)."""
        return int(self.psql("SELECT pg_stat_force_next_flush(); SELECT xact_commit + xact_rollback "
                             "FROM pg_stat_database WHERE datname = 'nodalis'", "postgres")
                   .split()[-1])


def store_ini(base, cluster, data, machine, extra=None):
    sections = {
        "NODALIS": {"PortListen": 0, "DncAppMode": 0, "IconTray": 0},
        "DNC": {"Methode": 0, "IsModeEcoute": 1, "DataAccess": 1, "RefMO": machine,
                "PathData": data + "/", "DbDriver": "PSQL", "DbHost": "127.0.0.1",
                "DbPort": cluster.port, "DbName": pg_cluster.DATABASE,
                "DbUser": pg_cluster.USER, "DbPassword": pg_cluster.PASSWORD},
        "RECORDFIELDS": {"NbBDFields": 1, "RefChamp1": "PIECE", "RefCartouche1": "PIECE",
                         "IsIndexe1": 1},
    }
    for section, keys in (extra or {}).items():
        sections.setdefault(section, {}).update(keys)
    benchlib.write_ini(base, sections)


def fill(cluster, base):
    ctl = benchlib.binary("nodalisctl")
    subprocess.run([ctl, "--base", base, "store", "init"], check=True, stdout=subprocess.DEVNULL)
    path = os.path.join(base, "P5000.nc")
    with open(path, "wb") as f:
        f.write(benchlib.program(4096, "O5000"))
    subprocess.run([ctl, "--base", base, "store", "add", "--machine", "FR1", "--call", "P5000",
                    "--file", path], check=True, stdout=subprocess.DEVNULL)
    cluster.psql("INSERT INTO programme (refmo, progappel, champ1) "
                 "SELECT CASE WHEN i % 10 = 0 THEN 'FR1' ELSE 'M' || (i % 10) END, 'P' || i, "
                 f"'PIECE' || (i % 100) FROM generate_series(1, {PROGRAMS}) i WHERE i <> 5000; "
                 "ANALYZE programme")


def bench_store(base, *args):
    out = subprocess.run([benchlib.binary("bench_store"), *args[:1], base, *args[1:]],
                         check=True, stdout=subprocess.PIPE, text=True)
    return [float(x) for x in out.stdout.split()]


LOOKUP = ("SELECT * FROM programme WHERE progappel = 'P5000' AND refmo = 'FR1';\n"
          "SELECT codeprog FROM fromcn WHERE codeprog = 1 AND recorded = 0;\n")
UPLOAD = ("SELECT codeprog FROM programme WHERE refmo = 'FR1' AND champ1 = 'PIECE7' "
          "ORDER BY codeprog;\n"
          "BEGIN;\n"
          "INSERT INTO fromcn (refmo, champ1, ddt, hdt, recorded, codeprog, filepathprog) "
          "VALUES ('FR1', 'PIECE7', '06/12/2026', '10:00:00', 0, 5000, '') "
          "RETURNING codefromcn \\gset\n"
          "UPDATE fromcn SET filepathprog = '.\\FROMCN\\ISO' || :codefromcn || '.txt' "
          "WHERE codefromcn = :codefromcn;\n"
          "END;\n")


def uploads_at_once(bases):
    procs = [subprocess.Popen([benchlib.binary("bench_store"), "upload", b, str(OPS // 10)],
                              stdout=subprocess.PIPE, text=True) for b in bases]
    times = []
    for p in procs:
        out, _ = p.communicate()
        if p.returncode != 0:
            raise RuntimeError("bench_store upload failed")
        times += [float(x) for x in out.split()]
    return times


def idle_servers(cluster, data, count):
    """Statements run by `count` idle servers that each stored an upload,
    and by no server, over the same window."""
    before = cluster.statements()
    time.sleep(WINDOW_S)
    nobody = cluster.statements() - before
    servers, lines = [], []
    try:
        for n in range(count):
            base = benchlib.base_folder(f"pgidle{n}")
            line = benchlib.Pty(os.path.join(base, "machine.tty"))
            lines.append(line)
            store_ini(base, cluster, data, f"I{n}", {
                "COMM": {"PortName": line.link, "Bauds": 9600, "DataBit": 8, "Parite": "N",
                         "StopBit": 1, "EOB": "13,10", "TimeOut": 1}})
            servers.append((base, benchlib.server(base)))
        for (base, proc), line in zip(servers, lines):
            end = time.monotonic() + 120
            while benchlib.log_count(base, "---Code105---") == 0:
                if time.monotonic() > end or proc.poll() is not None:
                    raise RuntimeError(f"server on {base} never listened")
                time.sleep(0.05)
            os.write(line.master, b"%\r\nO7\r\n(*PIECE PIECE7*)\r\nM30\r\n%\r\n")
        for base, proc in servers:
            end = time.monotonic() + 120
            while benchlib.log_count(base, "---Code70") < 2:  # 700, then 701 or 702
                if time.monotonic() > end or proc.poll() is not None:
                    raise RuntimeError(f"server on {base} never stored its upload")
                time.sleep(0.05)
        # Past the return to listening, and past the idle servers' last
        # counts reaching the cluster's statistics (a backend reports them
        # within 10 s of going idle).
        time.sleep(12)
        connected = int(cluster.psql("SELECT count(*) FROM pg_stat_activity "
                                     "WHERE datname = 'nodalis'", "postgres"))
        before = cluster.statements()
        time.sleep(WINDOW_S)
        ours = cluster.statements() - before
    finally:
        for _, proc in servers:
            benchlib.stop(proc)
        for line in lines:
            line.close()
    return ours, nobody, connected


def figures():
    folder = benchlib.base_folder("pg")
    try:
        cluster = Cluster(os.path.join(folder, "cluster"))
    except SystemExit as e:
        if e.code == pg_cluster.MISSING:
            print("pg: PostgreSQL is not installed; no figures", file=sys.stderr)
            return []
        raise
    try:
        data = os.path.join(folder, "Data")
        base = os.path.join(folder, "FR1")
        os.makedirs(base)
        store_ini(base, cluster, data, "FR1")
        fill(cluster, base)
        with open(os.path.join(base, "upload.nc"), "wb") as f:
            f.write(benchlib.program(8192, "O7"))

        a, b = benchlib.interleaved(
            lambda: statistics.median(bench_store(base, "lookup", str(OPS), "P5000")),
            lambda: statistics.median(cluster.pgbench(LOOKUP, 1, OPS)))
        rows = [benchlib.Row(f"call look-up, PostgreSQL, {PROGRAMS:,} programs", a, b, "ms",
                             "< 5 ms", lambda o, c, r: o < 5)]

        bases = []
        for n in range(32):
            b32 = os.path.join(folder, f"S{n}")
            os.makedirs(b32)
            store_ini(b32, cluster, data, "FR1")
            with open(os.path.join(b32, "upload.nc"), "wb") as f:
                f.write(benchlib.program(8192, f"O{n}"))
            bases.append(b32)
        a, b = benchlib.interleaved(
            lambda: statistics.median(uploads_at_once(bases)),
            lambda: statistics.median(cluster.pgbench(UPLOAD, 32, OPS // 10)))
        rows.append(benchlib.Row("upload identified and stored, 32 servers at once", a, b, "ms",
                                 "< 20 ms", lambda o, c, r: o < 20))

        ours, nobody, connected = idle_servers(cluster, data, IDLE_SERVERS)
        row = benchlib.Row(f"statements from {IDLE_SERVERS} idle servers in {WINDOW_S} s "
                           f"({connected} connections)", [ours], [nobody], "",
                           "0 more than none", lambda o, c, r: o <= c)
        rows.append(row)
        return rows
    finally:
        pg_cluster.stop(os.path.join(folder, "cluster"))
