"""Programs that travel as files, at time scale 1.
- watched folder: a program dropped (written and closed) into the watched
  folder, to its examination (the upload's event in the log), less the
  6000 ms the folder is left to its writer; and the same where the system
  tells nothing, as on a share written from another host: the watched folder
  is an overlay mount and the files are written into its lower folder, which
  neither notifies nor moves the folder's time (root only);
- the watching server beside 10,000 foreign files, CPU over 20 s;
- Psion gateway: a FROMPSION file dropped, to its examination, less the
  3000 ms the gateway's file is left to settle;
- USB key: a key plugged in with 1,000 files in nested folders under the
  machine's folder, from the arrival to the last file removed, per file;
  the files are short noise, so the time leaves out storing uploads."""
import os, subprocess, time

import benchlib
import fig_idle

UPLOAD = b"%\r\nO1 (UP)\r\nN10 G0 X1\r\nN20 M30\r\n%\r\n"
# The server's own removal of a file is a change of the folder too: the next
# drop waits until the settle it starts is over, or it would be taken early.
SETTLED_S = 7.5


def drop_to_examination(base, folder, name, settle_s, listening=None):
    """Seconds from a file's close in the folder to its upload event, less
    the settle; then waits until the server listens again (the event
    `listening` logged once more, when given)."""
    before = benchlib.log_count(base, "---Code700---")
    again = benchlib.log_count(base, listening) if listening else 0
    with open(os.path.join(folder, name), "wb") as f:
        f.write(UPLOAD)
    closed = time.monotonic()
    end = closed + 30
    while benchlib.log_count(base, "---Code700---") == before:
        if time.monotonic() > end:
            raise RuntimeError(f"{name} was never examined")
        time.sleep(0.002)
    seen = time.monotonic()
    while os.path.exists(os.path.join(folder, name)) and time.monotonic() < end:
        time.sleep(0.01)  # gone: ready for the next
    while listening and benchlib.log_count(base, listening) == again and time.monotonic() < end:
        time.sleep(0.01)
    return seen - closed - settle_s


def server_on(tag, methode, reseau):
    base = benchlib.base_folder(tag)
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": 0, "DncAppMode": 1, "IconTray": 0},
        "DNC": {"Methode": methode, "IsModeEcoute": 1, "UseRPC": 0},
        "SYNTAXE_MO": {"FileExt": ".nc"},
        "RESEAU": reseau,
    })
    return base


def key_pass_figure():
    volumes = benchlib.base_folder("volumes")
    base = server_on("usb", 12, {})
    key = benchlib.base_folder("key")
    files = []
    for n in range(1000):
        folder = os.path.join(key, "FR1", f"cell{n % 10}", f"day{n % 7}")
        os.makedirs(folder, exist_ok=True)
        files.append(os.path.join(volumes, "KEY", os.path.relpath(folder, key), f"N{n}.txt"))
        with open(os.path.join(folder, f"N{n}.txt"), "wb") as f:
            f.write(b"x\r\n")
    os.environ["NODALIS_VOLUMES"] = volumes
    try:
        server = benchlib.server(base)
    finally:
        del os.environ["NODALIS_VOLUMES"]
    try:
        time.sleep(2)
        t0 = time.monotonic()
        os.rename(key, os.path.join(volumes, "KEY"))  # plugged in
        end = t0 + 600
        while any(os.path.exists(p) for p in files[-50:]) and time.monotonic() < end:
            time.sleep(0.05)
        while any(os.path.exists(p) for p in files) and time.monotonic() < end:
            time.sleep(0.05)
        per_file = (time.monotonic() - t0) / len(files)
    finally:
        benchlib.stop(server)
    return benchlib.Row("USB key pass, 1,000 files in nested folders, per file", [per_file * 1000],
                        [], "ms", "< 50 ms", lambda o, c, r: o < 50)


def unnotified_figure():
    """Drop to examination, less 6 s, for files the system never tells of."""
    if os.geteuid() != 0:
        return None
    top = benchlib.base_folder("overlay")
    lower, upper, work, merged = (os.path.join(top, d) for d in ("lower", "upper", "work", "merged"))
    for d in (lower, upper, work, merged):
        os.makedirs(d)
    if subprocess.run(["mount", "-t", "overlay", "overlay", "-o",
                       f"lowerdir={lower},upperdir={upper},workdir={work}", merged]).returncode:
        return None
    base = server_on("unnotified", 14, {"DefaultDirHostReceiv": merged})
    server = benchlib.server(base, wait_log="---Code650---")
    times = []
    try:
        for n in range(1, benchlib.PAIRS + 1):
            before = benchlib.log_count(base, "---Code700---")
            with open(os.path.join(lower, f"L{n}.nc"), "wb") as f:
                f.write(UPLOAD)
            closed = time.monotonic()
            while benchlib.log_count(base, "---Code700---") == before:
                if time.monotonic() > closed + 30:
                    raise RuntimeError(f"L{n}.nc was never examined")
                time.sleep(0.002)
            times.append(time.monotonic() - closed - 6.0)
            while os.path.exists(os.path.join(merged, f"L{n}.nc")):
                time.sleep(0.01)
            time.sleep(SETTLED_S)
    finally:
        benchlib.stop(server)
        subprocess.run(["umount", merged])
    return benchlib.Row("watched folder, nothing told: drop to examination, less 6 s", times, [],
                        "s", "< 2.5 s", lambda o, c, r: o < 2.5)


def figures():
    rows = [key_pass_figure()]
    if (row := unnotified_figure()) is not None:
        rows.append(row)
    watch = benchlib.base_folder("watch")
    base = server_on("files", 14, {"DefaultDirHostReceiv": watch})
    server = benchlib.server(base, wait_log="---Code650---")
    try:
        times = []
        for n in range(1, benchlib.PAIRS + 1):
            times.append(drop_to_examination(base, watch, f"O{n}.nc", 6.0))
            time.sleep(SETTLED_S)
        rows.append(benchlib.Row("watched folder: drop to examination, less 6 s", times, [], "s",
                                 "< 1.5 s", lambda o, c, r: o < 1.5))
        for n in range(10_000):
            open(os.path.join(watch, f"foreign_{n}.dat"), "wb").close()
        time.sleep(8)  # the pass over them is over
        fig_idle.WINDOW_S = 20
        rows.append(benchlib.Row("watching beside 10,000 foreign files, CPU over 20 s",
                                 [fig_idle.share([server.pid])], [], "% core", "< 2 %",
                                 lambda o, c, r: o < 2))
    finally:
        benchlib.stop(server)

    gateway = benchlib.base_folder("gateway")
    os.makedirs(os.path.join(gateway, "in"))
    os.makedirs(os.path.join(gateway, "out"))
    base = server_on("psion", 9, {"DefaultDirHostSend": os.path.join(gateway, "out"),
                                  "DefaultDirHostReceiv": os.path.join(gateway, "in")})
    server = benchlib.server(base, wait_log="---Code864---")
    try:
        times = [drop_to_examination(base, os.path.join(gateway, "in"), f"x{n}FROMPSION.txt", 3.0,
                                     "---Code864---")
                 for n in range(1, benchlib.PAIRS + 1)]
        rows.append(benchlib.Row("Psion gateway: drop to examination, less 3 s", times, [], "s",
                                 "< 0.5 s", lambda o, c, r: o < 0.5))
    finally:
        benchlib.stop(server)
    return rows
