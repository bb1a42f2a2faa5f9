"""ctest fixture: `start STATEFILE` launches one Xvfb for the whole run and
writes its display and pid; `stop STATEFILE` ends it by pid."""
import os
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop  # noqa: E402


def main():
    action, state = sys.argv[1], sys.argv[2]
    if action == "start":
        n = desktop.free_display(150)
        proc = desktop.spawn(["Xvfb", ":%d" % n, "-screen", "0", "1600x1000x24",
                              "-nolisten", "tcp", "-noreset"])
        desktop.wait_for(lambda: os.path.exists("/tmp/.X11-unix/X%d" % n) or proc.poll() is not None,
                         10, "Xvfb :%d" % n)
        if proc.poll() is not None:
            desktop.fail("Xvfb did not start")
        with open(state, "w") as f:
            f.write(":%d %d\n" % (n, proc.pid))
        print("Xvfb :%d pid %d" % (n, proc.pid))
    else:
        if not os.path.exists(state):
            return
        display, pid = open(state).read().split()
        try:
            os.kill(int(pid), signal.SIGTERM)
            for _ in range(50):
                os.kill(int(pid), 0)
                time.sleep(0.1)
            os.kill(int(pid), signal.SIGKILL)
        except ProcessLookupError:
            pass
        os.remove(state)


if __name__ == "__main__":
    main()
