"""A call answered: the machine sends "(APPEL P5000)" and the server sends
back P5000, a 1 MB program held in a store of 100,000 programs. The time
runs from the last byte of the call leaving the machine to the first byte
of the program coming back, less TimeOut (1 s of silence that ends a
reception: the only configured wait on the path). The baseline is a
do-nothing responder on a second pseudo-terminal: a separate process that
waits for the same second of silence after the call, then writes the same
program; it shows what the machine end itself and the clock cost."""
import os, sqlite3, subprocess, sys, time

import benchlib

PROGRAMS = 100_000
TIMEOUT_S = 1.0

RESPONDER = r"""
import os, select, sys, tty
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
text = open(sys.argv[2], "rb").read()
print("ready", flush=True)
while True:
    select.select([fd], [], [])
    while select.select([fd], [], [], float(sys.argv[3]))[0]:
        if not os.read(fd, 4096):
            sys.exit(0)
    view = memoryview(text)
    while view:
        view = view[os.write(fd, view):]
"""


def fill_store(base, text, share=10):
    """The store through nodalisctl (schema, P5000 and its text file), then
    the other programs added straight into its table, one in `share` for FR1."""
    data = os.path.join(base, "Data")
    ctl = benchlib.binary("nodalisctl")
    subprocess.run([ctl, "--base", base, "store", "init"], check=True, stdout=subprocess.DEVNULL)
    path = os.path.join(base, "P5000.nc")
    with open(path, "wb") as f:
        f.write(text)
    subprocess.run([ctl, "--base", base, "store", "add", "--machine", "FR1", "--call", "P5000",
                    "--file", path], check=True, stdout=subprocess.DEVNULL)
    db = sqlite3.connect(os.path.join(data, "Talmiron.db"))
    db.executemany("INSERT INTO PROGRAMME (RefMO, ProgAppel, Downloadable, EtatProg, Localisation) "
                   "VALUES (?, ?, 0, 0, 0)",
                   (("FR1" if i % share == 0 else f"M{i % 10}", f"P{i}")
                    for i in range(1, PROGRAMS + 1) if i != 5000))
    db.commit()
    db.close()


def timed_call(line, call, size):
    """Seconds from the end of the call to the first answer byte, less TimeOut."""
    line.drain()
    os.write(line.master, call)
    sent = time.monotonic()
    first, _, got = line.read_until(size, deadline_s=60)
    if first is None or len(got) < size:
        raise RuntimeError("no whole answer to the call")
    return (first - sent - TIMEOUT_S) * 1000, got


def figures():
    base = benchlib.base_folder("call")
    os.makedirs(os.path.join(base, "Data"))
    line = benchlib.Pty(os.path.join(base, "machine.tty"))
    text = benchlib.program(1 << 20, "O5000")
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": benchlib.free_port(), "DncAppMode": 0, "IconTray": 0,
                    "ControlAllowFrom": "127.0.0.1"},
        "DNC": {"Methode": 0, "IsModeEcoute": 1, "UseRPC": 1, "CallSyntax": "(APPEL $$$$)",
                "DataAccess": 1, "RefMO": "FR1", "PathData": os.path.join(base, "Data") + "/"},
        "COMM": {"PortName": line.link, "Bauds": 115200, "BaudsEnvoi": 115200, "DataBit": 8,
                 "Parite": "N", "StopBit": 1, "EOB": "13,10", "TimeOut": int(TIMEOUT_S)},
        "OPTION_DNC": {"CtrlFlux": 0, "CtrlFluxSend": 0},
    })
    fill_store(base, text)
    server = benchlib.server(base, wait_log="---Code105---")

    other = benchlib.Pty(os.path.join(base, "responder.tty"))
    answer = os.path.join(base, "answer.nc")
    with open(answer, "wb") as f:
        f.write(text)
    responder = subprocess.Popen([sys.executable, "-c", RESPONDER, other.slave_name, answer,
                                  str(TIMEOUT_S)], stdout=subprocess.PIPE, text=True)
    responder.stdout.readline()
    exact = []
    call = b"(APPEL P5000)\r\n"

    def ours():
        listening = benchlib.log_count(base, "---Code105---")
        ms, got = timed_call(line, call, len(text))
        exact.append(got == text)
        # Back to listening before the next call.
        end = time.monotonic() + 30
        while benchlib.log_count(base, "---Code105---") == listening and time.monotonic() < end:
            time.sleep(0.01)
        return ms

    def baseline():
        return timed_call(other, call, len(text))[0]

    try:
        a, b = benchlib.interleaved(ours, baseline)
    finally:
        benchlib.stop(server)
        responder.kill()
        line.close()
        other.close()
    note = "" if all(exact) else "NOT BYTE-EXACT: the program came back altered"
    return [benchlib.Row("call to first program byte less TimeOut, 1 MB, store of 100,000", a, b,
                         "ms", "< 20 ms", lambda o, c, r: o < 20 and all(exact), note)]
