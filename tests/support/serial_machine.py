#!/usr/bin/python3
"""A machine tool's serial port for whole-process tests and benchmarks.

Holds the master side of a pseudo-terminal through pyserial and links the
slave side where the server opens its line. The machine takes what the
server sends into a small buffer that it drains at a fixed byte rate (the
controller cutting), and paces the server with XOFF/XON as a controller
does; the server's kernel honours them on its side of the line.

Commands, one per line on stdin:
  rate BYTES_PER_SECOND     drain rate (0: as fast as it comes)
  holdat COUNT SECONDS      after COUNT bytes received, XOFF for SECONDS
  closeat COUNT             after COUNT bytes received, the line goes away
  send PATH CHUNK GAP_MS    sends a file in chunks, GAP_MS apart
  clear                     forgets what was received so far
  quit
Everything received goes to the --out file as it arrives; a line
"count N" on stdout follows every chunk once --verbose is given.
"""

import argparse
import os
import select
import sys
import time

import serial

XON, XOFF = b"\x11", b"\x13"


class MasterSerial(serial.Serial):
    """pyserial on an already open pseudo-terminal master."""

    def __init__(self, fd, **kwargs):
        self._master = fd
        super().__init__(**kwargs)
        self.port = "pty-master"

    def open(self):
        self.fd = self._master
        self._reconfigure_port(force_update=True)
        self.pipe_abort_read_r, self.pipe_abort_read_w = os.pipe()
        self.pipe_abort_write_r, self.pipe_abort_write_w = os.pipe()
        self.is_open = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--link", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--buffer", type=int, default=256)
    ap.add_argument("--rate", type=float, default=0)
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args()

    master, slave = os.openpty()
    # The server opens the slave by this name; the machine keeps it open
    # so that the line stays up between the server's cycles.
    if os.path.lexists(args.link):
        os.unlink(args.link)
    os.symlink(os.ttyname(slave), args.link)
    port = MasterSerial(master, baudrate=9600, timeout=0)
    port.open()

    out = open(args.out, "wb")
    rate = args.rate
    received = 0
    fill = 0.0          # bytes in the controller's buffer
    xoff_sent = False
    hold_at = None      # (count, seconds)
    hold_until = 0.0
    close_at = None
    last = time.monotonic()
    high, low = args.buffer * 3 // 4, args.buffer // 4
    print("ready", flush=True)

    def command(line):
        nonlocal rate, hold_at, close_at, received, out
        words = line.split()
        if not words:
            return True
        if words[0] == "rate":
            rate = float(words[1])
        elif words[0] == "holdat":
            hold_at = (int(words[1]), float(words[2]))
        elif words[0] == "closeat":
            close_at = int(words[1])
        elif words[0] == "send":
            with open(words[1], "rb") as f:
                data = f.read()
            chunk, gap = int(words[2]), float(words[3]) / 1000
            for i in range(0, len(data), chunk):
                port.write(data[i:i + chunk])
                port.flush()
                time.sleep(gap)
        elif words[0] == "clear":
            out.close()
            out = open(args.out, "wb")
            received = 0
        elif words[0] == "quit":
            return False
        print("ok", flush=True)
        return True

    while True:
        ready, _, _ = select.select([sys.stdin, port.fd], [], [], 0.005)
        if sys.stdin in ready:
            if not command(sys.stdin.readline()):
                break
        now = time.monotonic()
        # The controller cuts: its buffer drains at the configured rate.
        fill = max(0.0, fill - (now - last) * rate) if rate > 0 else 0.0
        last = now
        room = args.buffer - int(fill)
        if room <= 0:
            time.sleep(0.002)
        elif port.fd in ready:
            try:
                data = port.read(room)
            except serial.SerialException:
                data = b""
            if data:
                out.write(data)
                out.flush()
                received += len(data)
                fill += len(data)
                if args.verbose:
                    print("count", received, flush=True)
        if close_at is not None and received >= close_at:
            break
        if hold_at is not None and received >= hold_at[0]:
            hold_until = now + hold_at[1]
            hold_at = None
        holding = now < hold_until
        if not xoff_sent and (holding or fill >= high):
            port.write(XOFF)
            xoff_sent = True
        elif xoff_sent and not holding and fill <= low:
            port.write(XON)
            xoff_sent = False
    out.close()
    os.unlink(args.link)
    os.close(slave)
    port.close()


if __name__ == "__main__":
    main()
