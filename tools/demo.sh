#!/usr/bin/env bash
# Shows the Linux launcher against the demo site on this machine.
#
# Installs the build dependencies, builds the gtk preset, serves
# tools/demo-site on a free loopback port and runs a copy of the launcher in
# build/demo/ with a launcher.ini pointing at that server.
#
# With a usable DISPLAY the launcher runs there until you close it. Without
# one, it runs on a private Xvfb display: a screenshot of the login face is
# saved to build/demo/screenshot.png, the four site buttons are clicked (their
# addresses go to a recording default browser, build/demo/browser.log), the
# login page hands over to the game window and build/demo/game.png shows it.
#
# DEMO_LAUNCHER=path uses an already built launcher instead of building one;
# DEMO_SECONDS sets how long the launcher runs without a display (default 5).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
demo=$root/build/demo
seconds=${DEMO_SECONDS:-5}

say() { echo "demo: $*"; }
die() { echo "demo: $*" >&2; exit 1; }

# Everything started here is stopped by its pid when the script ends.
server_pid="" xvfb_pid="" compositor_pid="" launcher_pid=""
stop_pid() {
    local pid=$1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    stop_pid "$launcher_pid"
    stop_pid "$compositor_pid"
    stop_pid "$xvfb_pid"
    stop_pid "$server_pid"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Polls a command for at most $1 seconds.
wait_until() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
}

if [ -n "${DEMO_LAUNCHER:-}" ]; then
    launcher=$DEMO_LAUNCHER
else
    bash tools/setup-debian.sh
    cmake --preset gtk
    cmake --build --preset gtk
    launcher=$root/build/gtk/launcher
fi
[ -x "$launcher" ] || die "no launcher at $launcher"

# A fresh folder each time: the launcher writes its install time, version
# check outcome and the fetched version file beside itself.
rm -rf "$demo"
mkdir -p "$demo"
cp "$launcher" "$demo/launcher"

use_display=0
if [ -n "${DISPLAY:-}" ] && timeout 5 xdpyinfo >/dev/null 2>&1; then
    use_display=1
elif [ -n "${DISPLAY:-}" ]; then
    say "DISPLAY=$DISPLAY does not answer; using a private Xvfb display instead"
fi

# The server ends by itself after a while should this script be killed hard.
if [ $use_display -eq 1 ]; then limit=28800; else limit=$((seconds + 120)); fi
python3 tools/serve_demo.py --port 0 --port-file "$demo/server.port" \
    --log "$demo/server.log" --max-seconds "$limit" </dev/null &
server_pid=$!
wait_until 10 test -s "$demo/server.port" || die "the demo server did not start"
port=$(cat "$demo/server.port")
site=http://127.0.0.1:$port

# The launcher reads its configuration in the system's ANSI code page, with
# Windows line ends as its own writer uses: plain ASCII here.
{
    printf '[common]\r\n'
    printf 'version=1.00\r\n'
    printf 'versionCheckUrl=%s/update/upgrade.ini\r\n' "$site"
    printf 'versionUpdateUrl=%s/update/upgrade.exe\r\n' "$site"
    printf '[platform]\r\n'
    printf 'loginUrl=%s/login.html\r\n' "$site"
    printf 'mainUrl=%s/game.html\r\n' "$site"
    printf 'homeUrl=%s/home.html\r\n' "$site"
    printf 'chargeUrl=%s/charge.html\r\n' "$site"
    printf 'serviceUrl=%s/service.html\r\n' "$site"
    printf 'forumUrl=%s/forum.html\r\n' "$site"
} >"$demo/launcher.ini"

if [ $use_display -eq 1 ]; then
    say "running the launcher on $DISPLAY; close it to end the demo"
    (cd "$demo" && exec ./launcher) </dev/null &
    launcher_pid=$!
    rc=0
    wait "$launcher_pid" || rc=$?
    launcher_pid=""
    say "launcher exited with status $rc; requests are in $demo/server.log"
    exit "$rc"
fi

# A display number nobody uses: no lock file and no socket.
display=""
for n in $(seq 170 369); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=$n; break; }
done
[ -n "$display" ] || die "no free X display number"
Xvfb ":$display" -screen 0 1600x1000x24 -nolisten tcp -noreset >"$demo/xvfb.log" 2>&1 </dev/null &
xvfb_pid=$!
xvfb_up() { [ -e "/tmp/.X11-unix/X$display" ] || ! kill -0 "$xvfb_pid" 2>/dev/null; }
wait_until 10 xvfb_up && kill -0 "$xvfb_pid" 2>/dev/null || die "Xvfb :$display did not start (see $demo/xvfb.log)"
export DISPLAY=:$display
# A compositor shows the background window's translucent edges blended.
xcompmgr >"$demo/xcompmgr.log" 2>&1 </dev/null &
compositor_pid=$!

# Scratch home and XDG folders: the browser's cache and settings stay here.
for d in home config cache data state runtime; do mkdir -p "$demo/$d"; done
chmod 700 "$demo/runtime"
# The default browser of this private desktop records the addresses it is
# given instead of showing them.
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' "$demo/browser.log" >"$demo/browser"
chmod 755 "$demo/browser"
mkdir -p "$demo/data/applications"
printf '[Desktop Entry]\nType=Application\nName=Demo browser\nExec="%s" %%u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n' \
    "$demo/browser" >"$demo/data/applications/demo-browser.desktop"
printf '[Default Applications]\nx-scheme-handler/http=demo-browser.desktop\nx-scheme-handler/https=demo-browser.desktop\n' \
    >"$demo/config/mimeapps.list"
(
    cd "$demo"
    export HOME=$demo/home XDG_CONFIG_HOME=$demo/config XDG_CACHE_HOME=$demo/cache \
        XDG_DATA_HOME=$demo/data XDG_STATE_HOME=$demo/state XDG_RUNTIME_DIR=$demo/runtime
    # Software rendering in Xvfb; no accessibility bus to talk to.
    export WEBKIT_DISABLE_COMPOSITING_MODE=1 NO_AT_BRIDGE=1
    exec ./launcher
) >"$demo/launcher.log" 2>&1 </dev/null &
launcher_pid=$!
say "launcher running on :$display (pid $launcher_pid), login page at $site/login.html"

login_requested() { grep -q 'GET /login.html' "$demo/server.log" 2>/dev/null || ! kill -0 "$launcher_pid" 2>/dev/null; }
wait_until 30 login_requested || say "the login page was not requested within 30 s"
sleep "$seconds"
kill -0 "$launcher_pid" 2>/dev/null || die "the launcher exited early (see $demo/launcher.log)"
# A picture of a window with a margin of the screen around it.
shoot() {
    local wid=$1 out=$2
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    timeout 20 import -window root -crop "$((WIDTH + 40))x$((HEIGHT + 40))+$((X - 20))+$((Y - 20))" \
        +repage "$out" || die "the screenshot failed"
}

# The login face: the background window carries the caption.
face=$(xdotool search --onlyvisible --pid "$launcher_pid" --name 'Varnholt' 2>/dev/null | head -1 || true)
if [ -n "$face" ]; then
    shoot "$face" "$demo/screenshot.png"
    eval "$(xdotool getwindowgeometry --shell "$face")"
    login_x=$((X + 254)) login_y=$((Y + 70))
    # The four site buttons (centres, login window pixels), as a player clicks them.
    for xy in "110 72" "210 72" "597 72" "697 72"; do
        set -- $xy
        # The pointer travels onto the button and rests there, as a
        # player's does: a button clicks only after it turned hot.
        for step in 2 1 0; do
            xdotool mousemove $((login_x + $1 + step)) $((login_y + $2))
            sleep 0.2
        done
        xdotool click 1
        sleep 0.3
    done
    wait_until 5 test -s "$demo/browser.log" || true
    # Log in: a click on the page, Tab to the account field, Return submits
    # the form, whose address is the game's: the game window takes over.
    for step in 2 1 0; do
        xdotool mousemove $((login_x + 400 + step)) $((login_y + 150))
        sleep 0.2
    done
    xdotool click 1 sleep 0.3 key Tab sleep 0.2 key Return
    game_up() { grep -q 'GET /game.html' "$demo/server.log" 2>/dev/null; }
    if wait_until 15 game_up; then
        sleep 2
        game=$(xdotool search --onlyvisible --pid "$launcher_pid" 2>/dev/null | head -1 || true)
        [ -n "$game" ] && shoot "$game" "$demo/game.png"
    else
        say "the game window did not come up; no game screenshot"
    fi
else
    timeout 20 import -window root "$demo/screenshot.png" || die "the screenshot failed"
    say "no login face found; screenshot of the whole screen"
fi
cleanup
trap - EXIT

say "screenshot: $demo/screenshot.png"
[ -s "$demo/game.png" ] && say "game window: $demo/game.png"
say "server log: $demo/server.log ($(wc -l <"$demo/server.log") requests)"
if [ -s "$demo/browser.log" ]; then
    say "opened in the default browser:"
    sed 's/^/demo:   /' "$demo/browser.log"
fi
say "launcher output: $demo/launcher.log; its ini: $demo/launcher.ini"
