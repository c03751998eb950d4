"""Boxes on the machine's serial line, at time scale 1.
- push: 10 MB pushed by nodalis-push to a pseudo-terminal, from the
  program's start to the last byte read, against `cat FILE > the same
  pty`;
- call to push: the machine sends a call to a Methode 20 server; from its
  last byte to the pushed program's first byte, less TimeOut (the only
  configured wait), against a do-nothing responder that waits for the same
  silence and writes the same program;
- PTR box, per line: nodalis-sim plays the box (answering at once) and asks
  for a program of 10 lines and one of 510 in turn, at 9,600 baud; the
  difference of the two transfers over 500 lines, against the line's floor:
  the 80 ms end of the box's burst plus the frame and its ACK at 9,600 baud;
- CPU of a server waiting for its PTR box, 20 s."""
import os, subprocess, sys, time

import benchlib
import fig_call
import fig_idle

PUSH = 10 << 20
SMALL, BIG = 10, 510
LINE = b"N%04d G1 X100.125 Y200.5 F1200"


def push_figure(base):
    line = benchlib.Pty(os.path.join(base, "push.tty"))
    path = os.path.join(base, "push.nc")
    text = benchlib.program(PUSH)
    with open(path, "wb") as f:
        f.write(text)
    exact = []

    def run(args):
        line.drain()
        t0 = time.monotonic()
        proc = subprocess.Popen(args)
        _, last, got = line.read_until(len(text), deadline_s=60)
        if proc.wait() != 0:
            raise RuntimeError(f"{args[0]} failed")
        exact.append(got == text)
        return last - t0

    ours = lambda: run([benchlib.binary("nodalis-push"), "--device", line.slave_name, "COM1",
                        "115200", "0", "0", "8", "1", path])
    theirs = lambda: run(["sh", "-c", f"cat '{path}' > '{line.slave_name}'"])
    try:
        a, b = benchlib.interleaved(ours, theirs)
    finally:
        line.close()
    return benchlib.Row("push 10 MB through nodalis-push, start to last byte", a, b, "s",
                        "<= 1.5 x cat", lambda o, c, r: r <= 1.5 and all(exact),
                        "" if all(exact) else "NOT BYTE-EXACT")


def call_figure(base):
    line = benchlib.Pty(os.path.join(base, "machine.tty"))
    text = b"%\r\nO1234 (PUSH)\r\n" + b"".join(LINE % n + b"\r\n" for n in range(3000)) + b"%\r\n"
    os.makedirs(os.path.join(base, "Programmes"), exist_ok=True)
    with open(os.path.join(base, "Programmes", "1234"), "wb") as f:
        f.write(text)
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": 0, "DncAppMode": 1, "IconTray": 0},
        "DNC": {"Methode": 20, "IsModeEcoute": 1, "UseRPC": 1, "CallSyntax": "(APPEL $$$$)",
                "PathFileProgOpen": os.path.join(base, "Programmes")},
        "COMM": {"PortName": line.link, "Bauds": 115200, "DataBit": 8, "Parite": "N",
                 "StopBit": 1, "EOB": "13,10", "TimeOut": int(fig_call.TIMEOUT_S)},
    })
    server = benchlib.server(base, wait_log="---Code105---")
    other = benchlib.Pty(os.path.join(base, "responder.tty"))
    answer = os.path.join(base, "answer.nc")
    with open(answer, "wb") as f:
        f.write(text)
    responder = subprocess.Popen([sys.executable, "-c", fig_call.RESPONDER, other.slave_name, answer,
                                  str(fig_call.TIMEOUT_S)], stdout=subprocess.PIPE, text=True)
    responder.stdout.readline()
    call = b"(APPEL 1234)\r\n"

    def ours():
        listening = benchlib.log_count(base, "---Code105---")
        ms, _ = fig_call.timed_call(line, call, len(text))
        end = time.monotonic() + 30
        while benchlib.log_count(base, "---Code105---") == listening and time.monotonic() < end:
            time.sleep(0.01)
        return ms

    try:
        a, b = benchlib.interleaved(ours, lambda: fig_call.timed_call(other, call, len(text))[0])
    finally:
        benchlib.stop(server)
        responder.kill()
        line.close()
        other.close()
    return benchlib.Row("call to the push's first byte less TimeOut", a, b, "ms", "< 100 ms",
                        lambda o, c, r: o < 100)


def ptr_figures(base):
    for name, lines in (("10", SMALL), ("510", BIG)):
        text = b"".join(LINE % n + b"\r\n" for n in range(lines - 1)) + LINE % lines
        for path in (os.path.join(base, "Programmes", name), os.path.join(base, name)):
            with open(path, "wb") as f:
                f.write(text)
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": 0, "DncAppMode": 1, "IconTray": 0},
        "DNC": {"Methode": 16, "IsModeEcoute": 1,
                "PathFileProgOpen": os.path.join(base, "Programmes")},
        "COMM": {"PortName": os.path.join(base, "box.tty"), "Bauds": 9600, "DataBit": 8,
                 "Parite": "N", "StopBit": 1, "TimeOut": 1},
    })
    rounds = max(3, benchlib.PAIRS // 2 + 1)
    times = benchlib.peer_step_times(base, "ptr", os.path.join(base, "box.tty"),
                                     ";".join(["request 10;request 510"] * rounds))
    # Each long transfer against the short one after it.
    per_line = [(b - s) / (BIG - SMALL) for b, s in zip(times["510"], times["10"])]
    frame = 1 + len(LINE % 1) + 2 + 1  # STX, line, ETB, BCC; then the box's ACK
    floor = 0.080 + frame * 10 / 9600
    rows = [benchlib.Row("PTR box, per line at 9,600 baud", per_line, [floor], "s",
                         "<= 1.1 x the line's floor", lambda o, c, r: r <= 1.1)]
    rows.append(fig_idle.waiting_server(base, os.path.join(base, "box.tty"), "---Code690---",
                                        "server waiting for its PTR box", 20))
    return rows


def figures():
    base = benchlib.base_folder("boxes")
    os.makedirs(os.path.join(base, "Programmes"))
    return [push_figure(base), call_figure(base)] + ptr_figures(base)
