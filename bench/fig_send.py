"""A stand-alone send of a 10 MB program to a pseudo-terminal, unpaced and
without flow control, against `cat FILE > the same line`. The machine end
reads the master as fast as it can; the time runs from the start of the
process (server or cat) to the last byte (whole send), and from the first
byte to the last (transfer). Nothing is subtracted: the server's 800 ms
pause after a send comes after the last byte."""
import os, subprocess, time

import benchlib

SIZE = 10 << 20


def figures():
    base = benchlib.base_folder("send")
    line = benchlib.Pty(os.path.join(base, "machine.tty"))
    text = benchlib.program(SIZE)
    path = os.path.join(base, "O1000.nc")
    with open(path, "wb") as f:
        f.write(text)
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": 0, "DncAppMode": 1, "IconTray": 0},
        "DNC": {"Methode": 0, "IsModeEcoute": 0},
        "COMM": {"PortName": line.link, "Bauds": 115200, "BaudsEnvoi": 115200, "DataBit": 8,
                 "Parite": "N", "StopBit": 1, "EOB": "13,10"},
        "OPTION_DNC": {"CtrlFlux": 0, "CtrlFluxSend": 0},
    })
    exact = []

    def run(start):
        line.drain()
        t0 = time.monotonic()
        proc = start()
        first, last, got = line.read_until(len(text))
        proc.wait()
        exact.append(got == text)
        return last - t0, last - (first or last)

    def ours():
        return run(lambda: subprocess.Popen(
            [benchlib.binary("nodalis"), "--headless", "--base", base, path],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

    def cat():
        def start():
            with open(line.link, "wb") as out:
                return subprocess.Popen(["cat", path], stdout=out)
        return run(start)

    a, b = benchlib.interleaved(ours, cat)
    line.close()
    note = "" if all(exact) else "NOT BYTE-EXACT: a run delivered other bytes than the file"
    return [
        benchlib.Row("send 10 MB, whole (start to last byte)", [x[0] for x in a], [x[0] for x in b],
                     "s", "<= 1.5 x cat", lambda o, c, r: r <= 1.5 and all(exact), note),
        benchlib.Row("send 10 MB, transfer (first to last byte)", [x[1] for x in a],
                     [x[1] for x in b], "s", "<= 1.1 x cat", lambda o, c, r: r <= 1.1 and all(exact)),
    ]
