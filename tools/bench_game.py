#!/usr/bin/env python3
"""The game window side by side with the engine's own minimal browser
(MiniBrowser) while a game runs: two scenes of our own served from the
loopback server, each program in turn on the same private display.

    python3 tools/bench_game.py [build/gtk/launcher] [--runs N] [--long-minutes M]

Scenes (800 x 600 each, whatever the window's size):
  sprites   a sprite benchmark on pixi.js (WebGL): N bunnies bouncing. The
            library comes from the npm registry at bench time (`npm install
            pixi.js` into build/bench-npm unless --pixi names a copy); it is
            never part of the tree.
  canvas    a canvas 2D scene: a gradient, N rotated pictures, circles and
            boxes, a line of text, every frame.

The launcher reaches the game as a player does: its login page, a click on
the game link, the game window (maximised under the window manager the
bench starts, openbox, when it is installed). MiniBrowser opens the same
game address and its window is given the same size as the game window.

Figures, per scene and program, over one process tree:
  fps          requestAnimationFrame callbacks counted in the page and sent
               to the server every second; from 10 s after the scene started
               to a minute
  CPU          the tree's CPU time (schedstat) over the same window, % of a core
  PSS          summed over the tree a minute after the scene started, and
               split into the program's process and the engine's page,
               network and GPU processes
  private      the tree's private (unshared) memory at the minute: PSS
               moves when other programs on the machine map the same
               libraries, private memory does not
  long run     with --long-minutes M: the tree's PSS and private memory each
               minute of a run of M minutes (30 for the real figure), and
               their growth from the first minute to the last; fps over the
               whole run

Not run by CI. Starts its own Xvfb, window manager and server; stops what it
starts by pid.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
import urllib.parse

import bench_gtk as common
from bench_gtk import desktop, processes, fmt, GtkLauncher, MINIBROWSER, MARK, LINK, FRAME_CORNER

ROOT = common.ROOT
SIZE = (800, 600)
SETTLE_S = 10.0    # after the scene started, before frames are counted
LOGIN_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>登录页面</title>
<style>html, body { margin: 0; background: #00c000; font: 14px sans-serif; }
a { position: absolute; left: 40px; top: 40px; width: 240px; height: 30px;
    display: block; background: #ffff00; color: #000; }</style></head>
<body onload="%s"><a href="%s">进入游戏</a></body></html>
"""
# Shared by both scenes: errors and frame counts go to the server. The
# counter is a requestAnimationFrame loop of its own, so both scenes are
# counted the same way whatever drives their drawing.
SCENE_HEAD = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>游戏页面 %(scene)s</title>
<style>html, body { margin: 0; background: #203040; overflow: hidden; }
canvas { display: block; }</style>
<script>
function setClientTypeByVb() { return 1; }
var W = %(width)d, H = %(height)d, SCENE = "%(scene)s";
var N = +(new URLSearchParams(location.search).get("n")) || %(count)d;
function report(path) { new Image().src = path + "&r=" + Math.random(); }
window.onerror = function (m) {
  report("/error?scene=" + SCENE + "&msg=" + encodeURIComponent(String(m)));
};
function countFrames(info) {
  report("/ready?scene=" + SCENE + "&n=" + N + info);
  var frames = 0, last = performance.now();
  function tick(now) {
    frames++;
    if (now - last >= 1000) {
      report("/fps?scene=" + SCENE + "&frames=" + frames + "&ms=" + (now - last).toFixed(1));
      frames = 0;
      last = now;
    }
    requestAnimationFrame(tick);
  }
  requestAnimationFrame(tick);
}
</script>%(extra_head)s</head>
<body onload="%(mark)s">
"""
SPRITES = """<script>
(async function () {
  var app = new PIXI.Application();
  await app.init({ width: W, height: H, background: 0x1099bb, preference: "webgl",
                   antialias: false, resolution: 1 });
  document.body.appendChild(app.canvas);
  // The bunny, drawn here: the scene needs no file but the library.
  var c = document.createElement("canvas");
  c.width = 26; c.height = 37;
  var g = c.getContext("2d");
  g.fillStyle = "#fff";
  g.fillRect(7, 1, 4, 16); g.fillRect(15, 1, 4, 16);
  g.beginPath(); g.ellipse(13, 25, 11, 11, 0, 0, 2 * Math.PI); g.fill();
  g.fillStyle = "#222"; g.fillRect(9, 22, 2, 2); g.fillRect(15, 22, 2, 2);
  var texture = PIXI.Texture.from(c);
  var bunnies = [];
  for (var i = 0; i < N; i++) {
    var b = new PIXI.Sprite(texture);
    b.anchor.set(0.5, 1);
    b.x = Math.random() * W; b.y = Math.random() * H * 0.5;
    b.vx = Math.random() * 10; b.vy = Math.random() * 10 - 5;
    b.tint = [0xffffff, 0xffc0c0, 0xc0ffc0, 0xc0c0ff][i % 4];
    app.stage.addChild(b);
    bunnies.push(b);
  }
  app.ticker.add(function () {
    for (var i = 0; i < bunnies.length; i++) {
      var b = bunnies[i];
      b.x += b.vx; b.y += b.vy; b.vy += 0.75;
      if (b.x > W) { b.vx *= -1; b.x = W; } else if (b.x < 0) { b.vx *= -1; b.x = 0; }
      if (b.y > H) { b.vy *= -0.85; b.y = H; if (Math.random() > 0.5) b.vy -= Math.random() * 6; }
      else if (b.y < 0) { b.vy = 0; b.y = 0; }
    }
  });
  var gl = app.renderer.gl, renderer = "none";
  if (gl) {
    var debug = gl.getExtension("WEBGL_debug_renderer_info");
    renderer = gl.getParameter(debug ? debug.UNMASKED_RENDERER_WEBGL : gl.RENDERER);
  }
  countFrames("&api=" + encodeURIComponent(app.renderer.name || app.renderer.type) +
              "&gl=" + encodeURIComponent(renderer));
})();
</script></body></html>
"""
CANVAS = """<canvas id="scene"></canvas>
<script>
(function () {
  var canvas = document.getElementById("scene");
  canvas.width = W; canvas.height = H;
  var ctx = canvas.getContext("2d");
  var ball = document.createElement("canvas");
  ball.width = ball.height = 32;
  var b = ball.getContext("2d");
  var shade = b.createRadialGradient(12, 12, 2, 16, 16, 16);
  shade.addColorStop(0, "#fff"); shade.addColorStop(0.4, "#e0a020"); shade.addColorStop(1, "#402000");
  b.fillStyle = shade; b.beginPath(); b.arc(16, 16, 15, 0, 2 * Math.PI); b.fill();
  b.fillStyle = "#400"; b.fillRect(14, 2, 4, 12);
  var items = [];
  for (var i = 0; i < N; i++)
    items.push({ x: Math.random() * W, y: Math.random() * H, vx: Math.random() * 4 - 2,
                 vy: Math.random() * 4 - 2, a: Math.random() * 6.3, va: Math.random() * 0.2 - 0.1,
                 kind: i % 3, colour: "hsla(" + (i * 37 % 360) + ", 80%, 60%, 0.8)",
                 size: 4 + i % 12 });
  var sky = ctx.createLinearGradient(0, 0, 0, H);
  sky.addColorStop(0, "#102040"); sky.addColorStop(1, "#6080a0");
  var frames = 0;
  function frame() {
    ctx.fillStyle = sky;
    ctx.fillRect(0, 0, W, H);
    for (var i = 0; i < items.length; i++) {
      var it = items[i];
      it.x += it.vx; it.y += it.vy; it.a += it.va;
      if (it.x < 0 || it.x > W) it.vx = -it.vx;
      if (it.y < 0 || it.y > H) it.vy = -it.vy;
      if (it.kind === 0) {
        ctx.save(); ctx.translate(it.x, it.y); ctx.rotate(it.a);
        ctx.drawImage(ball, -16, -16); ctx.restore();
      } else if (it.kind === 1) {
        ctx.fillStyle = it.colour; ctx.beginPath();
        ctx.arc(it.x, it.y, it.size, 0, 2 * Math.PI); ctx.fill();
      } else {
        ctx.fillStyle = it.colour; ctx.fillRect(it.x, it.y, it.size * 2, it.size);
      }
    }
    ctx.fillStyle = "#fff"; ctx.font = "16px sans-serif";
    ctx.fillText("第 " + (++frames) + " 帧", 10, 20);
    requestAnimationFrame(frame);
  }
  requestAnimationFrame(frame);
  countFrames("&api=canvas2d");
})();
</script></body></html>
"""
SCENES = {"sprites": (SPRITES, '<script src="/files/pixi.min.js"></script>', 1000),
          "canvas": (CANVAS, "", 600)}


def scene_page(scene):
    body, extra_head, count = SCENES[scene]
    return SCENE_HEAD % {"scene": scene, "width": SIZE[0], "height": SIZE[1], "count": count,
                         "extra_head": extra_head, "mark": MARK % "game"} + body


def pixi_library(folder):
    """The browser build of pixi.js, installed from the npm registry into
    `folder` the first time."""
    path = os.path.join(folder, "node_modules", "pixi.js", "dist", "pixi.min.js")
    if not os.path.exists(path):
        os.makedirs(folder, exist_ok=True)
        print("npm install pixi.js into %s" % folder, file=sys.stderr, flush=True)
        r = subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--prefix", folder,
                            "pixi.js"], capture_output=True, text=True, timeout=600)
        if r.returncode != 0 or not os.path.exists(path):
            desktop.fail("npm install pixi.js failed:\n" + r.stdout + r.stderr)
    with open(os.path.join(folder, "node_modules", "pixi.js", "package.json")) as f:
        version = next((line.split('"')[3] for line in f if '"version"' in line), "?")
    with open(path, "rb") as f:
        return f.read(), version


class WindowManager:
    """openbox on the display, stopped by pid; nothing when it is missing
    (the game window then keeps its own size: nothing maximises it)."""

    def __init__(self, display):
        self.display, self.proc = display, None

    def __enter__(self):
        if shutil.which("openbox"):
            env = dict(os.environ, DISPLAY=self.display)
            self.folder = desktop.scratch_dir("bench-wm-")
            env.update(HOME=self.folder, XDG_CONFIG_HOME=self.folder)
            self.proc = desktop.spawn(["openbox", "--sm-disable"], env=env)
            time.sleep(1.0)
            if self.proc.poll() is not None:
                self.proc = None
        return self

    def __exit__(self, *exc):
        desktop.stop(self.proc)
        if self.proc:
            shutil.rmtree(self.folder, ignore_errors=True)


class GameBench(common.Bench):
    def __init__(self, args, display, srv):
        super().__init__(args, display, srv)
        self.game_size = None  # the launcher's game window, client area

    def env(self, run):
        env = super().env(run)
        extra = self.args.launcher_env if run.exe.endswith("launcher") else self.args.reference_env
        for item in extra:
            key, _, value = item.partition("=")
            env[key] = value
        return env

    def scene_url(self, scene):
        return self.srv.url("/game-%s.html?token=abc&n=%d" % (scene, self.args.count[scene]))

    def ready(self, scene, after, proc):
        t = self.srv.first("/ready?scene=" + scene, after, 60, proc)
        target = next(x for s, x, _ in self.srv.stamps if s == t and x.startswith("/ready"))
        errors = [x for s, x, _ in list(self.srv.stamps) if s >= after and x.startswith("/error")]
        if errors:
            desktop.fail("the %s scene failed: %s" % (scene, urllib.parse.unquote(errors[0])))
        return t, dict(urllib.parse.parse_qsl(target.split("?", 1)[1]))

    def launcher(self, scene, minutes):
        with GtkLauncher(self.args.launcher) as run:
            self.srv.pages["/login-%s.html" % scene] = (
                LOGIN_PAGE % (MARK % "login", self.scene_url(scene))).encode()
            run.write_ini("[common]\nversion=1.0\nversionCheckUrl=%s\n"
                          "[platform]\nloginUrl=%s\nmainUrl=%s\n[install]\ninstallTime=x\n"
                          % (self.srv.url("/version/1.0"), self.srv.url("/login-%s.html" % scene),
                             self.srv.url("/game-")))
            t0 = self.spawn(run, [run.exe])
            self.srv.first("/loaded?page=login", t0, 30, run.proc)
            login = desktop.wait_for(lambda: run.login_window(), 10, "the login window")
            lx, ly = run.geometry(login)[:2]
            desktop.xdotool(self.display, "mousemove", str(lx + FRAME_CORNER[0] + LINK[0]),
                            str(ly + FRAME_CORNER[1] + LINK[1]))
            time.sleep(0.2)
            clicked = time.monotonic()
            desktop.xdotool(self.display, "click", "1")
            started, info = self.ready(scene, clicked, run.proc)
            game = run.wait_window("^游戏页面 %s$" % scene, 20)
            self.game_size = run.geometry(game)[2:]
            return self.sample(run.proc, started, minutes, info, "launcher-" + scene)

    def minibrowser(self, scene, minutes):
        with GtkLauncher(MINIBROWSER) as run:
            t0 = self.spawn(run, [run.exe, self.scene_url(scene)])
            window = run.wait_window("游戏页面 %s" % scene, 30)
            if self.game_size:
                desktop.xdotool(self.display, "windowsize", window, *map(str, self.game_size))
            started, info = self.ready(scene, t0, run.proc)
            return self.sample(run.proc, started, minutes, info, "minibrowser-" + scene)

    def sample(self, proc, started, minutes, info, name):
        """fps and CPU from SETTLE_S to a minute after the scene started, the
        tree's PSS at the minute, and with `minutes` its PSS each minute of
        a run that long."""
        pid = proc.pid
        r = {"size": "%dx%d" % tuple(self.game_size or (0, 0)), "info": info}
        sleep_until(started + SETTLE_S)
        cpu0, t0 = common.cpu_ns(processes.descendants(pid)), time.monotonic()
        sleep_until(started + self.args.minute)
        r["cpu"] = 100.0 * (common.cpu_ns(processes.descendants(pid)) - cpu0) / 1e9 / \
            (time.monotonic() - t0)
        r["fps"] = self.fps(started + SETTLE_S, started + self.args.minute)
        r.update(tree_memory(pid))
        if self.args.screenshots:
            os.makedirs(self.args.screenshots, exist_ok=True)
            desktop.screenshot(self.display, os.path.join(self.args.screenshots, name + ".png"))
        if minutes:
            r["pss_minutes"], r["private_minutes"] = [r["pss"]], [r["private"]]
            for m in range(2, int(minutes) + 1):
                sleep_until(started + m * self.args.minute)
                if proc.poll() is not None:
                    desktop.fail("the program ended during the long run")
                now = tree_memory(pid)
                r["pss_minutes"].append(now["pss"])
                r["private_minutes"].append(now["private"])
                print("  minute %d: PSS %.1f MiB, private %.1f MiB" % (m, now["pss"], now["private"]),
                      file=sys.stderr, flush=True)
            r["fps_long"] = self.fps(started + SETTLE_S, started + minutes * self.args.minute)
        return r

    def fps(self, start, end):
        frames = ms = 0.0
        for t, target, _ in list(self.srv.stamps):
            if start <= t <= end and target.startswith("/fps?"):
                q = dict(urllib.parse.parse_qsl(target.split("?", 1)[1]))
                frames += float(q["frames"])
                ms += float(q["ms"])
        return 1000.0 * frames / ms if ms else 0.0


def sleep_until(t):
    time.sleep(max(0.0, t - time.monotonic()))


def private_mib(pids):
    """Private (unshared) memory of the processes, in MiB: unlike PSS it does
    not move when other programs on the machine map the same libraries."""
    kib = 0
    for p in pids:
        try:
            with open("/proc/%d/smaps_rollup" % p) as f:
                kib += sum(int(line.split()[1]) for line in f
                           if line.startswith(("Private_Clean:", "Private_Dirty:")))
        except OSError:
            continue
    return kib / 1024.0


def tree_memory(pid):
    """common.tree_memory with the engine's GPU process apart, and the tree's
    private memory."""
    r = common.tree_memory(pid)
    r["pss_gpu"] = 0.0
    tree = processes.descendants(pid)
    for p in tree:
        if (processes.name(p) or "").startswith("WebKitGPU"):
            gpu = processes.memory_kib([p])[1] / 1024.0
            r["pss_gpu"] += gpu
            r["pss_ui"] -= gpu
    r["private"] = private_mib(tree)
    return r


ROWS = [  # key, label, unit
    ("fps", "frames a second", "fps"),
    ("cpu", "CPU (tree)", "%"),
    ("pss", "PSS after a minute (tree)", "MiB"),
    ("pss_ui", "  of it: the program's process", "MiB"),
    ("pss_web", "  the page process", "MiB"),
    ("pss_net", "  the network process", "MiB"),
    ("pss_gpu", "  the GPU process", "MiB"),
    ("rss", "RSS after a minute (tree)", "MiB"),
    ("private", "private memory after a minute (tree)", "MiB"),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("launcher", nargs="?", default=os.path.join(ROOT, "build", "gtk", "launcher"))
    parser.add_argument("--runs", type=int, default=2, help="measured rounds (after one warm-up)")
    parser.add_argument("--scenes", default="sprites,canvas")
    parser.add_argument("--sprites", type=int, default=SCENES["sprites"][2], help="bunnies")
    parser.add_argument("--canvas-items", type=int, default=SCENES["canvas"][2])
    parser.add_argument("--long-minutes", type=int, default=2,
                        help="length of the long run (30 for the real figure; 0: none)")
    parser.add_argument("--long-scene", default="sprites")
    parser.add_argument("--long-programs", default="launcher,minibrowser")
    parser.add_argument("--pixi", default=os.path.join(ROOT, "build", "bench-npm"),
                        help="folder to install pixi.js into (npm)")
    parser.add_argument("--launcher-env", action="append", default=[], metavar="KEY=VALUE",
                        help="an environment variable for the launcher (a trial build's switch)")
    parser.add_argument("--reference-env", action="append", default=[], metavar="KEY=VALUE",
                        help="an environment variable for MiniBrowser")
    parser.add_argument("--screenshots", metavar="FOLDER",
                        help="a picture of the screen at each minute's reading")
    parser.add_argument("--minute", type=float, default=60.0,
                        help="seconds in a minute: less only to try the bench out")
    common.add_quiet_options(parser)
    args = parser.parse_args()
    args.launcher = os.path.abspath(args.launcher)
    args.count = {"sprites": args.sprites, "canvas": args.canvas_items}
    scenes = [s for s in args.scenes.split(",") if s]
    if any(s not in SCENES for s in scenes):
        desktop.fail("scenes: %s" % ", ".join(SCENES))
    for exe in (args.launcher, MINIBROWSER):
        if not os.access(exe, os.X_OK):
            desktop.fail("no program at %s (build the gtk preset; libwebkit2gtk-4.1-0)" % exe)
    pixi, pixi_version = pixi_library(args.pixi) if "sprites" in scenes or \
        (args.long_minutes and args.long_scene == "sprites") else (b"", "-")

    load_before = common.wait_for_quiet(args.quiet_load, args.quiet_minutes)
    common.set_own_niceness(args)
    programs = ("launcher", "minibrowser")
    figures = {(s, p): {k: [] for k, *_ in ROWS} for s in scenes for p in programs}
    infos, long_runs = {}, {}
    rounds = args.runs + 1
    lifetime = 300 + rounds * len(scenes) * 2 * 90 + args.long_minutes * 2 * 70
    with desktop.Xvfb() as display, WindowManager(display) as wm, \
            common.StampedServer(lifetime=lifetime) as srv:
        srv.files["pixi.min.js"] = pixi
        for scene in SCENES:
            srv.pages["/game-%s.html" % scene] = scene_page(scene).encode()
        bench = GameBench(args, display, srv)
        try:
            for round_ in range(rounds):
                for scene in scenes:
                    # Alternated; the launcher goes first in the warm-up,
                    # which tells the game window's size to MiniBrowser.
                    order = list(programs) if round_ % 2 == 0 else list(reversed(programs))
                    for program in order:
                        r = getattr(bench, program)(scene, 0)
                        infos[(scene, program)] = (r["info"], r["size"])
                        if round_ > 0:
                            for k, *_ in ROWS:
                                figures[(scene, program)][k].append(r[k])
                        print("%s %s %s: %.1f fps, PSS %.0f MiB" % (
                            "warm-up" if round_ == 0 else "round %d" % round_, scene, program,
                            r["fps"], r["pss"]), file=sys.stderr, flush=True)
            if args.long_minutes:
                for program in args.long_programs.split(","):
                    long_runs[program] = getattr(bench, program)(args.long_scene,
                                                                 args.long_minutes)
                    print("long run %s done" % program, file=sys.stderr, flush=True)
        finally:
            bench.screen.close()
        window_manager = "openbox" if wm.proc else "none"

    print("\n%d rounds after a warm-up; launcher %s; reference: MiniBrowser; pixi.js %s; "
          "window manager: %s" % (args.runs, args.launcher, pixi_version, window_manager))
    print("load average (1 min) before: %.2f, after: %.2f%s" % (
        load_before, os.getloadavg()[0], "" if args.nice is None else "; niceness %d" % args.nice))
    for item in args.launcher_env:
        print("launcher environment: " + item)
    for item in args.reference_env:
        print("MiniBrowser environment: " + item)
    for scene in scenes:
        for program in programs:
            info, size = infos.get((scene, program), ({}, "?"))
            print("%s, %s: window %s, %s" % (scene, program, size, ", ".join(
                "%s=%s" % kv for kv in sorted(info.items()) if kv[0] != "r")))
    print("\n%-34s %-5s %-26s %-26s %s" % ("figure", "unit", "launcher med/min/max",
                                           "MiniBrowser med/min/max", "ratio"))
    for scene in scenes:
        print("-- %s (%d %s)" % (scene, args.count[scene],
                                 "sprites" if scene == "sprites" else "items"))
        ours, ref = figures[(scene, "launcher")], figures[(scene, "minibrowser")]
        for key, label, unit in ROWS:
            ratio = "-"
            if ours[key] and ref[key] and statistics.median(ref[key]):
                ratio = "%.2f" % (statistics.median(ours[key]) / statistics.median(ref[key]))
            print("%-34s %-5s %s   %s   %s" % (label, unit, fmt(ours[key]), fmt(ref[key]), ratio))
    if long_runs:
        print("\nlong run, %s scene, %d minutes:" % (args.long_scene, args.long_minutes))
        for program, r in long_runs.items():
            print("%-12s %.1f fps over the run" % (program, r["fps_long"]))
            for kind in ("pss", "private"):
                values = r[kind + "_minutes"]
                first, last = values[0], values[-1]
                print("%-12s %-7s at minute 1 %.1f MiB, at minute %d %.1f MiB: growth %+.1f %%"
                      % ("", kind, first, args.long_minutes, last, 100.0 * (last - first) / first))
                print("%-12s %-7s each minute: %s" % ("", "", " ".join("%.0f" % v for v in values)))


if __name__ == "__main__":
    main()
