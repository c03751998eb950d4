"""Mazatrol conversions, each one process doing one job, timed from its start
to its exit against `cp` of the same input in the same run:
- hybrid Mazatrol records to ISO text, 10 MB of records (a converted
  program's records repeated);
- ISO text to Mazatrol records, the largest program the record numbers can
  count (255 text records);
- CPU of a server listening for a Mazak control on a quiet line, 30 s;
- in mode 1, from the end of the machine's "ready to send" message to the end
  of the server's answer (a 703 control: "p3" EOT, answered up to H84),
  timed at the machine's end of the line;
- in modes 0 and 2, the same for a data frame (one record of an upload): each
  message has two status reports, each followed by the 300 ms pause of a
  report to the management application; with the projected time of 1 MB of
  records (128 characters each, one message per record)."""
import os, select, socket, statistics, time

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

    base = listening_base("mazatrol-idle", 1)
    rows.append(fig_idle.waiting_server(base, os.path.join(base, "machine.tty"), "---Code404---",
                                        "Mazatrol server listening", 30))
    rows.append(benchlib.Row("Mazatrol answer in mode 1, end of message to end of reply",
                             reply_times(base, b"p3\x04"), [], "ms", "< 60 ms",
                             lambda o, c, r: o < 60))
    for mode in (0, 2):
        port = benchlib.free_port()
        times = reply_times(listening_base(f"mazatrol-mode{mode}", mode, port), data_frame(),
                            pairs=3, control_port=port, run=8)
        rows.append(benchlib.Row(f"Mazatrol record in mode {mode}, 8 frames each sent once answered",
                                 times, [], "ms", "report (2 x 300 ms)", lambda o, c, r: True))
        per_mb = statistics.median(times) / 1000 * (MB // 130) / 60 if times else 0
        rows.append(benchlib.Row(f"Mazatrol mode {mode}: projected 1 MB of records",
                                 [per_mb], [], "min", "report", lambda o, c, r: True))
    return rows


def listening_base(tag, app_mode, control_port=0):
    base = benchlib.base_folder(tag)
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": control_port, "DncAppMode": app_mode, "IconTray": 0},
        "DNC": {"Methode": 5, "IsModeEcoute": 1},
        "SYNTAXE_MO": {"CodeCN": 703},
        "COMM": {"PortName": os.path.join(base, "machine.tty"), "Bauds": 9600, "DataBit": 8,
                 "Parite": "N", "StopBit": 1, "TimeOut": 1},
    })
    return base


def data_frame():
    record = b"3000".ljust(128, b"0")
    checksum = b"%02X" % (sum(record) & 0xFF)
    return b"p1\x02" + record + b"\x03" + checksum + b"\x04"


def reply_times(base, message, pairs=benchlib.PAIRS, control_port=0, run=1):
    """From the end of `message` to the end of the server's answer (H84),
    timed at the machine's end of the line, once per reception. With `run`
    above 1, the message goes that many times in a row, each as soon as the
    last is answered, and the figure is the time per message. With
    `control_port`, a management application stays connected (the status
    reports go to it, each followed by its pause); what it gets is read in
    the background by the kernel's buffer, large enough here."""
    line = benchlib.Pty(os.path.join(base, "machine.tty"))
    server = benchlib.server(base, wait_log="---Code404---")
    times = []
    client = None
    try:
        if control_port:
            client = socket.create_connection(("127.0.0.1", control_port), timeout=10)
            client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
        for _ in range(pairs):
            listening = benchlib.log_count(base, "---Code404---")
            line.drain()
            start = time.monotonic()
            answered = 0
            for _ in range(run):
                os.write(line.master, message)
                sent = time.monotonic()
                answer = b""
                while not answer.endswith(b"\x84") and time.monotonic() < sent + 5:
                    ready, _, _ = select.select([line.master], [], [], 0.5)
                    if ready:
                        answer += os.read(line.master, 256)
                answered += answer.endswith(b"\x84")
            if answered == run:
                times.append((time.monotonic() - start) * 1000 / run)
            # Silence ends the reception; then it listens again.
            deadline = time.monotonic() + 30
            while benchlib.log_count(base, "---Code404---") == listening and time.monotonic() < deadline:
                time.sleep(0.1)
    finally:
        if client:
            client.close()
        benchlib.stop(server)
        line.close()
    return times

