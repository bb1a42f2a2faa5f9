"""Linux launcher, the whole road as a player takes it. The four site
buttons, each clicked after one jump of the pointer, open their addresses in
the default browser (a recorder here); a
drag on the login face moves both windows; the close button asks "退出提示"
and a click on its Cancel keeps everything. The login page is drawn in its frame with its
edges hidden; a click on a link to the game address
hides the login face and opens the game window on that whole address (the
login browser never loads it); the game page's setClientTypeByVb() is run
once it has loaded, and the window's caption follows the page's title;
one page process serves the game (the login page's, its page dropped), and
WebGL works there, while on a machine without a GPU the launcher's own
process has no GL driver loaded. A close request on the game window asks
"退出提示": Esc keeps the game, Return
brings a fresh login face that loads the login page again, whose buttons
work; its close button with Return ends the launcher."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site as site  # noqa: E402
import desktop  # noqa: E402
from gtk_env import GtkLauncher, request_close  # noqa: E402
from test_server import TestServer  # noqa: E402

GAME_CLIENT = (1100, 600)
SITE = {"home": "http://127.0.0.1:9/首页", "charge": "http://127.0.0.1:9/pay?a=1&b=2",
        "service": "http://127.0.0.1:9/service", "forum": "http://127.0.0.1:9/forum"}


def opened(log, count):
    """The addresses the default browser was given, once there are `count`."""
    def read():
        if not os.path.exists(log):
            return None
        with open(log, encoding="utf-8") as f:
            lines = f.read().splitlines()
        return lines if len(lines) >= count else None
    return desktop.wait_for(read, 10, "%d addresses opened in the default browser" % count)


def page_processes(pid):
    """The engine's page processes the launcher started."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % entry) as f:
                head, rest = f.read().rsplit(")", 1)
        except (OSError, ValueError):
            continue
        if head.split("(", 1)[1].startswith("WebKitWebProces") and int(rest.split()[1]) == pid:
            found.append(int(entry))
    return found


def has_render_node():
    return os.path.isdir("/dev/dri") and any(n.startswith("renderD")
                                             for n in os.listdir("/dev/dri"))


def close_button_asks(run, login):
    site.click_button(run, login, "close")
    return run.wait_window("^退出提示$")


def main():
    pages = dict(site.PAGES)
    pages["/game.html"] = site.GAME_PAGE.replace("</body>", site.WEBGL_REPORT + "</body>")
    with desktop.Xvfb() as display, TestServer(pages=pages) as srv, \
            GtkLauncher(sys.argv[1]) as run:
        browser_log = run.record_default_browser()
        login = site.start_at_login(run, srv, display, "".join(
            "%sUrl=%s\n" % kv for kv in SITE.items()))
        print("login page drawn %.0f ms after the start"
              % ((time.monotonic() - run.started_at) * 1000))

        order = ("home", "charge", "service", "forum")
        for name in order:
            site.click_button(run, login, name)
        if opened(browser_log, 4) != [SITE[n] for n in order]:
            desktop.fail("the site buttons opened %s" % opened(browser_log, 4))

        # A drag on the login face (the keyed surface above the panel) takes
        # both windows along.
        back = run.wait_window("^Varnholt登录器$")
        bx, by = run.geometry(back)[:2]
        lx, ly = run.geometry(login)[:2]
        run.drag(lx + 400, ly + 30, -60, 40, 3)
        desktop.wait_for(lambda: run.geometry(back)[:2] == (bx - 60, by + 40), 5,
                         "the background window moved")
        desktop.wait_for(lambda: run.geometry(login)[:2] == (lx - 60, ly + 40), 5,
                         "the login window following")

        # Cancel (the left one of the question's two buttons) clicked: the
        # close button that held the pointer leaves the question its clicks.
        box = close_button_asks(run, login)
        qx, qy, qw, qh = run.geometry(box)
        desktop.xdotool(display, "mousemove", str(qx + qw // 4), str(qy + qh - 15), "click", "1")
        desktop.wait_for(lambda: not run.windows("^退出提示$"), 5, "the question to go")
        if not run.running() or login not in run.windows():
            desktop.fail("Cancel in the exit question did not keep the login face")

        x, y = site.login_point(run.geometry(login), site.PAGE_POINTS["enter"])
        # The close button holds the pointer until it sees it leave: the
        # player's pointer travels to the link and rests there first.
        for step in range(4):
            desktop.xdotool(display, "mousemove", str(x + step), str(y))
            time.sleep(0.15)
        desktop.xdotool(display, "click", "1")
        title = site.READY_TITLE % "abc"
        game = run.wait_window("^%s$" % title, 10)

        if run.windows("^Varnholt登录器$") or run.login_window():
            desktop.fail("the login face is still visible beside the game window")
        # The game's view shares the login view's page process; the hidden
        # login page is gone, so one page process serves the game.
        desktop.wait_for(lambda: len(page_processes(run.proc.pid)) == 1, 5,
                         "one page process with the game window open (%s)"
                         % page_processes(run.proc.pid))
        # No window manager here: the game window keeps its restored size, and
        # the browser reaching past its right edge must not widen it.
        if run.geometry(game)[2:] != GAME_CLIENT:
            desktop.fail("the game window is %dx%d, not %dx%d"
                         % (run.geometry(game)[2:] + GAME_CLIENT))

        # The page fills the client area, also after a minimise and restore
        # (an unmap is what X calls iconic; the browser then has no height).
        for step in (None, "windowunmap", "windowmap"):
            if step:
                desktop.xdotool(display, step, "--sync", game)
            if step != "windowunmap":
                gx, gy, gw, gh = run.geometry(game)
                desktop.wait_for(lambda: site.pixel(display, gx + gw - 1, gy + gh - 1)
                                 == site.GAME_BACKGROUND, 5,
                                 "the game page in the game window's corner")

        reports = desktop.wait_for(
            lambda: [t for t in srv.targets() if t.startswith("/webgl")], 5,
            "the game page's WebGL report")
        if reports != ["/webgl?context=yes"]:
            desktop.fail("the game page has no WebGL: %s" % reports)
        if not has_render_node():
            with open("/proc/%d/maps" % run.proc.pid) as f:
                drivers = {line.split("/")[-1].strip() for line in f if "_dri.so" in line}
            if drivers:
                desktop.fail("without a GPU the launcher's own process loaded %s"
                             % ", ".join(sorted(drivers)))

        wanted = "/game.html?token=abc&x=1"
        targets = desktop.wait_for(
            lambda: [t for t in srv.targets() if t.startswith("/client-type")] and srv.targets(),
            5, "the game page's client-type call")
        if targets.count(wanted) != 1:
            desktop.fail("%s requested %d times (the game window alone should): %s"
                         % (wanted, targets.count(wanted), targets))
        calls = [t for t in targets if t.startswith("/client-type")]
        if not calls[0].startswith("/client-type?called=1&token=abc") or \
                targets.index(calls[0]) < targets.index(wanted):
            desktop.fail("setClientTypeByVb() was not called once after the game page "
                         "loaded: %s" % targets)

        request_close(display, game)
        box = run.wait_window("^退出提示$")
        run.key(box, "Escape")
        desktop.wait_for(lambda: not run.windows("^退出提示$"), 5, "the question to go")
        if game not in run.windows("^%s$" % title):
            desktop.fail("Esc did not keep the game window")
        if run.windows("^Varnholt登录器$"):
            desktop.fail("Esc brought the login face back")

        logins = srv.targets().count("/login.html")
        request_close(display, game)
        box = run.wait_window("^退出提示$")
        run.key(box, "Return")
        run.wait_window("^Varnholt登录器$")
        login = desktop.wait_for(lambda: run.login_window(), 10,
                                 "the login window back")
        desktop.wait_for(lambda: not run.windows("^%s$" % title), 5, "the game window to close")
        desktop.wait_for(lambda: srv.targets().count("/login.html") > logins, 10,
                         "the login page requested again")
        site.wait_login_page(run, login)
        if not run.running():
            desktop.fail("the launcher ended (status %s)" % run.proc.returncode)

        # The new face's buttons work, and its close button ends the launcher.
        site.click_button(run, login, "forum")
        if opened(browser_log, 5)[4] != SITE["forum"]:
            desktop.fail("the forum button of the new face opened %s" % opened(browser_log, 5))
        run.key(close_button_asks(run, login), "Return")
        if run.wait_exit(10) != 0:
            desktop.fail("the launcher ended with status %s" % run.proc.returncode)
        site.check_quiet(run)
    print("ok")


if __name__ == "__main__":
    main()
