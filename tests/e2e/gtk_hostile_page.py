"""Linux launcher, hostile login pages: only the http row of ROWS opens the game window; its page
spins, yet the return loads the login page, whose four downloads (no click) each get a save dialog,
one at a time: Esc saves nothing, Return into the download folder."""
import base64
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site as site  # noqa: E402
import desktop  # noqa: E402
from gtk_env import GtkLauncher, request_close  # noqa: E402
from test_server import TestServer  # noqa: E402

PAGE = site.LOGIN_PAGE.split("<body>")[0] + "<body>"
LOGIN = PAGE + """<a class="spot" style="top:40px" onclick="location = 'data:text/html,%(url)s'">
x</a><a class="spot" style="top:90px" href="file:///%(url)s" onclick="window.open(this.href);
return false">x</a><iframe src="/ad?%(ad)s" style="position:absolute; left:320px; top:40px;
height:50px"></iframe>"""
# A frame goes to its query (base64, or its own address hands over); the third party's spins.
AD = b"""<title>3p</title><script>onclick = () => location = atob(location.search.slice(1));
if (location.search.startsWith("?x=")) setTimeout(() => { var r = new XMLHttpRequest();
r.open("GET", "/spinning", false); r.send(); for (;;) {} }, 500);</script>"""
ROWS = [("the top page to data:", (160, 55)), ("a focused file: link by window.open", (160, 105)),
        ("a frame to a third party's http page", (470, 65))]  # hands over; that page spins
PAYLOAD = {n: n.encode() * 300 for n in ("link.bin", "data.bin", "top.bin", "framed.bin")}
CLICK = '<iframe srcdoc="<a id=a href=%s download=%s></a><script>a.click()</script>"></iframe>'
DOWNLOADS = PAGE + CLICK % ("/files/link.bin", "") + CLICK % ("data:;base64," + base64.b64encode(
    PAYLOAD["data.bin"]).decode(), "data.bin") + """<iframe src="/attachment/framed.bin"></iframe>
<script>onload = () => setTimeout(() => location = "/attachment/top.bin", 500);</script>"""


def main():
    with desktop.Xvfb() as display, TestServer(files=PAYLOAD) as srv, \
            GtkLauncher(sys.argv[1]) as run:
        url = srv.url("/game.html")
        login = LOGIN % {"url": url, "ad": base64.b64encode(("/3p?x=" + url).encode()).decode()}
        srv.pages.update({"/ad": AD, "/3p": AD, "/login.html": login.encode()})
        g = run.geometry(site.start_at_login(run, srv, display))
        for case, point in ROWS:
            x, y = site.login_point(g, point)
            desktop.xdotool(display, "mousemove", str(x), str(y), "click", "1")
            time.sleep(1.5)  # the engine refuses these, or loads them, silently
            if case != ROWS[-1][0] and (run.window_of_size(1100, 600) or site.pixel(
                    display, g[0] + 751, g[1] + 535) != site.GREEN):  # the frame's far corner
                desktop.fail(case + ": the game window opened, or the login page went")
        game = run.wait_window("^3p$", 10)
        desktop.wait_for(lambda: "/spinning" in srv.targets(), 10, "the game page to spin")
        srv.pages["/login.html"] = DOWNLOADS.encode()
        request_close(display, game)
        run.key(run.wait_window("^退出提示$"), "Return")  # the login face loads DOWNLOADS

        def written():
            paths = [os.path.join(d, n) for d, _, names in os.walk(run.root) for n in names]
            return [p for p in paths if os.path.isfile(p) and any(
                v[:99] in open(p, "rb").read() for v in PAYLOAD.values())]
        for i, key in enumerate(("Escape",) * 3 + ("Return",), 1):
            dialog = desktop.wait_for(lambda: run.windows("^另存为$"), 15, "dialog %d" % i)[0]
            desktop.wait_for(lambda: "/attachment/top.bin" in srv.targets(), 10, "all downloads")
            if len(run.windows("^另存为$")) != 1 or written():
                desktop.fail("two save dialogs, or written before the answer: %s" % written())
            run.key(dialog, key)
            desktop.wait_for(lambda: dialog not in run.windows(), 5, "the dialog to go")
        name = desktop.wait_for(lambda: set(os.listdir(run.home)) & set(PAYLOAD), 10,
                                "a file in the home folder (no XDG download folder is set)")
        time.sleep(1)  # NAME.wkdownload has become NAME; the cancelled ones could write by now
        path = os.path.join(run.home, name.pop())
        if written() != [path] or open(path, "rb").read() != PAYLOAD[os.path.basename(path)]:
            desktop.fail("page downloads written: %s" % written())
        site.check_quiet(run)
    print("ok")


if __name__ == "__main__":
    main()
