"""Linux launcher, links that ask for a new window on the login page: a
target=_blank link to the game address and a script's window.open from a
focused link to it both hand over to the game window (no other window
opens, the address is loaded once); a script's window.open while no link
has the focus opens an ordinary browser window of the size it asked for,
whatever its address, and the login face stays."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site as site  # noqa: E402
import desktop  # noqa: E402
from gtk_env import GtkLauncher, request_close  # noqa: E402
from test_server import TestServer  # noqa: E402

GAME_CLIENT = (1100, 600)


def click(run, login, spot):
    x, y = site.login_point(run.geometry(login), site.PAGE_POINTS[spot])
    desktop.xdotool(run.display, "mousemove", str(x), str(y), "click", "1")


def hand_over(run, srv, login, spot, token):
    """Clicks `spot`, expects the game window on game.html?token=<token>,
    returns the game window."""
    click(run, login, spot)
    # A fresh web process for the game page can be slow on a loaded machine.
    game = run.wait_window("^%s$" % (site.READY_TITLE % token), 20)
    if run.windows("^Varnholt登录器$"):
        desktop.fail("%s: the login face is still visible" % spot)
    if run.geometry(game)[2:] != GAME_CLIENT:
        desktop.fail("%s: the game window is %dx%d" % ((spot,) + run.geometry(game)[2:]))
    wanted = "/game.html?token=" + token
    count = srv.targets().count(wanted)
    if count != 1:
        desktop.fail("%s: %s requested %d times, by the game window alone expected"
                     % (spot, wanted, count))
    others = [w for w in run.windows() if w != game]
    if others:
        desktop.fail("%s: other windows beside the game window: %s"
                     % (spot, [run.geometry(w) for w in others]))
    return game


def back_to_login(run, game):
    request_close(run.display, game)
    box = run.wait_window("^退出提示$")
    run.key(box, "Return")
    run.wait_window("^Varnholt登录器$")
    login = desktop.wait_for(lambda: run.login_window(), 10, "the login window")
    desktop.wait_for(lambda: game not in run.windows(), 5, "the game window to close")
    site.wait_login_page(run, login)
    return login


def main():
    with desktop.Xvfb() as display, TestServer(pages=site.PAGES) as srv, \
            GtkLauncher(sys.argv[1]) as run:
        login = site.start_at_login(run, srv, display)

        game = hand_over(run, srv, login, "enter-new", "new")
        login = back_to_login(run, game)
        game = hand_over(run, srv, login, "open-link", "open")
        login = back_to_login(run, game)

        # Nothing focusable was clicked: an ordinary window, not the game.
        click(run, login, "open-script")
        # (It is not silent: the page's greeting shows in it.)
        desktop.wait_for(lambda: run.window_of_size(640, 480), 10,
                         "an ordinary window of the 640x480 asked for")
        if not run.windows("^Varnholt登录器$") or run.login_window() != login:
            desktop.fail("the login face went when an ordinary window opened")
        if run.window_of_size(*GAME_CLIENT):
            desktop.fail("the game window opened for a window.open without a focused link")
        desktop.wait_for(lambda: "/game.html?token=popup" in srv.targets(), 5,
                         "the ordinary window's page")
        if not run.running():
            desktop.fail("the launcher ended (status %s)" % run.proc.returncode)
        site.check_quiet(run)
    print("ok")


if __name__ == "__main__":
    main()
