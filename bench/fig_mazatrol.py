"""Mazatrol conversions, each one process doing one job, timed from its start
to its exit against `cp` of the same input in the same run:
- hybrid Mazatrol records to ISO text, 10 MB of records (a converted
  program's records repeated);
- ISO text to Mazatrol records, the largest program the record numbers can
  count (255 text records);
- CPU of a server listening for a Mazak control on a quiet line, 30 s;
- in mode 1, from the end of the machine's "ready to send" message to the end
  of the server's answer (a 703 control: "p3" EOT, answered up to H84),
  timed at the machine's end of the line."""
import os, select, time

import benchlib
import fig_idle

MB = 1 << 20


def figures():
    work = benchlib.base_folder("mazatrol")
    iso = os.path.join(work, "iso.nc")
    lines = ["%", "O1234 (UP)"] + [f"N{i:04d} G1 X100.125 Y200.5 F1200" for i in range(600)] + ["M30", "%"]
    with open(iso, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    tool = benchlib.binary("bench_mazatrol")
    records = os.path.join(work, "one.maz")
    benchlib.timed([tool, "to-records", iso, records])
    with open(records, "rb") as f:
        text = f.read()
    # Between the opening and the closing marker line.
    body = text[text.index(b"\r\n") + 2:text.rindex(b"xVb")]
    big = os.path.join(work, "big.maz")
    with open(big, "wb") as f:
        f.write(b"xVb\r\n")
        written = 0
        while written < 10 * MB:
            f.write(body)
            written += len(body)
        f.write(b"xVb\r\n")
    out = os.path.join(work, "out")
    copy = os.path.join(work, "copy")
    rows = []
    a, b = benchlib.interleaved(lambda: benchlib.timed([tool, "to-iso", big, out, "703"]),
                                lambda: benchlib.timed(["cp", big, copy]))
    rows.append(benchlib.Row("Mazatrol to ISO, 10 MB of records", a, b, "s", "<= 3 x cp",
                             lambda o, c, r: r <= 3))
    a, b = benchlib.interleaved(lambda: benchlib.timed([tool, "to-records", iso, out]),
                                lambda: benchlib.timed(["cp", iso, copy]))
    rows.append(benchlib.Row("ISO to Mazatrol, 255 text records", a, b, "s", "<= 3 x cp",
                             lambda o, c, r: r <= 3))

    base = benchlib.base_folder("mazatrol-idle")
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": 0, "DncAppMode": 1, "IconTray": 0},
        "DNC": {"Methode": 5, "IsModeEcoute": 1},
        "SYNTAXE_MO": {"CodeCN": 703},
        "COMM": {"PortName": os.path.join(base, "machine.tty"), "Bauds": 9600, "DataBit": 8,
                 "Parite": "N", "StopBit": 1, "TimeOut": 1},
    })
    rows.append(fig_idle.waiting_server(base, os.path.join(base, "machine.tty"), "---Code404---",
                                        "Mazatrol server listening", 30))
    rows.append(reply_figure(base))
    return rows


def reply_figure(base):
    line = benchlib.Pty(os.path.join(base, "machine.tty"))
    server = benchlib.server(base, wait_log="---Code404---")
    times = []
    try:
        for _ in range(benchlib.PAIRS):
            line.drain()
            os.write(line.master, b"p3\x04")
            sent = time.monotonic()
            answer = b""
            while not answer.endswith(b"\x84") and time.monotonic() < sent + 5:
                ready, _, _ = select.select([line.master], [], [], 0.5)
                if ready:
                    answer += os.read(line.master, 256)
            if answer.endswith(b"\x84"):
                times.append((time.monotonic() - sent) * 1000)
            time.sleep(2.5)  # silence ends the reception; listening again
    finally:
        benchlib.stop(server)
        line.close()
    return benchlib.Row("Mazatrol answer in mode 1, end of message to end of reply", times, [],
                        "ms", "< 60 ms", lambda o, c, r: o < 60)
