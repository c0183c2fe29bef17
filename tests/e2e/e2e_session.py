#!/usr/bin/env python3
"""A labelling session with the installed programs, driven like a person would.

Installs the build into a temporary prefix, starts the installed Brindlemark under Xvfb (1280x800)
with openbox as the window manager, in a fresh HOME, and with xdotool: opens a folder from the
command line, draws a box and names it (the image must not move on screen), nudges it with the
arrow keys, undoes with Ctrl+Z and redoes with Ctrl+Y, saves with Ctrl+S, steps to the next image
with PageDown while the box is selected, pre-labels with a fake OpenAI-compatible server, confirms
a result with Enter and rejects the next with Esc (which goes on to the next image with results),
chooses the next box's category with a number key right after drawing and relabels a clicked box
with one, runs the label check and opens an image from its dialog (the window must come to the
front), then closes with unsaved edits and answers "save and quit". The files on disk are then
read back with brindlemark-cli.

Exit 0 when everything holds, 1 on a failure, 77 (skipped) when Xvfb, xdotool or openbox is missing.

Usage: e2e_session.py BUILD_DIR [--keep]
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))


class Failure(Exception):
    pass


def stop_programs(executable):
    """Ends the processes running this executable (the companion the program started), by id."""
    target = os.path.realpath(executable)
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if os.path.realpath("/proc/%s/exe" % pid) == target:
                os.kill(int(pid), signal.SIGTERM)
        except OSError:
            pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Display:
    """An Xvfb of our own; the display number is picked by the server."""

    def __init__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        with os.fdopen(read, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        self.name = ":" + number.decode().strip()

    def close(self):
        self.process.terminate()
        self.process.wait(10)


class App:
    """The program under test; its stderr (with the timing log) is collected line by line."""

    def __init__(self, argv, env):
        self.lines = []
        self.lock = threading.Lock()
        self.process = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True, start_new_session=True)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stderr:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def wait_for(self, text, timeout=20, after=0):
        """Waits for a log line containing text, among the lines from index `after` on."""
        end = time.time() + timeout
        while time.time() < end:
            with self.lock:
                for i in range(after, len(self.lines)):
                    if text in self.lines[i]:
                        return i
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        raise Failure("no log line with %r; last lines: %s" % (text, self.lines[-8:]))

    def count(self):
        with self.lock:
            return len(self.lines)


class Session:
    def __init__(self, build, keep):
        self.build = build
        self.keep = keep
        self.root = tempfile.mkdtemp(prefix="brindle-e2e-")
        self.prefix = os.path.join(self.root, "prefix")
        self.data = os.path.join(self.root, "photos")
        self.home = os.path.join(self.root, "home")
        self.display = None
        self.server = None
        self.app = None
        self.wm = None

    # --- set-up --------------------------------------------------------------------------

    def install(self):
        result = subprocess.run(["cmake", "--install", self.build, "--prefix", self.prefix],
                                capture_output=True, text=True)
        check(result.returncode == 0, "cmake --install failed: " + result.stderr[-2000:])
        for program in ("Brindlemark", "Brindlehost", "brindlemark-cli"):
            check(os.access(os.path.join(self.prefix, "bin", program), os.X_OK), program + " not installed")
        desktop = os.path.join(self.prefix, "share", "applications", "brindlemark.desktop")
        check(os.path.exists(desktop), "no .desktop entry installed")

    def make_dataset(self):
        os.makedirs(self.data)
        colours = ["#4a6b8a", "#6b8a4a", "#8a4a6b"]
        for i, colour in enumerate(colours, 1):
            subprocess.run(["convert", "-size", "640x480", "xc:" + colour,
                            os.path.join(self.data, "photo%d.png" % i)], check=True)
        # photo3 has a box too small to be right: the label check must find it.
        os.makedirs(os.path.join(self.data, "annotations"))
        with open(os.path.join(self.data, "annotations", "photo3.xml"), "w") as f:
            f.write("<annotation><object><name>dot</name><bndbox><xmin>10</xmin><ymin>10</ymin>"
                    "<xmax>11</xmax><ymax>40</ymax></bndbox></object></annotation>")

    def start_server(self):
        self.server = subprocess.Popen([sys.executable, os.path.join(HERE, "fake_openai_server.py")],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.port = int(self.server.stdout.readline())

    def environment(self):
        env = dict(os.environ)
        for key in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            env.pop(key, None)
        runtime = os.path.join(self.home, "runtime")
        os.makedirs(runtime, mode=0o700)
        os.makedirs(os.path.join(self.home, ".local", "share"))
        env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_RUNTIME_DIR": runtime,
            "DISPLAY": self.display.name,
            "QT_LOGGING_RULES": "brindlemark.timing.debug=true",
            "LANG": "C.UTF-8",
        })
        config = os.path.join(self.home, ".config", "Brindlemark")
        os.makedirs(config)
        with open(os.path.join(config, "Brindlemark.conf"), "w") as f:
            f.write("[General]\nlanguage=en\n\n[model]\nbase=http://127.0.0.1:%d/v1\nname=fake-vision\n" % self.port)
        return env

    # --- driving ----------------------------------------------------------------------------

    def xdo(self, *args):
        result = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, capture_output=True, text=True)
        check(result.returncode == 0, "xdotool %s failed: %s" % (" ".join(map(str, args)), result.stderr))
        return result.stdout.strip()

    def key(self, *keys, pause=0.25):
        for k in keys:
            self.xdo("key", k)
            time.sleep(pause)

    def window(self, name):
        ids = self.xdo("search", "--sync", "--onlyvisible", "--name", name).split()
        check(ids, "no window named " + name)
        return ids[-1]

    def focus_main(self):
        self.xdo("windowactivate", "--sync", self.window("^Brindlemark"))
        time.sleep(0.3)

    def origin(self):
        """Where the main window's contents start on screen (the window manager frames it)."""
        geometry = self.xdo("getwindowgeometry", self.window("^Brindlemark"))
        position = [line for line in geometry.splitlines() if "Position" in line][0]
        x, y = [int(v) for v in position.split()[1].split(",")]
        return x, y

    def name_shape(self, label):
        """Answers the category prompt that drawing a shape brings up."""
        self.window("Enter Category")
        self.xdo("type", "--delay", 60, label)
        self.key("Return")
        self.focus_main()   # a window manager gives the focus back when a dialog closes

    def until(self, what, condition, timeout=15):
        end = time.time() + timeout
        while time.time() < end:
            value = condition()
            if value:
                return value
            time.sleep(0.2)
        raise Failure(what)

    def drag(self, x1, y1, x2, y2, shift=False):
        """A drag between two points of the main window, with Shift held when asked."""
        ox, oy = self.origin()
        x1, y1, x2, y2 = x1 + ox, y1 + oy, x2 + ox, y2 + oy
        self.xdo("mousemove", "--sync", x1, y1)
        if shift:
            self.xdo("keydown", "shift")
        self.xdo("mousedown", 1)
        for i in range(1, 6):
            self.xdo("mousemove", "--sync", x1 + (x2 - x1) * i // 5, y1 + (y2 - y1) * i // 5)
        self.xdo("mouseup", 1)
        if shift:
            self.xdo("keyup", "shift")
        time.sleep(0.3)

    def click(self, x, y, repeat=1, screen=False):
        """A click on a point of the main window (of the screen with screen=True)."""
        if not screen:
            ox, oy = self.origin()
            x, y = x + ox, y + oy
        self.xdo("mousemove", "--sync", x, y)
        self.xdo("click", "--repeat", repeat, "--delay", 80, 1)
        time.sleep(0.4)

    def snap(self, name):
        """A screenshot for people debugging the test (E2E_SHOTS=DIR)."""
        folder = os.environ.get("E2E_SHOTS")
        if folder:
            subprocess.run(["import", "-window", "root", os.path.join(folder, name + ".png")], env=self.env)

    def cli(self, *args):
        result = subprocess.run([os.path.join(self.prefix, "bin", "brindlemark-cli")] + list(args),
                                env=self.env, capture_output=True, text=True)
        return result.returncode, [json.loads(line) for line in result.stdout.splitlines() if line.startswith("{")]

    def image(self, n):
        return os.path.join(self.data, "photo%d.png" % n)

    def shown(self, n, after=0, timeout=20):
        return self.app.wait_for("image painted " + self.image(n), timeout, after)

    def image_left(self, colour, y=400):
        """The screen x where the image of this colour starts on row y, from a screenshot."""
        shot = os.path.join(self.root, "row.png")
        subprocess.run(["import", "-window", "root", "-crop", "1280x1+0+%d" % y, "+repage", shot],
                       env=self.env, check=True)
        rgb = subprocess.run(["convert", shot, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
        want = tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))
        for x in range(len(rgb) // 3):
            if all(abs(rgb[3 * x + i] - want[i]) <= 6 for i in range(3)):
                return x
        raise Failure("no image of colour %s on row %d" % (colour, y))

    def saved_left(self, n):
        code, shown = self.cli("show", self.image(n))
        check(code == 0 and shown[0]["count"] >= 1, "photo%d has no saved box" % n)
        return shown[0]["annotations"][0]["rect"][0]

    # --- the session --------------------------------------------------------------------------

    def run(self):
        self.install()
        self.make_dataset()
        self.start_server()
        self.display = Display()
        self.env = self.environment()
        # A desktop's window manager: it hands the focus back when a dialog closes, and keeps a
        # dialog above the window it belongs to.
        self.wm = subprocess.Popen(["openbox"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.0)
        self.app = App([os.path.join(self.prefix, "bin", "Brindlemark"), self.data], self.env)

        # Open a folder from the command line: the first image is shown.
        self.shown(1)
        self.focus_main()
        image_left = self.image_left("#4a6b8a")

        # Draw a box on the canvas and name it: the image stays where it is on screen.
        self.drag(420, 300, 580, 420)
        self.snap("1-drawn")
        self.name_shape("kite")
        time.sleep(0.5)
        check(self.image_left("#4a6b8a") == image_left, "the image moved on screen after the first box")
        # Click it (a box just drawn is not the arrows' until picked), nudge it three pixels to the
        # right and save; undo the nudges (one step), save; redo with Ctrl+Y, save.
        self.click(500, 360)
        self.key("Right", "Right", "Right")
        self.key("ctrl+s")
        self.snap("3-saved")
        code, shown = self.until("the box was not saved",
                                 lambda: (lambda r: r if r[0] == 0 and r[1][0]["count"] == 1 else None)(
                                     self.cli("show", self.image(1))))
        kite = shown[0]["annotations"][0]
        check(kite["label"] == "kite", "the box is named %r" % kite["label"])
        drawn_left = kite["rect"][0]
        self.key("ctrl+z", "ctrl+s")
        check(abs(self.saved_left(1) - (drawn_left - 3)) < 1e-6, "Ctrl+Z did not undo the nudges")
        self.key("ctrl+y", "ctrl+s")
        check(abs(self.saved_left(1) - drawn_left) < 1e-6, "Ctrl+Y did not redo the nudges")
        # With Shift held, a drag that starts on the box draws a second box instead of moving it.
        self.drag(500, 360, 620, 460, shift=True)
        # Bounded: a drag that moved the box brings no prompt, and a search that waits would hang.
        self.until("Shift+drag on the box brought no category prompt",
                   lambda: subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Enter Category"],
                                          env=self.env, capture_output=True).returncode == 0, timeout=10)
        self.name_shape("kite")
        self.key("ctrl+s")
        code, shown = self.cli("show", self.image(1))
        check(code == 0 and shown[0]["count"] == 2, "Shift+drag on the box did not draw a second one: %s" % shown)
        check(abs(self.saved_left(1) - drawn_left) < 1e-6, "Shift+drag on the box moved it")
        self.key("ctrl+z", "ctrl+s")   # photo1 goes on with its one box
        code, shown = self.cli("show", self.image(1))
        check(code == 0 and shown[0]["count"] == 1, "Ctrl+Z did not take the second box back: %s" % shown)

        # PageDown steps to the next image although the box is still selected.
        mark = self.app.count()
        self.key("Next")
        self.shown(2, mark)

        # Pre-label every image with the fake server.
        self.key("ctrl+g", pause=1.5)
        # The dialog is drawn inside the main window (no window of its own), its card in the
        # middle of it, the category prompt there and focused.
        # Without a prompt the model may only use the known categories: ask for cars and people.
        geometry = self.xdo("getwindowgeometry", self.window("^Brindlemark"))
        size = [line for line in geometry.splitlines() if "Geometry" in line][0]
        width, height = [int(v) for v in size.split()[1].split("x")]
        self.click(width // 2, height // 2)
        self.xdo("type", "--delay", 40, "car, person")
        # The scope starts at the unlabelled images; photo1 and photo3 have labels: all images.
        # Shift+Tab goes back to the checked scope, Up to the one above it.
        self.key("shift+Tab", "Up")
        self.snap("4-autolabel")
        self.key("Return", pause=0.5)    # "Start" is the dialog's default button
        self.snap("5-started")
        self.focus_main()
        end = time.time() + 30
        while time.time() < end:
            code, pending = self.cli("pending", self.data)
            if code == 0 and {p["image"] for p in pending} >= {self.image(1), self.image(3)}:
                break
            time.sleep(0.5)
        check({p["image"] for p in pending} >= {self.image(1), self.image(3)},
              "results for the images not on screen did not reach the pending file: %s" % pending)
        time.sleep(2.0)   # the run's closing toast

        # photo2 is on screen with two pending results: Enter confirms the first and selects the
        # other, Esc rejects that one; photo2 is then reviewed and photo3, which has results, opens.
        self.focus_main()
        mark = self.app.count()
        self.key("Return")
        self.key("Escape")
        self.shown(3, mark)
        code, shown = self.cli("show", self.image(2))
        check(code == 0 and len(shown[0]["annotations"]) == 1, "photo2 should hold the confirmed result: %s" % shown)
        # Number keys. The category rows keep their first-use order: kite, car, person, dot.
        # Right after drawing, a digit chooses the next box's category (the drawn box keeps its
        # name); a box the user clicks is relabelled by one.
        self.snap("6-photo3")
        self.drag(300, 200, 380, 280)
        self.name_shape("tree")
        self.key("2")
        self.drag(420, 200, 500, 280)
        self.window("Enter Category")
        self.snap("7-offered")
        self.key("Return")   # the offered category, chosen by the digit
        self.focus_main()
        self.click(340, 240)   # the tree box
        self.key("3")
        self.snap("8-relabelled")
        mark = self.app.count()
        self.key("Next")   # saves photo3 on the way
        self.shown(1, mark)
        code, shown = self.cli("show", self.image(3))
        labels = sorted(a["label"] for a in shown[0]["annotations"])
        check(code == 0 and labels == ["car", "dot", "person"],
              "photo3 should hold its dot, the box given the offered car, and the tree relabelled person: %s" % labels)

        # The label check: toolbar button, its dialog, and a double-click on a finding. From
        # photo1, so that opening photo3's finding is a real switch.
        self.focus_main()
        self.click(1011, 52)   # the toolbar's Check
        dialog = self.window("Check Labels")
        time.sleep(3.0)
        self.snap("6-check")
        geometry = self.xdo("getwindowgeometry", dialog)
        position = [line for line in geometry.splitlines() if "Position" in line][0]
        x, y = [int(v) for v in position.split()[1].split(",")]
        mark = self.app.count()
        # A click among the findings, Home to the first (photo3's tiny box), Return opens it: the
        # rows' screen places depend on the window manager's frame.
        self.click(x + 120, y + 110, screen=True)
        self.key("Home", "Return")
        self.shown(3, mark, timeout=10)
        # The window comes in front of the dialog, which stays open.
        main = self.window("^Brindlemark")
        self.until("the main window did not come to the front", lambda: self.xdo("getactivewindow") == main)
        self.snap("6-finding")
        self.xdo("windowactivate", "--sync", dialog)
        self.key("Escape")   # closes the dialog

        # An unsaved edit, then quit from the File menu and answer "Save and Quit".
        self.focus_main()
        self.drag(700, 500, 800, 600)
        self.name_shape("boat")
        self.click(32, 14)
        self.key("Up", "Return", pause=0.8)
        self.key("Return", pause=1.0)   # the question's default button saves and quits
        try:
            self.app.process.wait(15)
        except subprocess.TimeoutExpired:
            raise Failure("the window did not close after \"Save and Quit\"")

        # What is on disk.
        code, shown = self.cli("show", self.image(1), self.image(2), self.image(3))
        check(code == 0, "show failed")
        by_image = {s["image"]: s for s in shown}
        first = by_image[self.image(1)]
        check(abs(first["annotations"][0]["rect"][0] - drawn_left) < 1e-6, "the saved box moved after saving")
        saved_labels = [a["label"] for s in shown for a in s["annotations"]]
        check("boat" in saved_labels, "the edit made before quitting was not saved: %s" % saved_labels)
        check(all(a["pending"] == 0 for s in shown for a in s["annotations"]), "a pending result reached a label file")
        code, pending = self.cli("pending", self.data)
        pending_images = {p["image"] for p in pending}
        check(self.image(1) in pending_images, "photo1's results should still wait unconfirmed")
        check(self.image(2) not in pending_images, "photo2's results were all decided, none may wait")

    def close(self):
        if self.app and self.app.process.poll() is None:
            os.killpg(self.app.process.pid, signal.SIGKILL)
        stop_programs(os.path.join(self.prefix, "bin", "Brindlehost"))
        if self.server:
            self.server.kill()
        if self.wm:
            self.wm.kill()
        if self.display:
            self.display.close()
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    for program in ("Xvfb", "xdotool", "convert", "openbox"):
        if not shutil.which(program):
            print("SKIP: %s is not installed (scripts/packages.txt lists it)" % program)
            return SKIP
    session = Session(os.path.abspath(sys.argv[1]), "--keep" in sys.argv)
    try:
        session.run()
    except Failure as failure:
        print("FAIL:", failure)
        if session.app:
            print("\n".join(session.app.lines[-30:]))
        print("files kept in", session.root) if session.keep else None
        return 1
    finally:
        session.close()
    print("PASS: the labelling session ran through and its files are right")
    return 0


if __name__ == "__main__":
    sys.exit(main())
