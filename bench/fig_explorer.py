"""The network explorer window (offscreen platform) over a real FTP server
(pyftpdlib, tests/support/ftp_server.py) on loopback:
- a folder of 10,000 files: from its listing's arrival (the controller
  holds it and tells the window) to the window painted;
- a 1 MB remote file previewed: fetched, shown and painted;
- the store's grid of 100,000 programs of the machine shown and painted
  (fetched as the view needs rows);
- PING round trips while the explorer receives 100 MB (COMFTPFILE on a
  pending receive list), 99th percentile, against the same PINGs with
  nothing running.
These have no outside program doing the same job: the figures are times."""
import os, statistics, subprocess, threading, time

import benchlib
import fig_call
import fig_commands

RUNS = 7


def runs(args, key):
    out = subprocess.run([benchlib.binary("bench_explorer")] + args + [str(RUNS)], check=True,
                         capture_output=True, text=True,
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen")).stdout
    rows = [dict(zip(line.split()[::2], map(float, line.split()[1::2])))
            for line in out.splitlines() if line.strip()]
    return [key(r) for r in rows]


def figures():
    home = benchlib.base_folder("explorerftp")
    os.makedirs(os.path.join(home, "many"))
    with open(os.path.join(home, "one.nc"), "wb") as f:
        f.write(benchlib.program(1 << 20))
    with open(os.path.join(home, "big.nc"), "wb") as f:
        f.write(benchlib.program(100 << 20))
    server, ftp_port = benchlib.ftp_server(home, "--many", "10000")
    rows = []
    try:
        shown = runs(["listing", str(ftp_port), "many"], lambda r: r["shown"])
        rows.append(benchlib.Row("10,000-entry listing, arrival to painted", shown, [], "ms",
                                 "< 300 ms", lambda o, c, r: o < 300))
        shown = runs(["preview", str(ftp_port), "one.nc"], lambda r: r["shown"])
        rows.append(benchlib.Row("1 MB remote preview, fetched and painted", shown, [], "ms",
                                 "< 200 ms", lambda o, c, r: o < 200))
        rows.append(grid_figure())
        rows.append(pings_while_receiving(ftp_port))
    finally:
        benchlib.stop(server)
    return rows


def grid_figure():
    base = benchlib.base_folder("explorergrid")
    os.makedirs(os.path.join(base, "Data"))
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": 0, "DncAppMode": 0, "IconTray": 0},
        "DNC": {"Methode": 4, "DataAccess": 1, "RefMO": "FR1",
                "PathData": os.path.join(base, "Data") + "/"},
    })
    fig_call.fill_store(base, b"%\r\nO5000\r\nM30\r\n%\r\n", share=1)
    shown = runs(["grid", base], lambda r: r["shown"])
    return benchlib.Row("store grid of 100,000 programs, shown and painted", shown, [], "ms",
                        "< 500 ms", lambda o, c, r: o < 500)


def pings_while_receiving(ftp_port):
    base = benchlib.base_folder("explorerping")
    port = benchlib.free_port()
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": port, "DncAppMode": 2, "IconTray": 0,
                    "ControlAllowFrom": "127.0.0.1"},
        "DNC": {"Methode": 4, "RefMO": "M1", "TransfertBasic": 0},
        "RESEAU": {"RemoteHost": "127.0.0.1", "RemotePort": ftp_port, "UserName": "cnc",
                   "UserPassword": "cnc"},
    })
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    server = subprocess.Popen([benchlib.binary("nodalis"), "--window", "--base", base], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ctl = [benchlib.binary("nodalisctl"), "--base", base]
    quiet, busy = [], []
    try:
        time.sleep(2)
        for out, during in ((quiet, False), (busy, True)):
            stop = threading.Event()
            t = threading.Thread(target=fig_commands.pings, args=(port, stop, out))
            t.start()
            if during:
                received = benchlib.log_count(base, "---Code258---")
                for command in (["BLFTR"], ["AFTR", "big.nc"], ["COMFTPFILE"]):
                    subprocess.run(ctl + ["send"] + command, check=True,
                                   stdout=subprocess.DEVNULL)
                deadline = time.monotonic() + 120
                while (benchlib.log_count(base, "---Code258---") == received
                       and time.monotonic() < deadline):
                    time.sleep(0.1)
            else:
                time.sleep(3)
            stop.set()
            t.join()
    finally:
        benchlib.stop(server)
    return benchlib.Row("PING during a 100 MB receive from the explorer, p99",
                        [fig_commands.p99(busy)] if busy else [],
                        [fig_commands.p99(quiet)] if quiet else [], "ms", "< 100 ms",
                        lambda o, c, r: o < 100)
