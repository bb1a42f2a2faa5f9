"""A login page and a game page for the browser tests of the Linux launcher,
served by test_server.py, and what the tests need to work with them: where a
point of the login page is on the screen, a pixel of the screen, the login
page seen drawn in its frame.

The login page lays its links out at fixed places (PAGE_POINTS) so that a
test can click them. Its background is green, with a red band over the 5
pixels of its top and left edges that the login window's frame hides.

The game page greets with an alert as it loads: the game window's browser is
silent, so the box never shows and the page goes on loading. Its
setClientTypeByVb() reports each call to the server as
/client-type?called=N&token=T and sets the title to
"游戏页面 已就绪 T" (T: the page's token).
"""
import time

import desktop

GAME_TITLE = "游戏页面"
READY_TITLE = GAME_TITLE + " 已就绪 %s"

LOGIN_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>登录页面</title>
<style>
  html, body { margin: 0; padding: 0; overflow: hidden; background: #00c000; }
  #edge-top { position: absolute; left: 0; top: 0; width: 750px; height: 5px; background: #ff0000; }
  #edge-left { position: absolute; left: 0; top: 0; width: 5px; height: 450px; background: #ff0000; }
  .spot { position: absolute; left: 40px; width: 240px; height: 30px; display: block;
          background: #ffff00; color: #000; font: 14px sans-serif; }
</style></head>
<body>
<div id="edge-top"></div><div id="edge-left"></div>
<a class="spot" style="top: 40px" href="game.html?token=abc&amp;x=1">进入游戏</a>
<a class="spot" style="top: 90px" href="game.html?token=new" target="_blank">新窗口</a>
<a class="spot" style="top: 140px" href="game.html?token=open"
   onclick="window.open(this.href); return false;">脚本打开链接</a>
<div class="spot" style="top: 190px"
   onclick="window.open('game.html?token=popup', '', 'width=640,height=480')">脚本打开窗口</div>
</body></html>
"""

# Centres of the clickable spots, in page pixels.
PAGE_POINTS = {
    "enter": (160, 55),
    "enter-new": (160, 105),
    "open-link": (160, 155),
    "open-script": (160, 205),
}

GAME_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>%s</title>
<script>
var calls = 0;
function token() {
    var m = /[?&]token=([^&#]*)/.exec(location.search);
    return m ? m[1] : "";
}
function setClientTypeByVb() {
    calls += 1;
    new Image().src = "/client-type?called=" + calls + "&token=" + token();
    document.title = "%s" + token();
    return calls;
}
</script></head>
<body style="background: #203040; color: #e0e0e0" onload="alert('欢迎')">游戏</body></html>
""" % (GAME_TITLE, READY_TITLE.replace("%s", ""))

# For a game page: whether the page gets a WebGL context, reported to the
# server as /webgl?context=yes (or no).
WEBGL_REPORT = """<script>
new Image().src = "/webgl?context=" +
    (document.createElement("canvas").getContext("webgl") ? "yes" : "no");
</script>"""

PAGES = {"/login.html": LOGIN_PAGE, "/game.html": GAME_PAGE}

# The login window's browser frame (client pixels) and the page's offset in it.
FRAME = (55, 130, 697, 406)
VIEW_OFFSET = (-5, -5)
GREEN = (0, 192, 0)
GAME_BACKGROUND = (0x20, 0x30, 0x40)
RED = (255, 0, 0)


LOGIN_SIZE = (757, 563)
# The login window's picture buttons: left, top, width, height, client pixels.
BUTTONS = {"mini": (692, 19, 23, 23), "close": (720, 16, 26, 26), "home": (65, 55, 90, 34),
           "charge": (165, 55, 90, 34), "service": (552, 55, 90, 34), "forum": (652, 55, 90, 34)}


def start_at_login(run, srv, display, platform=""):
    """Starts the launcher on this site's login page (the game address:
    /game.html; `platform`: more lines of [platform]) and returns the login
    window once the page is drawn."""
    run.write_ini("[platform]\nloginUrl=%s\nmainUrl=%s\n%s[install]\ninstallTime=x\n"
                  % (srv.url("/login.html"), srv.url("/game.html"), platform))
    run.start(display)
    run.wait_window("^Varnholt登录器$")
    login = desktop.wait_for(lambda: run.login_window(), 10, "the login window")
    wait_login_page(run, login)
    return login


def click_button(run, login, name):
    """As a touch screen or a remote desktop clicks: one jump of the pointer
    onto the button and the left button at once. Every click counts, also
    right after one on another button (which held the pointer)."""
    x, y = run.geometry(login)[:2]
    left, top, width, height = BUTTONS[name]
    desktop.xdotool(run.display, "mousemove", str(x + left + width // 2),
                    str(y + top + height // 2), "click", "1")


def login_point(login_geometry, page_point):
    """Screen position of a point of the login page."""
    lx, ly = login_geometry[:2]
    return (lx + FRAME[0] + VIEW_OFFSET[0] + page_point[0],
            ly + FRAME[1] + VIEW_OFFSET[1] + page_point[1])


def pixels(display, x, y, width=1, height=1):
    """The RGB bytes of a rectangle of the screen, 8 bits a channel."""
    return desktop.Shot(display, x, y, width, height).data


def pixel(display, x, y):
    """(r, g, b) of one pixel of the screen, 8 bits each."""
    return tuple(pixels(display, x, y)[:3])


def wait_login_page(run, login, timeout=10):
    """Waits until the login page is drawn in its frame, and checks that the
    frame shows the page from its pixel (5, 5) on: the red edges are hidden
    and nothing of the page shows outside the frame."""
    g = run.geometry(login)
    lx, ly = g[:2]
    fx, fy, fw, fh = FRAME
    corner = (lx + fx, ly + fy)
    deadline = time.monotonic() + timeout
    while pixel(run.display, *corner) != GREEN:
        if time.monotonic() > deadline:
            desktop.fail("the login page is not drawn in its frame after %.0f s: its corner "
                         "shows %s" % (timeout, pixel(run.display, *corner)))
        time.sleep(0.05)
    far = (lx + fx + fw - 1, ly + fy + fh - 1)
    for (x, y), want in ((corner, GREEN), (far, GREEN)):
        got = pixel(run.display, x, y)
        if got != want:
            desktop.fail("pixel %d,%d of the frame is %s, not the page's %s"
                         % (x - lx, y - ly, got, want))
    for x, y in ((corner[0] - 1, corner[1]), (corner[0], corner[1] - 1),
                 (far[0] + 1, far[1]), (far[0], far[1] + 1)):
        if pixel(run.display, x, y) in (GREEN, RED):
            desktop.fail("the page shows outside its frame at %d,%d" % (x - lx, y - ly))


def check_quiet(run):
    """The launcher's output has no GTK, GLib or engine warning (with a log
    domain or without): each is a call the adapter got wrong."""
    with open(run.log, "rb") as f:
        text = f.read().decode("utf-8", "replace")
    bad = [line for line in text.splitlines() if "WARNING **" in line or "CRITICAL **" in line]
    if bad:
        desktop.fail("the launcher warned:\n" + "\n".join(bad[:10]))
