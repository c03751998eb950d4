"""The file-to-file program text filters on a 100 MB program, each run by
bench_program_text as its own process on a fresh copy of the program (made
before the clock starts), against `cp` of the same program, process start
included on both sides. The first run of each filter is checked byte for
byte against what the filter must make of the program. A filter that leaves
the program as it is writes nothing: those are measured again on a program
they change."""
import os, shutil, subprocess, time

import benchlib

SIZE = 100 << 20

# The special-character filter's bytes: control characters but CR and LF,
# and the upper half but the six characters controllers use.
SPECIAL = bytes(
    0x20 if (c < 32 and c not in (10, 13)) or (c >= 127 and c not in (174, 175, 240, 242, 246, 248))
    else c for c in range(256))


def lines_of(text):
    lines = text.split(b"\r\n")
    if lines[-1] == b"":
        lines.pop()
    return lines


def joined(lines):
    return b"".join(line + b"\r\n" for line in lines)


def special(line):
    line = line.replace(b"&HE:", b"").translate(SPECIAL)
    # Group-3 machines (CodeGroupCN=3) number their programs with "O".
    return b"O" + line[1:] if line.startswith(b":") and len(line) > 1 else line


def sent(line):
    """What the send preparation of bench_program_text makes of a line:
    tabs as blanks, the comment cut, header and empty lines not sent."""
    line = line.replace(b"\t", b" ")
    comment = line.find(b"(")
    if comment < 0:
        return special(line) if line else None
    return special(line[:comment]) if line[:comment].strip(b" ") else None


# name: (input made from the program, expected result)
FILTERS = {
    "replace-chars": (None, lambda t: t.replace(b" ", b"")),
    "special-chars": (None, lambda t: joined(special(l) for l in lines_of(t))),
    "trim-blocks": (None, lambda t: joined(l.strip(b" ") for l in lines_of(t))),
    "line-filter": (None, lambda t: joined(l.strip(b" ") for l in lines_of(t) if b"(" not in l)),
    "syntax-check": (None, lambda t: t),
    "send-prep": (None, lambda t: joined(s for s in map(sent, lines_of(t)) if s is not None)),
    # A program written with LF alone, made CR LF.
    "line-ends": (lambda t: t.replace(b"\r\n", b"\n"), lambda t: t),
}


def figure(base, text, name, make_input, expect):
    data = make_input(text) if make_input else text
    program = os.path.join(base, "program.nc")
    with open(program, "wb") as f:
        f.write(data)
    work = os.path.join(base, "work.nc")
    other = os.path.join(base, "other.nc")
    checked = []

    def ours():
        shutil.copyfile(program, work)
        t0 = time.monotonic()
        done = subprocess.run([benchlib.binary("bench_program_text"), name, work])
        elapsed = time.monotonic() - t0
        if done.returncode != 0:
            raise RuntimeError(f"bench_program_text {name} failed")
        if not checked:
            with open(work, "rb") as f:
                checked.append(f.read() == expect(text))
        return elapsed

    def cp():
        t0 = time.monotonic()
        subprocess.run(["cp", program, other], check=True)
        return time.monotonic() - t0

    a, b = benchlib.interleaved(ours, cp)
    exact = all(checked)
    note = "" if exact else "WRONG RESULT: the filter's output is not what it must be"
    return benchlib.Row(f"filter {name}, 100 MB", a, b, "s", "<= 2 x cp",
                        lambda o, c, r: r <= 2 and exact, note)


# The filters that leave this program as it is only read it. Each again on
# a program it changes, so that the rewrite is measured too.
REWRITTEN = [
    ("special-chars", "a tab in every block",
     lambda t: t.replace(b" F1200", b"\tF1200"), lambda t: t),
    ("trim-blocks", "blanks around every block",
     lambda t: joined(b" " + l + b"  " for l in lines_of(t)), lambda t: t),
    # Two bare LF in the first line: made CR LF, the rest written as it is.
    ("syntax-check", "bare LF in the first line",
     lambda t: t.replace(b"\r\n", b"\n", 2), lambda t: t),
    ("line-ends", "CR LF already", None, lambda t: t),
]


def figures():
    base = benchlib.base_folder("filters")
    text = benchlib.program(SIZE)
    rows = []
    for name, (make_input, expect) in FILTERS.items():
        rows.append(figure(base, text, name, make_input, expect))
    for name, what, make_input, expect in REWRITTEN:
        rows.append(figure(base, text, name, make_input, expect))
        rows[-1].figure = f"filter {name} ({what}), 100 MB"
    return rows
