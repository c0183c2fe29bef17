#!/usr/bin/env python3
"""Makes the README's screenshots from the running programs under Xvfb (1280x800).

Usage: scripts/screenshots.py [BUILD_DIR] [--lang en|de|zh_CN|...] [--out docs/screenshots] [--extra]

Shots: the main window with a labelled image and pending results, the auto-label dialog, the check
results, and Brindlehost's settings dialog (through its tray menu, with trayer as the tray).
Needs Xvfb, xdotool, ImageMagick and trayer (scripts/packages.txt).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from e2e_session import App, Display, stop_programs  # noqa: E402


def run(*args, **kwargs):
    return subprocess.run(list(args), check=True, **kwargs)


def make_scene(path, sky, ground, objects, size=(1280, 960)):
    """A simple street-like picture: sky, ground and a few solid objects to be labelled."""
    w, h = size
    draw = []
    for kind, colour, box in objects:
        x1, y1, x2, y2 = box
        if kind == "person":
            draw += ["-fill", colour, "-draw", "roundrectangle %d,%d %d,%d 18,18" % (x1, y1 + 40, x2, y2),
                     "-draw", "circle %d,%d %d,%d" % ((x1 + x2) // 2, y1 + 30, (x1 + x2) // 2, y1 + 4)]
        else:
            draw += ["-fill", colour, "-draw", "roundrectangle %d,%d %d,%d 24,24" % box,
                     "-fill", "#222222", "-draw", "circle %d,%d %d,%d" % (x1 + 50, y2, x1 + 50, y2 - 28),
                     "-draw", "circle %d,%d %d,%d" % (x2 - 50, y2, x2 - 50, y2 - 28)]
    run("convert", "-size", "%dx%d" % (w, h // 2), "gradient:%s" % sky,
        "(", "-size", "%dx%d" % (w, h - h // 2), "gradient:%s" % ground, ")", "-append",
        "-attenuate", "0.25", "+noise", "Gaussian", *draw, path)


class Shots:
    def __init__(self, build, lang, out, extra=False):
        self.extra = extra
        self.build = build
        self.lang = lang
        self.out = out
        self.root = tempfile.mkdtemp(prefix="brindle-shots-")
        self.data = os.path.join(self.root, "street")
        self.home = os.path.join(self.root, "home")

    def environment(self, display):
        env = dict(os.environ)
        for key in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            env.pop(key, None)
        runtime = os.path.join(self.home, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        os.makedirs(os.path.join(self.home, ".local", "share"), exist_ok=True)
        env.update({"HOME": self.home, "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
                    "XDG_RUNTIME_DIR": runtime, "DISPLAY": display.name, "LANG": "C.UTF-8",
                    "QT_LOGGING_RULES": "brindlemark.timing.debug=true"})
        config = os.path.join(self.home, ".config", "Brindlemark")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "Brindlemark.conf"), "w") as f:
            f.write("[General]\nlanguage=%s\nlabels=car, person, bicycle\n\n[model]\nbase=http://127.0.0.1:%d/v1\n"
                    "name=fake-vision\n" % (self.lang, self.port))
        with open(os.path.join(config, "Brindlehost.conf"), "w") as f:
            f.write("[General]\nport=8000\n")
        return env

    def dataset(self):
        os.makedirs(os.path.join(self.data, "annotations"))
        scenes = [
            ("street1.png", "#8fb8e8-#dfe9f5", "#6f7a63-#4d5546",
             [("car", "#c0392b", (120, 560, 520, 780)), ("car", "#2e86c1", (700, 600, 1080, 800)),
              ("person", "#f0b27a", (560, 430, 660, 760))]),
            ("street2.png", "#f5cba7-#fbeee6", "#7d6e5d-#574b3f",
             [("car", "#27ae60", (300, 580, 760, 820)), ("person", "#a569bd", (900, 420, 1000, 760))]),
            ("street3.png", "#aed6f1-#ebf5fb", "#566573-#2c3e50",
             [("car", "#f4d03f", (160, 600, 520, 800)), ("person", "#e59866", (760, 440, 860, 780))]),
        ]
        for name, sky, ground, objects in scenes:
            make_scene(os.path.join(self.data, name), sky, ground, objects)
        # street1: two confirmed boxes, and the model's two suggestions waiting for a decision.
        with open(os.path.join(self.data, "annotations", "street1.xml"), "w") as f:
            f.write("<annotation><object><name>car</name><bndbox><xmin>118</xmin><ymin>552</ymin><xmax>523"
                    "</xmax><ymax>810</ymax></bndbox></object><object><name>person</name><bndbox><xmin>556"
                    "</xmin><ymin>402</ymin><xmax>664</xmax><ymax>762</ymax></bndbox></object></annotation>")
        pending = {"pending": {os.path.join(self.data, "street1.png"): [
            {"b": [696, 592, 1084, 830], "c": 0.91, "d": 0, "l": "car", "t": "r"},
            {"b": [40, 380, 110, 520], "c": 0.47, "d": 0, "l": "bicycle", "t": "r"}]}, "version": 1}
        with open(os.path.join(self.data, ".brindle_pending.json"), "w") as f:
            json.dump(pending, f)
        # street3: a box outside the image and a duplicate, for the check.
        with open(os.path.join(self.data, "annotations", "street3.xml"), "w") as f:
            f.write("<annotation><object><name>car</name><bndbox><xmin>150</xmin><ymin>590</ymin><xmax>1300"
                    "</xmax><ymax>805</ymax></bndbox></object><object><name>person</name><bndbox><xmin>756"
                    "</xmin><ymin>430</ymin><xmax>866</xmax><ymax>790</ymax></bndbox></object><object><name>"
                    "person</name><bndbox><xmin>757</xmin><ymin>431</ymin><xmax>866</xmax><ymax>790</ymax>"
                    "</bndbox></object></annotation>")

    def translate(self, text):
        """The program's text in the shots' language, from its dictionary."""
        path = os.path.join(ROOT, "shared", "i18n", "%s.json" % self.lang)
        if self.lang == "zh_CN" or not os.path.exists(path):
            return text
        with open(path, encoding="utf-8") as f:
            return json.load(f).get(text, text)

    def xdo(self, *args):
        return subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, capture_output=True,
                              text=True).stdout.strip()

    def window(self, name, timeout=15):
        end = time.time() + timeout
        while time.time() < end:
            ids = self.xdo("search", "--onlyvisible", "--name", name).split()
            if ids:
                return ids[-1]
            time.sleep(0.2)
        raise RuntimeError("no window " + name)

    def shoot(self, name, window=None):
        target = ["-window", window] if window else ["-window", "root"]
        run("import", *target, os.path.join(self.out, "%s-%s.png" % (name, self.lang)), env=self.env)
        print("wrote", os.path.join(self.out, "%s-%s.png" % (name, self.lang)))

    def main_window(self):
        app = App([os.path.join(self.build, "bin", "Brindlemark"), os.path.join(self.data, "street1.png")], self.env)
        app.wait_for("image painted", 30)
        app.wait_for("thumbnails done", 30)
        main = self.window("^Brindlemark")
        self.xdo("windowfocus", "--sync", main)
        time.sleep(0.5)
        self.xdo("key", "d")   # select the first pending result
        time.sleep(1.0)
        self.shoot("main-window")

        self.xdo("key", "Escape")
        time.sleep(0.3)
        self.xdo("key", "ctrl+g")
        time.sleep(2.0)   # drawn inside the main window: there is no window of its own to wait for
        self.shoot("auto-label-dialog")
        if self.extra:
            self.xdo("key", "ctrl+Tab")   # the model settings tab
            time.sleep(0.8)
            self.shoot("auto-label-settings")
        self.xdo("key", "Escape")
        time.sleep(0.5)
        if self.extra:
            self.xdo("windowfocus", "--sync", main)
            self.xdo("key", "F1")
            time.sleep(1.5)
            self.shoot("shortcuts")
            self.xdo("key", "Escape")
            time.sleep(0.5)
            app.process.kill()
            return

        self.xdo("windowfocus", "--sync", main)
        self.xdo("mousemove", "--sync", 745 if self.lang == "en" else 675, 52)
        self.xdo("click", 1)
        dialog = self.window("^(Check Labels|检查标注)$", 20)
        time.sleep(6.0)   # the model half of the check
        self.xdo("windowmove", dialog, 210, 140)
        time.sleep(0.8)
        self.shoot("check-results")
        app.process.kill()

    def host_settings(self):
        tray = subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                                 "--width", "120", "--height", "28", "--transparent", "false", "--tint", "0x262A33"],
                                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.0)
        host = subprocess.Popen([os.path.join(self.build, "bin", "Brindlehost")], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(2.0)
        # trayer puts the icon at the right end of its strip in the top-right corner.
        self.xdo("mousemove", "--sync", 1268, 14)
        self.xdo("click", 1)
        time.sleep(1.0)
        # The menu opens down from the icon; its sixth row is the settings entry.
        self.xdo("key", "Down", "Down", "Down", "Return")
        try:
            dialog = self.window("Brindlehost", 10)
        except RuntimeError:
            self.shoot("tray-debug")
            raise
        time.sleep(1.0)
        self.shoot("brindlehost-settings", dialog)
        host.kill()
        tray.kill()

    def run(self):
        os.makedirs(self.out, exist_ok=True)
        self.dataset()
        server = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests", "e2e", "fake_openai_server.py")],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.port = int(server.stdout.readline())
        display = Display()
        self.env = self.environment(display)
        try:
            self.main_window()
            if not self.extra:
                self.host_settings()
        finally:
            server.kill()
            display.close()
            stop_programs(os.path.join(self.build, "bin", "Brindlehost"))
            shutil.rmtree(self.root, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build"))
    parser.add_argument("--lang", default="en")
    parser.add_argument("--out", default=os.path.join(ROOT, "docs", "screenshots"))
    parser.add_argument("--extra", action="store_true",
                        help="also the settings tab and the F1 list, instead of the check and Brindlehost")
    args = parser.parse_args()
    Shots(os.path.abspath(args.build), args.lang, os.path.abspath(args.out), args.extra).run()


if __name__ == "__main__":
    main()
