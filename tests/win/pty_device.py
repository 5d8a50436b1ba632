#!/usr/bin/env python3
"""The far end of the serial line for the Windows backend tests under Wine.

Makes two pseudo-terminals and links them into the Wine prefix as COM ports: the data port,
which the tests open as the port under test, and the control port, on which the tests tell this
script what the "device" should do. Each command is one line; the reply "ok ..." comes once the
bytes are in the data port's input queue, so a test knows that they have arrived without
sleeping.

  B <n> <first>  write n bytes first, first+1, ... (mod 256) at once
  S <n> <first>  write them without waiting for them to arrive
  G <n>          read n bytes that the tests sent; reply "ok <hex>"
  F              forget what either side has sent so far
  H              hang up the data line, then make a fresh one under the same name

Usage: pty_device.py WINEPREFIX DATA_COM CONTROL_COM   (prints "ready" when linked)
"""
import fcntl
import os
import pty
import select
import struct
import sys
import termios
import time
import tty

FIONREAD = termios.FIONREAD


def make_pty():
    master, slave = pty.openpty()
    tty.setraw(slave)  # no echo, no translation
    return master, slave, os.ttyname(slave)


def link(prefix, com, path):
    dst = os.path.join(prefix, "dosdevices", com.lower())
    if os.path.lexists(dst):
        os.unlink(dst)
    os.symlink(path, dst)


def queued(slave):
    return struct.unpack("i", fcntl.ioctl(slave, FIONREAD, b"\0\0\0\0"))[0]


def wait_until(cond, timeout=20.0):
    end = time.monotonic() + timeout
    while not cond():
        if time.monotonic() > end:
            return False
        time.sleep(0.001)
    return True


def read_exact(fd, n, timeout=20.0):
    out = b""
    end = time.monotonic() + timeout
    while len(out) < n and time.monotonic() < end:
        r, _, _ = select.select([fd], [], [], 0.1)
        if r:
            out += os.read(fd, n - len(out))
    return out


def main():
    prefix, data_com, ctl_com = sys.argv[1:4]
    data_m, data_s, data_path = make_pty()
    ctl_m, ctl_s, ctl_path = make_pty()
    link(prefix, data_com, data_path)
    link(prefix, ctl_com, ctl_path)
    print("ready", data_path, ctl_path, flush=True)

    line = b""
    while True:
        r, _, _ = select.select([ctl_m], [], [])
        try:
            chunk = os.read(ctl_m, 256)
        except OSError:
            chunk = b""
        if not chunk:
            # The control port was closed by the test program: wait for the next opener.
            time.sleep(0.01)
            continue
        line += chunk
        while b"\n" in line:
            cmd, line = line.split(b"\n", 1)
            parts = cmd.decode().split()
            if not parts:
                continue
            reply = "ok"
            if parts[0] in ("B", "S"):
                n, first = int(parts[1]), int(parts[2])
                before = queued(data_s)
                os.write(data_m, bytes((first + i) & 0xFF for i in range(n)))
                if parts[0] == "B" and not wait_until(lambda: queued(data_s) >= before + n):
                    reply = "timeout"
            elif parts[0] == "G":
                got = read_exact(data_m, int(parts[1]))
                reply = "ok " + got.hex()
            elif parts[0] == "F":
                termios.tcflush(data_s, termios.TCIOFLUSH)
                while select.select([data_m], [], [], 0)[0]:
                    os.read(data_m, 4096)
            elif parts[0] == "H":
                os.close(data_m)
                os.close(data_s)
                data_m, data_s, data_path = make_pty()
                link(prefix, data_com, data_path)
            os.write(ctl_m, (reply + "\n").encode())


if __name__ == "__main__":
    main()
