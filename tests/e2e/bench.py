"""The end-to-end bench: a display, Wine prefixes, the harness, screenshots and pixels.

conftest.py makes these into fixtures.
"""

import os
import queue
import select
import shutil
import signal
import subprocess
import threading
import time
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
SCREEN_WIDTH, SCREEN_HEIGHT = 1024, 768

REFUSED = 4294967295  # -1 as the process's 32-bit exit code
SAVER_CLASS, DIALOG_CLASS = "WindowsScreenSaverClass", "#32770"
WM_CLOSE, WM_KEYDOWN, WM_CONTEXTMENU, WM_NCHITTEST, WM_COMMAND, WM_SYSCOMMAND = 0x10, 0x100, 0x7B, 0x84, 0x111, 0x112
WM_HSCROLL, WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONDOWN = 0x114, 0x200, 0x201, 0x204
WM_DISPLAYCHANGE, WM_POWERBROADCAST = 0x7E, 0x218
IDOK, IDCANCEL = 1, 2
# The settings dialog's controls.
KOMAKASA_EDIT, WAIT_SCROLL_BAR, WAIT_LABEL, COLOUR_LIST = 1002, 1003, 1004, 1005

# Another program taking the foreground: a Windows one through the system, an X one through the
# window manager, as a user switching with the task bar or Alt+Tab would.
FOREGROUND_TAKERS = {
    "windows-program-in-front": lambda display, harness, x_window: harness.command("activate", "other"),
    "x-program-in-front": lambda display, harness, x_window: display.xdotool("windowactivate", x_window),
}

# Locale ids as tests name them, and the LANG each runs Wine in (None: the caller's own).
LOCALES = {"default": None, "ja": "ja_JP.UTF-8"}


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class PointerLost(Failure):
    """X moved the pointer and Wine did not see it."""


class Not(str):
    """A condition's "not yet", saying what it saw instead."""

    def __bool__(self):
        return False


def wait_until(what, condition, deadline=10.0):
    """Polls condition() until it gives a true value, and returns that; fails after deadline seconds
    with what it gave last."""
    end = time.monotonic() + deadline
    while True:
        seen = condition()
        if seen:
            return seen
        check(time.monotonic() < end, "%s: not within %.1f s (last seen: %s)" % (what, deadline, seen or repr(seen)))
        time.sleep(0.02)


def new_frame(screenshot, label, deadline=10.0):
    """Two screenshots (label-a, label-b), the second the first that differs: a frame drawn between."""
    first = screenshot(label + "-a")

    def changed():
        now = screenshot(label + "-b")
        return now if now.data != first.data else Not("the same picture as %s-a" % label)
    return first, wait_until("a new frame on the screen (%s)" % label, changed, deadline)


class Lines:
    """The lines of a process's output, read by a thread of their own so that every wait has a deadline;
    each(line) sees every line as it comes."""

    def __init__(self, stream, each=None):
        self.queue = queue.Queue()
        threading.Thread(target=self._read, args=(stream, each), daemon=True).start()

    def _read(self, stream, each):
        for raw in stream:
            line = raw.decode("utf-8", errors="replace").rstrip("\r\n")
            if each:
                each(line)
            self.queue.put(line)
        self.queue.put(None)

    def next(self, seconds):
        """The next line; None at the end of the output; TimeoutError after the seconds."""
        try:
            return self.queue.get(timeout=max(seconds, 0.01))
        except queue.Empty:
            raise TimeoutError() from None


def windows_path(path):
    """The path under Wine's Z: drive, which maps the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unix_path(path):
    """The Unix path of a Z: path."""
    return path[2:].replace("\\", "/")


def saver_copy(folder, build_dir, name="kelvo.scr", ini=None):
    """Copies the build's kelvo.scr into the folder (made if need be) under the name, with a kelvo.ini
    of the text or bytes beside it if given; returns the copy's Windows path."""
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, name)
    shutil.copyfile(os.path.join(build_dir, "kelvo.scr"), target)
    if ini is not None:
        with open(os.path.join(folder, "kelvo.ini"), "wb") as handle:
            handle.write(ini.encode("latin-1") if isinstance(ini, str) else ini)
    return windows_path(target)


def linux_pid(windows_path):
    """The Linux process id of the Wine process whose program is the given Windows path; None when none is."""
    wanted = windows_path.lower()
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as handle:
                program = handle.read().split(b"\0")[0].decode("utf-8", errors="replace")
        except OSError:  # a process that ended meanwhile
            continue
        if program.lower() == wanted:
            return int(entry)
    return None


def cpu_seconds(pid):
    """User plus system time of a process, all its threads, in seconds: from the scheduler's
    nanosecond counts where the kernel keeps them, else from /proc/PID/stat's clock ticks."""
    try:
        total = 0
        for task in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/schedstat" % (pid, task)) as handle:
                    total += int(handle.read().split()[0])
            except FileNotFoundError:
                pass  # a thread that has just ended
        return total / 1e9
    except OSError:
        with open("/proc/%d/stat" % pid) as handle:
            fields = handle.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def quote(text, encoding="latin-1"):
    """An argument for the harness: quoted, with every byte outside printable ASCII escaped."""
    out = ['"']
    for byte in text.encode(encoding):
        ch = chr(byte)
        if ch in '"\\':
            out.append("\\" + ch)
        elif 0x20 <= byte < 0x7F:
            out.append(ch)
        else:
            out.append("\\x%02x" % byte)
    out.append('"')
    return "".join(out)


def fields(line):
    """The key=value words of a harness line, with percent-encoded texts decoded."""
    result = {}
    for word in line.split():
        if "=" in word:
            key, value = word.split("=", 1)
            result[key] = "" if value == "%" else urllib.parse.unquote(value)
    return result


def end_group(process, timeout=10):
    """Ends a process started with start_new_session, and everything it started."""
    if process is None or process.poll() is not None:
        return
    try:
        os.killpg(process.pid, signal.SIGTERM)
        process.wait(timeout=timeout)
    except (OSError, subprocess.TimeoutExpired):
        try:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait(timeout=timeout)
        except (OSError, subprocess.TimeoutExpired):
            pass


# ---------------------------------------------------------------- the display

# Xorg's dummy driver, unlike Xvfb, can switch the screen between the modes of its configuration.
DUMMY_CONFIG = """Section "Device" Identifier "dummy" Driver "dummy" VideoRam 32768 EndSection
Section "Monitor" Identifier "monitor" HorizSync 5.0 - 1000.0 VertRefresh 5.0 - 200.0 EndSection
Section "Screen" Identifier "screen" Device "dummy" Monitor "monitor" DefaultDepth 24
    SubSection "Display" Depth 24 Modes "%dx%d" "1920x1080" Virtual 1920 1080 EndSubSection EndSection
"""


class Display:
    """Xvfb on a free display number, with openbox managing its windows when asked; with resizable,
    Xorg's dummy driver, whose screen size set_mode() changes."""

    def __init__(self, folder, width=SCREEN_WIDTH, height=SCREEN_HEIGHT, window_manager=True, resizable=False):
        self.folder = folder
        self.width, self.height = width, height
        self.xvfb = self.wm = None
        self.number = None
        read, write = os.pipe()
        try:
            # Xvfb picks the first free number itself and writes it to the pipe: no race with
            # another run on the same machine.
            argv = ["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % (width, height), "-nolisten", "tcp"]
            if resizable:
                os.makedirs(os.path.join(folder, "xorg.conf.d"), exist_ok=True)
                with open(os.path.join(folder, "xorg.conf"), "w") as config:
                    config.write(DUMMY_CONFIG % (width, height))
                argv = ["Xorg", "-displayfd", str(write), "-config", os.path.join(folder, "xorg.conf"), "-configdir",
                        os.path.join(folder, "xorg.conf.d"), "-logfile", os.path.join(folder, "xorg.log"),
                        "-noreset", "-nolisten", "tcp"]
            self.xvfb = subprocess.Popen(argv, stdout=self._log("xvfb"), stderr=subprocess.STDOUT, pass_fds=(write,),
                                         start_new_session=True)
            os.close(write)
            answer = b""
            deadline = time.time() + 30
            # Read to the newline: Xvfb dies if the pipe closes before it has written it.
            while not answer.endswith(b"\n") and select.select([read], [], [], max(deadline - time.time(), 0))[0]:
                chunk = os.read(read, 64)
                if not chunk:
                    break
                answer += chunk
            answer = answer.decode().strip()
        finally:
            os.close(read)
        if not answer.isdigit():
            self.close()
            raise RuntimeError("Xvfb gave no display number (see %s)" % os.path.join(folder, "xvfb.log"))
        self.number = int(answer)
        self.name = ":%d" % self.number
        if window_manager:
            self._start_window_manager()

    def _log(self, name):
        return open(os.path.join(self.folder, name + ".log"), "w")

    def _start_window_manager(self):
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env(), stdout=self._log("openbox"),
                                   stderr=subprocess.STDOUT, start_new_session=True)
        def managing():
            found = self.window_manager()
            return found == "Openbox" or Not("openbox ended" if self.wm.poll() is not None else "found: %s" % found)
        try:
            wait_until("openbox managing %s (see %s)" % (self.name, os.path.join(self.folder, "openbox.log")), managing,
                       20)
        except Failure:
            self.close()
            raise

    def window_manager(self):
        """The name of the window manager that the root window names as running, or None."""
        root = self._xprop("-root", "_NET_SUPPORTING_WM_CHECK")
        if "window id #" not in root:
            return None
        wm_window = root.split("#")[-1].strip()
        # The check window names itself too; a stale property of a dead manager does not.
        if "#" not in self._xprop("-id", wm_window, "_NET_SUPPORTING_WM_CHECK"):
            return None
        name = self._xprop("-id", wm_window, "_NET_WM_NAME")
        return name.split("=", 1)[1].strip().strip('"') if "=" in name else None

    def _xprop(self, *args):
        return subprocess.run(["xprop", "-display", self.name] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout.decode(errors="replace")

    def env(self):
        env = dict(os.environ)
        env.pop("WAYLAND_DISPLAY", None)
        env["DISPLAY"] = self.name
        return env

    def xdotool(self, *args):
        """Runs xdotool on this display; returns its output."""
        return subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env(), check=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()

    def wait_keyboard(self, harness, window, activate=False):
        """Waits until X has mapped the Windows top-level window and focuses it (XTEST keys go to the
        window X focuses) and Wine has it in front too; with activate, the window manager is asked for
        it first, as a user's click would. Returns its X window."""
        def described():
            head, now = harness.one("describe", window["hwnd"])
            return now if head == "window" and now["x"] != "0" else Not("no X window (%s)" % head)
        if activate:
            self.xdotool("windowactivate", wait_until("an X window for %s" % window["hwnd"], described)["x"])

        def ready():
            now = described()
            if not now:
                return now
            mapped = "IsViewable" in subprocess.run(["xwininfo", "-display", self.name, "-id", now["x"]],
                                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode()
            focus = subprocess.run(["xdotool", "getwindowfocus"], env=self.env(), stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL).stdout.decode().strip()
            seen = "X window %s mapped %s, X focus on %s, Wine foreground %s" % (now["x"], mapped, focus,
                                                                                 now["foreground"])
            return now["x"] if mapped and focus == now["x"] and now["foreground"] == "1" else Not(seen)
        return wait_until("window %s mapped with the keyboard" % window["hwnd"], ready)

    def pointer(self, harness):
        """Where X has the pointer and the window under it (InputOnly or not); the window under Wine's cursor
        and the tick of the last input Wine took. Wine's own cursor position would say nothing more: Wine
        reads it from X."""
        at = dict(line.split("=", 1) for line in self.xdotool("getmouselocation", "--shell").split())
        info = subprocess.run(["xwininfo", "-display", self.name, "-id", at["WINDOW"]], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout.decode()
        wine = harness.one("cursor")[1]
        return {"x": at["X"], "y": at["Y"], "x_window": at["WINDOW"], "input_only": "Class: InputOnly" in info,
                "wine_window": wine["under"], "wine_input": wine["input"]}

    def wait_pointer(self, harness, window):
        """Waits until a click goes to the Windows top-level window: X has the pointer over its X window
        or over the InputOnly window through which Wine grabs the pointer for a full-screen window, and
        Wine has the window under the cursor. Then a move of one pixel and one back must each reach Wine
        as input; PointerLost if one does not."""
        x_window = self.wait_keyboard(harness, window)

        def ready():
            now = self.pointer(harness)
            on_x = now["x_window"] == x_window or now["input_only"]
            return now if on_x and now["wine_window"] == window["hwnd"] else Not(str(now))
        at = wait_until("the pointer over window %s, for X and for Wine" % window["hwnd"], ready)
        for x in (int(at["x"]) + 1, int(at["x"])):
            before = self.pointer(harness)["wine_input"]
            self.move(x, at["y"])

            def taken():
                now = self.pointer(harness)
                return now if now["wine_input"] != before else Not(str(now))
            try:
                wait_until("the move to %d,%s taken as input" % (x, at["y"]), taken, 3)
            except Failure as failed:
                raise PointerLost(str(failed)) from None

    def key(self, *keys):
        self.xdotool("key", *keys)

    def click(self, button=1):
        self.xdotool("click", button)

    def move(self, x, y):
        self.xdotool("mousemove", x, y)

    def set_mode(self, width, height):
        subprocess.run(["xrandr", "-s", "%dx%d" % (width, height)], env=self.env(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.name, "-window", "root", path], env=self.env(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return Picture(path)

    def close(self):
        end_group(self.wm)
        end_group(self.xvfb)
        self.wm = self.xvfb = None


# ---------------------------------------------------------------- Wine prefixes

class Prefix:
    """A Wine prefix of its own on a display, made with wineboot; 32-bit when arch is "win32"; extra_env for all."""

    def __init__(self, path, display, arch=None, timeout=300, **extra_env):
        self.path = path
        self.display = display
        self.arch = arch
        self.extra_env = extra_env
        self.lang = None
        self.harnesses = {}
        began = time.time()
        self.run(["wineboot", "-i"], timeout=timeout)
        self.run(["wineserver", "-w"], timeout=timeout)
        self.made_in = time.time() - began

    def env(self, **extra):
        env = self.display.env()
        # No winemenubuilder: a shortcut a test makes must not become a menu entry of the host.
        env.update({"WINEPREFIX": self.path, "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
                    "WINEDEBUG": "-all"})
        if self.arch:
            env["WINEARCH"] = self.arch
        if self.lang:
            env["LANG"] = env["LC_ALL"] = self.lang
        env.update(self.extra_env, **extra)
        return env

    def run(self, argv, timeout=60, check_status=True, **extra_env):
        """Runs a command (wine, wineserver, ...) in this prefix; returns its output."""
        done = subprocess.run(argv, env=self.env(**extra_env), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout)
        output = done.stdout.decode(errors="replace")
        if check_status and done.returncode != 0:
            raise RuntimeError("%s failed with %d: %s" % (" ".join(argv), done.returncode, output))
        return output

    def set_locale(self, locale):
        """Runs the next processes in the locale (a key of LOCALES); restarts Wine's server when it changes,
        since the server keeps the locale it started in."""
        lang = LOCALES[locale]
        if lang == self.lang:
            return
        self.stop()
        self.lang = lang

    def harness(self, exe):
        """The harness of this executable serving in this prefix, started when none runs."""
        harness = self.harnesses.get(exe)
        if harness is None or not harness.alive():
            harness = self.harnesses[exe] = Harness(exe, self.env())
        return harness

    def stop(self):
        """Ends the harnesses and every process of the prefix, and its server."""
        for harness in self.harnesses.values():
            harness.close()
        self.harnesses = {}
        self.run(["wineserver", "-k"], check_status=False)
        self.run(["wineserver", "-w"], check_status=False)


# ---------------------------------------------------------------- pictures

class Picture:
    """The pixels of a PNG as 8-bit RGB rows."""

    def __init__(self, path):
        self.path = path
        ppm = subprocess.run([CONVERT, path, "-depth", "8", "ppm:-"], stdout=subprocess.PIPE, check=True).stdout
        _, size, _, self.data = ppm.split(b"\n", 3)  # "P6", "width height", "255", then the RGB bytes
        self.width, self.height = map(int, size.split())

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return self.data[i], self.data[i + 1], self.data[i + 2]

    def region(self, left, top, right, bottom):
        """The pixels of a rectangle, right and bottom exclusive, as bytes in row order."""
        rows = []
        for y in range(max(top, 0), min(bottom, self.height)):
            start = (y * self.width + max(left, 0)) * 3
            rows.append(self.data[start:(y * self.width + min(right, self.width)) * 3])
        return b"".join(rows)


def colour_census(pixels):
    """Counts of black, saturated and other pixels, and the saturated colours seen, of RGB bytes."""
    black = saturated = other = 0
    colours = {}
    for i in range(0, len(pixels), 3):
        r, g, b = pixels[i], pixels[i + 1], pixels[i + 2]
        if r == 0 and g == 0 and b == 0:
            black += 1
            continue
        high, low = max(r, g, b), min(r, g, b)
        if high >= 128 and high - low >= 96:
            saturated += 1
            colours[(r, g, b)] = colours.get((r, g, b), 0) + 1
        else:
            other += 1
    return {"black": black, "saturated": saturated, "other": other, "colours": colours,
            "total": len(pixels) // 3}


def hue_bins(colours, bins=12):
    """How many of `bins` equal sectors of the colour wheel the given colours fall in."""
    seen = set()
    for (r, g, b) in colours:
        high, low = max(r, g, b), min(r, g, b)
        span = high - low
        if span == 0:
            continue
        if high == r:
            h = ((g - b) / span) % 6
        elif high == g:
            h = (b - r) / span + 2
        else:
            h = (r - g) / span + 4
        seen.add(int(h / 6 * bins) % bins)
    return len(seen)


def saver_picture(picture, label):
    """Whether the picture shows coloured stars with trails on black and a black top strip: its census,
    or a Not saying what it shows."""
    everything = colour_census(picture.data)
    top = colour_census(picture.region(0, 0, picture.width, 8))
    black_share = everything["black"] / everything["total"]
    summary = ("%s: %.1f%% black, %d saturated pixels in %d colours over %d hue sectors, top strip %d of %d lit"
               % (label, 100 * black_share, everything["saturated"], len(everything["colours"]),
                  hue_bins(everything["colours"]), top["total"] - top["black"], top["total"]))
    problems = [problem for problem, fault in (
        ("not mostly black", black_share < 0.6),
        # Eight glyphs alone cover at most 8 x 256 pixels; more colour than that is their trails.
        ("too little colour for stars with trails", everything["saturated"] < 3000),
        ("too few different colours", len(everything["colours"]) < 8),
        # The strip is painted black every frame; only a glyph that has just bounced off the top edge
        # can stand in it, and its cell is 16 pixels wide.
        ("the top strip is not black", top["total"] - top["black"] > 4 * 16 * 8)) if fault]
    return Not(summary + ": " + ", ".join(problems)) if problems else everything


def wait_for_stars(screenshot, label, deadline=10.0):
    """Screenshots until one shows the saver's picture (saver_picture); returns its census."""
    return wait_until("the saver's stars and trails (%s)" % label, lambda: saver_picture(screenshot(label), label),
                      deadline)


# ---------------------------------------------------------------- the harness

class Harness:
    """kelvo-harness.exe in serve mode: a window owner and process starter under Wine.

    It remembers the processes and windows started or made since the last reset(), so that one
    harness can serve many tests, each leaving nothing behind."""

    def __init__(self, exe, env):
        self.process = subprocess.Popen(["wine", exe, "serve"], env=env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        self.lines = Lines(self.process.stdout)
        self.transcript = []
        self.started, self.made = set(), set()
        self.lost = False
        self._reply(60, "its start")

    def _reply(self, timeout, line):
        reply = []
        end = time.monotonic() + timeout
        while True:
            try:
                answer = self.lines.next(end - time.monotonic())
            except TimeoutError:
                # The rest of that reply may still come and would be read as the next one's: this
                # harness is done with; the next test gets a new one.
                self.lost = True
                end_group(self.process)
                raise Failure("the harness gave no answer to %r within %.0f s; it is ended, and the next test "
                              "starts a new one" % (line, timeout)) from None
            if answer is None:
                self.lost = True
                raise Failure("the harness ended while answering %r" % line)
            if answer == ".":
                return reply
            reply.append(answer)

    def alive(self):
        return not self.lost and self.process.poll() is None

    def command(self, *words, timeout=60):
        words = [str(w) for w in words]
        line = " ".join(words)
        check(not self.lost, "the harness lost track of its replies before %r" % line)
        self.transcript.append("> " + line)
        self.process.stdin.write((line + "\n").encode("latin-1"))
        self.process.stdin.flush()
        reply = self._reply(timeout, line)
        self.transcript.extend("< " + r for r in reply)
        for r in reply:
            if r.startswith("error"):
                raise Failure("harness: %s -> %s" % (line, r))
        if words[0] in ("start", "startw", "startu"):
            self.started.add(words[1])
        elif words[0] == "window":
            self.made.add(words[1])
        return reply

    def one(self, *words, timeout=60):
        """A command whose answer is one line: that line's first word and its fields."""
        reply = self.command(*words, timeout=timeout)
        check(len(reply) >= 1, "no answer to %s" % " ".join(str(w) for w in words))
        head = reply[-1]
        return head.split()[0], fields(head)

    def start(self, name, exe, tail="", unquoted=False):
        if unquoted:  # the program named apart, its path unquoted in the command line
            self.command("startu", name, quote(exe), quote(tail))
        elif exe.isascii():
            self.command("start", name, quote(exe), quote(tail))
        else:  # no code page holds every name: the wide start, in UTF-8
            self.command("startw", name, quote(exe, "utf-8"), quote(tail, "utf-8"))

    def wait(self, name, ms):
        """Waits for the process; returns its fields, with "code" an int, or None while it still runs."""
        head, values = self.one("wait", name, int(ms), timeout=ms / 1000 + 30)
        if head != "exit":
            return None
        values["code"] = int(values["code"])
        values["windows"] = int(values["windows"])
        return values

    def run(self, name, exe, tail, ms=15000):
        self.start(name, exe, tail)
        return self.wait(name, ms)

    def window(self, name, width, height, x=100, y=100):
        """A harness window with a client area of width x height, made foreground; returns its fields."""
        return self.one("window", name, width, height, x, y)[1]

    def wait_window(self, name, class_name, ms):
        head, values = self.one("waitwindow", name, quote(class_name), int(ms), timeout=ms / 1000 + 30)
        return values if head == "found" else None

    def open_dialog(self, name, exe, tail=""):
        """Starts exe with the tail and waits for its settings dialog; returns the dialog's fields."""
        self.start(name, exe, tail)
        dialog = self.wait_window(name, DIALOG_CLASS, 15000)
        check(dialog is not None, "%s: no settings dialog (%s)" % (name, self.wait(name, 0)))
        return dialog

    def end_dialog(self, name, dialog, command=None):
        """Posts the WM_COMMAND (unless the test ends the dialog itself), waits for the dialog to go and
        its process to end; returns the exit code."""
        if command is not None:
            self.command("post", dialog["hwnd"], WM_COMMAND, command, 0)
        check(self.wait_gone(dialog["hwnd"], 5000)[0], "%s: the dialog is still there" % name)
        ended = self.wait(name, 15000)
        check(ended is not None, "%s: the process still runs 15 s after its dialog went" % name)
        return ended["code"]

    def find(self, class_name, title="-"):
        head, values = self.one("find", quote(class_name), quote(title) if title != "-" else "-")
        return values if head == "found" else None

    def wait_gone(self, window, ms):
        head, values = self.one("waitgone", window, int(ms), timeout=ms / 1000 + 30)
        return head == "gone", float(values["ms"])

    def reset(self):
        """Ends the processes started and destroys the windows made since the last reset."""
        started, made = sorted(self.started), sorted(self.made)
        self.started.clear()
        self.made.clear()
        if not self.alive():
            return
        for name in started:
            if self.wait(name, 0) is None:
                self.command("kill", name)
                self.wait(name, 5000)
        for name in made:
            self.command("destroy", name)

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write(b"quit\n")
                self.process.stdin.flush()
                self.process.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                end_group(self.process)
