"""Linux upgrade program: the rows of upgrade_rows.py under the run's Xvfb.
The old launcher is a script that holds the folder lock as a running
launcher does. Also: the packer's output is reproducible and keeps the mode."""
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import upgrade_rows  # noqa: E402

OLD = b"""#!/usr/bin/env python3
import fcntl, os, sys, time
lock = open(os.path.join(os.path.dirname(__file__), "update", "launcher.lock"), "a")
fcntl.flock(lock, fcntl.LOCK_SH)
open(sys.argv[2], "w").close()
time.sleep(float(sys.argv[1]))
"""
NEW = b"""#!/bin/sh
printf '%s\\n%s\\n' "$(pwd)" "$#" > "$(dirname "$0")/update/started"
mv "$(dirname "$0")/update/started" "$(dirname "$0")/started.txt"
"""


class Gtk:
    name, mode, old, new = "launcher", 0o755, OLD, NEW

    def __init__(self, display, state):
        self.display, self.state = display, state
        self.log = os.path.join(state, "varnholt", "launcher.log")

    def program(self, short):
        return os.environ["E2E_SHORT_WAIT_UPGRADE"] if short else sys.argv[1]

    def native(self, path):
        return path

    def hold(self, folder, seconds):
        ready = os.path.join(self.state, "held")
        proc = desktop.spawn([os.path.join(folder, self.name), str(seconds), ready])
        desktop.wait_for(lambda: os.path.exists(ready), 10, "the old launcher's lock")
        os.remove(ready)
        return proc

    def start(self, program, cwd):
        env = {"PATH": os.environ["PATH"], "DISPLAY": self.display, "HOME": self.state,
               "XDG_STATE_HOME": self.state, "NO_AT_BRIDGE": "1", "LANG": "C.UTF-8"}
        return desktop.spawn([program], env=env, cwd=cwd, log=os.path.join(self.state, "out"))

    def answer(self, proc):
        box = lambda: proc.poll() is None and desktop.xdotool(  # noqa: E731
            self.display, "search", "--onlyvisible", "--pid", str(proc.pid), "--name",
            upgrade_rows.TITLE, check=False)
        wid = desktop.wait_for(box, 40, "the upgrade program's message").split()[0]
        desktop.xdotool(self.display, "windowfocus", "--sync", wid, "key", "Return")


def main():
    state = desktop.scratch_dir("upgrade-state-")
    try:
        outs = [os.path.join(state, n) for n in "ab"]
        for out in outs:
            upgrade_rows.pack(sys.argv[1], NEW, out)
        if upgrade_rows.read(outs[0]) != upgrade_rows.read(outs[1]) or \
                os.stat(outs[0]).st_mode & 0o777 != 0o755:
            desktop.fail("the packer's outputs differ or lost the program's mode")
        with desktop.Xvfb() as display:
            upgrade_rows.run_rows(Gtk(display, state))
    finally:
        shutil.rmtree(state, ignore_errors=True)


if __name__ == "__main__":
    main()
