#!/usr/bin/env python3
"""Ctrl-C typed on a console: runs a command on a pseudo-terminal (under Wine, a Windows program
then has a console), types Ctrl-C once the given text has appeared in its output, and passes on
its output and its exit status.

    ctrl-c.py TEXT COMMAND [ARGS...]

Without the text within 60 s, the command is left to end on its own.
"""
import os
import pty
import select
import sys
import time


def main():
    text = sys.argv[1].encode()
    command = sys.argv[2:]
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp(command[0], command)
    output = b""
    typed = False
    deadline = time.monotonic() + 60
    while True:
        ready, _, _ = select.select([fd], [], [], 0.05)
        if ready:
            try:
                data = os.read(fd, 65536)
            except OSError:  # the program has ended and closed the terminal
                break
            if not data:
                break
            output += data
        if not typed and (text in output or time.monotonic() > deadline):
            if text in output:
                os.write(fd, b"\x03")
            typed = True
    _, status = os.waitpid(pid, 0)
    sys.stdout.write(output.decode("utf-8", "replace"))
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main())
