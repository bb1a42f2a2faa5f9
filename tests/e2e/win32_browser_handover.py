"""launcher.exe under Wine, login page to game window and back, as far as a
control without an HTML engine lets it go: the login address contains the
game address, so the login window hands it over at its first navigation.
The login face goes, the game window opens maximised and requests the whole
address (the login browser never does). Closing the game window asks
"退出提示": Esc keeps it; Return brings a fresh login face, which hands the
same address over again at once."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402
from test_server import TestServer  # noqa: E402

LAUNCHER = os.environ.get("E2E_LAUNCHER") or desktop.fail("E2E_LAUNCHER is not set")
BACK = "^Varnholt登录器$"
BOX = "^退出提示$"
FACE_SIZES = {(1039, 652), (757, 563)}
GAME_PATH = "/game.html?from=login"


class Run:
    def __init__(self, display, proc):
        self.display = display
        self.proc = proc

    def visible(self):
        """{window id: (x, y, width, height)} of the launcher's visible windows."""
        ids = desktop.xdotool(self.display, "search", "--onlyvisible", "--class", "launcher.exe",
                              check=False) or ""
        out = {}
        for w in ids.split():
            g = desktop.window_geometry(self.display, w)
            if g:
                out[w] = g
        return out

    def game_only(self):
        """The game window's id when it is the only window shown."""
        wins = self.visible()
        if len(wins) != 1 or desktop.find_windows(self.display, BOX):
            return None
        (wid, g), = wins.items()
        return wid if g[2:] not in FACE_SIZES else None

    def backs(self):
        return set(desktop.find_windows(self.display, BACK, visible=False))

    def close(self, game):
        """Alt+F4 on the game window; the question that it raises."""
        desktop.xdotool(self.display, "windowfocus", "--sync", game)
        desktop.xdotool(self.display, "key", "alt+F4")
        return desktop.wait_window(self.display, BOX, timeout=10)

    def answer(self, box, key):
        desktop.xdotool(self.display, "windowfocus", "--sync", box)
        desktop.xdotool(self.display, "key", key)
        desktop.wait_for(lambda: not desktop.find_windows(self.display, BOX), 10,
                         "the question to go")

    def running(self):
        return self.proc.poll() is None


def main():
    base = desktop.scratch_dir("launcher-handover-")
    proc = None
    try:
        with desktop.Xvfb() as display, TestServer(lifetime=90) as srv:
            folder = os.path.join(base, "hand over")
            os.makedirs(folder)
            with open(os.path.join(folder, "launcher.ini"), "wb") as f:
                f.write(("[common]\r\nversion=1.00\r\nversionCheckUrl=%s\r\n"
                         "[platform]\r\nloginUrl=%s\r\nmainUrl=/game.html\r\n"
                         "[install]\r\ninstallTime=[2020-01-02 03:04:05]\r\n"
                         % (srv.url("/version/1.00"), srv.url(GAME_PATH))).encode())
            exe = desktop.copy_exe(LAUNCHER, folder)
            started = time.monotonic()
            proc = wine_env.start_exe(exe, display=display, cwd=wine_env.state_dir(),
                                      logname="launcher-handover.log")
            run = Run(display, proc)
            check(run, srv, started)
    finally:
        desktop.stop(proc)
        shutil.rmtree(base, ignore_errors=True)
    print("win32 hand-over: all cases passed")


def game_requests(srv):
    return srv.targets().count(GAME_PATH)


def check(run, srv, started):
    game = desktop.wait_for(lambda: game_requests(srv) and run.game_only(), 30,
                            "the game window alone, its address requested")
    print("game window up and its page requested %.2f s after the start"
          % (time.monotonic() - started))
    first_backs = run.backs()
    if not first_backs:
        desktop.fail("no background window at all")
    # Settled: the login browser's own navigation was cancelled, the game
    # window asked for the address once (its first load had nothing to load).
    time.sleep(0.5)
    if game_requests(srv) != 1:
        desktop.fail("%s requested %d times: %s" % (GAME_PATH, game_requests(srv), srv.targets()))
    if run.game_only() != game:
        desktop.fail("the windows changed by themselves: %s" % run.visible())
    if not any(t.startswith("/version/1.00?v=") for t in srv.targets()):
        desktop.fail("no version check: %s" % srv.targets())

    run.answer(run.close(game), "Escape")
    time.sleep(0.3)
    if not run.running() or run.game_only() != game:
        desktop.fail("Esc did not keep the game window alone: %s" % run.visible())
    if game_requests(srv) != 1:
        desktop.fail("Esc reloaded something: %s" % srv.targets())

    run.answer(run.close(game), "Return")
    # A new login face: a new background window (the old one is gone), whose
    # login window hands the address over at once; the game window reopens
    # and loads the previous address, then the new one.
    again = desktop.wait_for(lambda: game_requests(srv) >= 2 and run.game_only(), 15,
                             "the game window back with its address")
    backs = run.backs()
    if not backs or backs & first_backs:
        desktop.fail("no fresh login face: background windows %s before, %s after"
                     % (sorted(first_backs), sorted(backs)))
    if again == game:
        desktop.fail("the game window was not closed and opened anew")
    if not run.running():
        desktop.fail("the launcher ended")
    print("fresh login face handed over again; %s requested %d times in all"
          % (GAME_PATH, game_requests(srv)))


if __name__ == "__main__":
    main()
