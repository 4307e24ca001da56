#!/usr/bin/env python3
"""A parent application for qkscan, in Python with the standard library only.

    QKSCAN=/path/to/qkscan python3 parent.py [--once] [QKSCAN_ARGUMENTS...]

Starts qkscan (the path in the environment variable QKSCAN, or "qkscan" on PATH) with the other
arguments, and reacts to the lines it prints. Ctrl-C stops it the orderly way: by closing its
standard input. With --once it is stopped after the first scan. Exits with qkscan's status.
"""

import json
import os
import signal
import subprocess
import sys


def main(argv):
    once = "--once" in argv
    helper_args = [arg for arg in argv if arg != "--once"]
    helper = os.environ.get("QKSCAN") or "qkscan"
    # Messages may contain non-ASCII text; never fail over the terminal's encoding.
    sys.stdout.reconfigure(errors="replace")

    try:
        # start_new_session (setsid) keeps qkscan out of this terminal's process group, so that
        # Ctrl-C reaches only this program, which then stops qkscan so that it replays any keys it
        # is holding. qkscan keeps listening only while its standard input stays open.
        child = subprocess.Popen(
            [helper, *helper_args],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            start_new_session=True,
        )
    except OSError as error:
        print(f"parent: cannot start {helper}: {error}", file=sys.stderr)
        return 127

    stopping = False

    def stop(*_):
        nonlocal stopping
        if stopping:
            return
        stopping = True
        try:
            child.stdin.close()  # end of file: qkscan stops and exits 0
        except OSError:
            pass  # it has already ended

    signal.signal(signal.SIGINT, stop)
    signal.signal(signal.SIGTERM, stop)

    for raw in child.stdout:
        try:
            message = json.loads(raw.decode("utf-8"))
            event, text = message["event"], message["message"]
        except (UnicodeDecodeError, ValueError, KeyError, TypeError):
            print(f"parent: not a qkscan message: {raw!r}", file=sys.stderr)
            continue
        if event == "ready":
            print("ready: qkscan is listening", flush=True)
        elif event == "dispatch-date":
            # A real application opens its dispatch-date dialog here.
            print("scan: dispatch-date received", flush=True)
            if once:
                stop()
        elif event == "permission-required":
            # A real application shows this text to the user (it is empty in check mode).
            print(f"permission required: {text}" if text else "permission required", flush=True)
        elif event == "permission-present":
            print("permission present", flush=True)
        # Other events come from newer versions of qkscan and are ignored.

    status = child.wait()
    if status >= 0:
        print(f"qkscan exited with status {status}", flush=True)
        return status
    try:
        name = signal.Signals(-status).name
    except ValueError:
        name = str(-status)
    print(f"qkscan was ended by signal {name}", flush=True)
    return 128 - status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
