#!/usr/bin/env python3
"""A parent application for qkscan, in Python with the standard library only.

    QKSCAN=/path/to/qkscan python3 parent.py [--once] [--restart] [--stop-timeout=SECONDS] [ARGS...]

Starts qkscan (the path in the environment variable QKSCAN, or "qkscan" on PATH) with the other
arguments, and reacts to the lines it prints. Ctrl-C stops it the orderly way: a line and the end
of its standard input, then SIGTERM after the stop timeout (default 1 s) and SIGKILL after another.
With --once it is stopped after the first scan. With --restart a helper that ends unexpectedly is
started again, 0.5 s later, then 1 s, 2 s, ... up to 30 s (but never after exit status 2: the
permission is missing). Exits with qkscan's status.
"""

import json
import os
import signal
import subprocess
import sys
import threading
import time

RESTART_INITIAL_DELAY = 0.5  # seconds before the first restart after a crash
RESTART_FACTOR = 2  # each further restart in a row waits this much longer
RESTART_MAX_DELAY = 30.0
RESTART_RESET_AFTER = 30.0  # a helper that listened this long counts as healthy


def parse_arguments(argv):
    settings = {"once": False, "restart": False, "stop_timeout": 1.0, "helper_args": []}
    for arg in argv:
        if arg == "--once":
            settings["once"] = True
        elif arg == "--restart":
            settings["restart"] = True
        elif arg.startswith("--stop-timeout="):
            try:
                settings["stop_timeout"] = float(arg.split("=", 1)[1])
            except ValueError:
                return None
        else:
            settings["helper_args"].append(arg)
    if not 0 < settings["stop_timeout"] < 2**31 / 1000:
        return None
    return settings


def describe(status):
    """How a helper ended, as the parent reports it, and the status this program exits with."""
    if status >= 0:
        return f"qkscan exited with status {status}", status
    try:
        name = signal.Signals(-status).name
    except ValueError:
        name = str(-status)
    return f"qkscan was ended by signal {name}", 128 - status


class Parent:
    def __init__(self, helper, settings):
        self.helper = helper
        self.settings = settings
        self.child = None
        self.stopping = False
        self.stopped = threading.Event()  # ends a wait between two helpers at once
        self.ever_ready = False  # a helper has printed "ready": only then are crashes restarted

    def stop(self, *_):
        if self.stopping:
            return
        self.stopping = True
        self.stopped.set()
        if self.child is not None:
            self.request_stop(self.child)

    def request_stop(self, child):
        # A line and the end of standard input: qkscan stops on either, replaying held keys.
        try:
            child.stdin.write(b"\n")
            child.stdin.flush()
        except OSError:
            pass  # it has already ended
        try:
            child.stdin.close()
        except OSError:
            pass
        thread = threading.Thread(target=self.escalate, args=(child,), daemon=True)
        thread.start()

    def escalate(self, child):
        """SIGTERM to the helper's process group after the stop timeout, SIGKILL after another."""
        for signal_number in (signal.SIGTERM, signal.SIGKILL):
            try:
                child.wait(self.settings["stop_timeout"])
                return
            except subprocess.TimeoutExpired:
                pass
            try:
                os.killpg(child.pid, signal_number)
                child.forced = signal_number.name
            except OSError:
                return  # gone meanwhile

    def run_helper(self):
        """Runs one helper to its end. Returns its exit status (negative: the signal) and whether
        it had been listening long enough to count as healthy; None if it could not start."""
        try:
            # start_new_session (setsid) keeps qkscan out of this terminal's process group, so
            # that Ctrl-C reaches only this program, which then stops qkscan so that it replays
            # any keys it is holding. qkscan keeps listening only while its standard input stays
            # open.
            child = subprocess.Popen(
                [self.helper, *self.settings["helper_args"]],
                stdin=subprocess.PIPE,
                stdout=subprocess.PIPE,
                start_new_session=True,
            )
        except OSError as error:
            print(f"parent: cannot start {self.helper}: {error}", file=sys.stderr)
            return None, False
        child.forced = None
        self.child = child
        if self.stopping:
            self.request_stop(child)
        ready_at = None
        for raw in child.stdout:
            try:
                message = json.loads(raw.decode("utf-8"))
                event, text = message["event"], message["message"]
                if not isinstance(event, str) or not isinstance(text, str):
                    raise TypeError
            except (UnicodeDecodeError, ValueError, KeyError, TypeError):
                print(f"parent: not a qkscan message: {raw!r}", file=sys.stderr)
                continue
            if event == "ready" and ready_at is None:
                ready_at = time.monotonic()
                self.ever_ready = True
                print("ready: qkscan is listening", flush=True)
            elif event == "ready":
                print("re-enabled: qkscan is listening again", flush=True)
            elif event == "dispatch-date":
                # A real application opens its dispatch-date dialog here.
                print("scan: dispatch-date received", flush=True)
                if self.settings["once"]:
                    self.stop()
            elif event == "permission-required":
                # A real application shows this text to the user (it is empty in check mode).
                print(f"permission required: {text}" if text else "permission required", flush=True)
            elif event == "permission-present":
                print("permission present", flush=True)
            # Other events come from newer versions of qkscan and are ignored.
        status = child.wait()
        if child.forced:
            print(f"parent: qkscan did not stop in time, sent {child.forced}", file=sys.stderr)
        healthy = ready_at is not None and time.monotonic() - ready_at >= RESTART_RESET_AFTER
        return status, healthy

    def run(self):
        delay = RESTART_INITIAL_DELAY
        while True:
            status, healthy = self.run_helper()
            if status is None:
                return 127
            text, exit_status = describe(status)
            # Restart only a helper that ended unexpectedly, in a run that had been listening:
            # never after a stop, never after status 2 (the user must grant the permission).
            if self.stopping or not self.settings["restart"] or status == 2 or not self.ever_ready:
                print(text, flush=True)
                return exit_status
            if healthy:
                delay = RESTART_INITIAL_DELAY
            print(f"{text}: restarting in {delay:g} s", flush=True)
            if self.stopped.wait(delay):
                print(text, flush=True)  # stopped while waiting: the last helper's end stands
                return exit_status
            delay = min(delay * RESTART_FACTOR, RESTART_MAX_DELAY)


def main(argv):
    settings = parse_arguments(argv)
    if settings is None:
        print(
            "usage: parent.py [--once] [--restart] [--stop-timeout=SECONDS] [ARGS...]",
            file=sys.stderr,
        )
        return 64
    # Messages may contain non-ASCII text; never fail over the terminal's encoding.
    sys.stdout.reconfigure(errors="replace")
    parent = Parent(os.environ.get("QKSCAN") or "qkscan", settings)
    signal.signal(signal.SIGINT, parent.stop)
    signal.signal(signal.SIGTERM, parent.stop)
    return parent.run()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
