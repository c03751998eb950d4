"""LSV2 controls on the serial line, at time scale 1 and 115,200 baud.
- AGIE download, per block: nodalis-sim plays the control (answering at
  once) and asks for a one-line program and for a program of many blocks in
  turn; the difference of the two exchanges' times over the difference of
  their blocks. Its floor is what the line's rules cost a block, five ends
  of a burst (80 ms of quiet each) and five pauses after a write (10 ms),
  plus the block's bytes at 115,200 baud;
- telegrams made and taken apart again a second, 99-character texts;
- CPU of a server waiting on the line for a Heidenhain control, 60 s."""
import os, subprocess

import benchlib
import fig_idle

BLOCKS = 30
BAUD = 115200


def many_blocks():
    """A program whose lines make BLOCKS blocks of two lines each."""
    line = b"N%04d G1 X100.125 Y200.5 Z-3.02 F1200 (CUT)\r\n"  # 46 bytes
    return b"".join(line % n for n in range(2 * BLOCKS - 1))


def figures():
    base = benchlib.base_folder("lsv2")
    os.makedirs(os.path.join(base, "Programmes"))
    for name, text in (("ONE", b"N1 M30\r\n"), ("MANY", many_blocks())):
        for path in (os.path.join(base, "Programmes", name), os.path.join(base, name)):
            with open(path, "wb") as f:
                f.write(text)
    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": 0, "DncAppMode": 1, "IconTray": 0},
        "DNC": {"Methode": 15, "IsModeEcoute": 1, "PathFileProgOpen": os.path.join(base, "Programmes")},
        "COMM": {"PortName": os.path.join(base, "machine.tty"), "Bauds": BAUD, "DataBit": 8,
                 "Parite": "N", "StopBit": 1, "TimeOut": 1},
    })
    rows = []
    # ONE goes out as one block (its line and the empty last line), MANY as
    # BLOCKS; each MANY is paired with the ONE after it.
    rounds = max(3, benchlib.PAIRS) + 1
    times = benchlib.peer_step_times(base, "agie", os.path.join(base, "machine.tty"),
                                     ";".join(["request ONE;request MANY"] * rounds))
    per_block = [(m - o) / (BLOCKS - 1) for m, o in zip(times["MANY"], times["ONE"])]
    # The control's block request and the server's block, each in its
    # transmission: ENQ, DLE 0, telegram (DLE STX text DLE ETX BCC), DLE 1, EOT.
    block_bytes = (1 + 2 + (5 + 4) + 2 + 1) + (1 + 2 + (5 + 4 + 94) + 2 + 1)
    floor = 5 * 0.080 + 5 * 0.010 + block_bytes * 10 / BAUD
    rows.append(benchlib.Row("AGIE download, per block of two lines", per_block, [floor], "s",
                             "<= 1.1 x the line's floor", lambda o, c, r: r <= 1.1))

    rate = float(subprocess.run([benchlib.binary("bench_lsv2")], check=True,
                                capture_output=True).stdout)
    rows.append(benchlib.Row("LSV2 telegram made and read back, 99 characters", [rate], [],
                             "/s", ">= 1,000,000 /s", lambda o, c, r: o >= 1e6))

    benchlib.write_ini(base, {
        "NODALIS": {"PortListen": 0, "DncAppMode": 1, "IconTray": 0},
        "DNC": {"Methode": 8, "IsModeEcoute": 1},
        "RESEAU": {"OrvaConnexionRole": 1},
        "COMM": {"PortName": os.path.join(base, "machine.tty"), "Bauds": BAUD, "DataBit": 8,
                 "Parite": "N", "StopBit": 1, "TimeOut": 1},
    })
    rows.append(fig_idle.waiting_server(base, os.path.join(base, "machine.tty"), "---Code804---",
                                        "LSV2 server waiting for its control", 60))
    return rows
