"""The end-to-end test bench: Xvfb, a Wine prefix of its own, the harness, screenshots and pixels.

One `Bench` serves a whole run: it starts Xvfb on a free display, makes a fresh Wine prefix under a
temporary folder (wineboot once), gives every scenario its own folder with its own copy of kelvo.scr
(the settings file sits beside the executable), and tears everything down at the end.
"""

import atexit
import os
import queue
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
SCREEN_WIDTH, SCREEN_HEIGHT = 1024, 768

REFUSED = 4294967295  # -1 as the process's 32-bit exit code


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run_test(bench, name, function, log_path):
    """Runs one test on the bench, prints its PASS or FAIL line, and on failure writes the
    reason with the harnesses' transcripts to log_path. Returns "PASS" or "FAIL"."""
    started = time.time()
    try:
        function(bench)
        outcome, detail = "PASS", ""
    except Failure as failure:
        outcome, detail = "FAIL", str(failure)
    except Exception as error:  # a broken bench is a failure of the test too
        outcome, detail = "FAIL", "%s: %s" % (type(error).__name__, error)
    transcript = []
    for harness in bench.harnesses:
        transcript.extend(harness.transcript)
        harness.close()
    bench.harnesses = []
    if outcome == "FAIL":
        with open(log_path, "w") as log:
            log.write(detail + "\n\n" + "\n".join(transcript) + "\n")
    print("%s %s (%.1f s)%s" % (outcome, name, time.time() - started, (": " + detail) if detail else ""),
          flush=True)
    return outcome


def windows_path(path):
    """The path under Wine's Z: drive, which maps the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def quote(text):
    """An argument for the harness: quoted, with every byte outside printable ASCII escaped."""
    out = ['"']
    for byte in text.encode("latin-1"):
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


class Bench:
    def __init__(self, artifacts, build):
        self.artifacts = artifacts
        self.build = build
        os.makedirs(artifacts, exist_ok=True)
        self.temp = tempfile.mkdtemp(prefix="kelvo-e2e-")
        self.xvfb = None
        self.display = None
        self.lang = None
        self.harnesses = []
        self.scenarios = 0
        atexit.register(self.close)
        for sig in (signal.SIGINT, signal.SIGTERM):
            signal.signal(sig, lambda *_: (self.close(), os._exit(130)))

    # ------------------------------------------------------------ set-up and tear-down

    def start(self):
        self._start_xvfb()
        self.prefix = os.path.join(self.temp, "prefix")
        began = time.time()
        self.wine_command(["wineboot", "-i"], timeout=180)
        self.wine_command(["wineserver", "-w"], timeout=120)
        print("bench: display :%d, prefix ready in %.0f s" % (self.display, time.time() - began), flush=True)

    def _start_xvfb(self):
        for number in range(91, 200):
            if os.path.exists("/tmp/.X%d-lock" % number) or os.path.exists("/tmp/.X11-unix/X%d" % number):
                continue
            log = open(os.path.join(self.temp, "xvfb.log"), "w")
            self.xvfb = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-screen", "0", "%dx%dx24" % (SCREEN_WIDTH, SCREEN_HEIGHT), "-nolisten", "tcp"],
                stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
            for _ in range(100):
                if self.xvfb.poll() is not None:
                    break
                if os.path.exists("/tmp/.X11-unix/X%d" % number):
                    self.display = number
                    if subprocess.run(["xdpyinfo"], env=self.env(), stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL).returncode == 0:
                        return
                time.sleep(0.1)
            self.xvfb.kill()
            self.xvfb.wait()
            self.xvfb = None
        raise RuntimeError("no free X display for Xvfb")

    def env(self, lang=None):
        env = dict(os.environ)
        env.pop("WAYLAND_DISPLAY", None)
        env.update({
            "DISPLAY": ":%d" % self.display if self.display is not None else "",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "WINEDEBUG": "-all",
        })
        if getattr(self, "prefix", None):
            env["WINEPREFIX"] = self.prefix
        lang = lang or self.lang
        if lang:
            env["LANG"] = lang
            env["LC_ALL"] = lang
        return env

    def wine_command(self, argv, timeout=60, check_status=True):
        done = subprocess.run(argv, env=self.env(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout)
        if check_status and done.returncode != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(argv), done.stdout.decode(errors="replace")))
        return done.stdout.decode(errors="replace")

    def set_locale(self, lang):
        """Restarts Wine's server so that the next processes run in another locale."""
        for harness in self.harnesses:
            harness.close()
        self.harnesses = []
        self.wine_command(["wineserver", "-k"], check_status=False)
        self.wine_command(["wineserver", "-w"], check_status=False)
        self.lang = lang

    def close(self):
        for harness in self.harnesses:
            harness.close()
        self.harnesses = []
        if getattr(self, "prefix", None) and os.path.isdir(self.prefix):
            try:
                subprocess.run(["wineserver", "-k"], env=self.env(), timeout=30,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            except Exception:
                pass
        if self.xvfb is not None:
            try:
                os.killpg(self.xvfb.pid, signal.SIGTERM)
                self.xvfb.wait(timeout=10)
            except Exception:
                pass
            self.xvfb = None
        if self.temp and os.path.isdir(self.temp):
            shutil.rmtree(self.temp, ignore_errors=True)
            self.temp = None

    # ------------------------------------------------------------ scenarios

    def scenario(self, name, ini=None):
        """A folder of its own with a copy of kelvo.scr, and the settings file text if given.
        Returns the Windows path of the copy."""
        self.scenarios += 1
        folder = os.path.join(self.temp, "scenario-%02d-%s" % (self.scenarios, name))
        os.makedirs(folder)
        target = os.path.join(folder, "kelvo.scr")
        shutil.copyfile(os.path.join(self.build, "kelvo.scr"), target)
        if ini is not None:
            with open(os.path.join(folder, "kelvo.ini"), "wb") as handle:
                handle.write(ini.encode("latin-1") if isinstance(ini, str) else ini)
        return windows_path(target)

    def harness(self):
        harness = Harness(self)
        self.harnesses.append(harness)
        return harness

    # ------------------------------------------------------------ the X side

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def pointer(self):
        out = subprocess.run(["xdotool", "getmouselocation"], env=self.env(), stdout=subprocess.PIPE,
                             check=True).stdout.decode()
        values = dict(word.split(":") for word in out.split())
        return int(values["x"]), int(values["y"])

    def screenshot(self, name):
        path = os.path.join(self.artifacts, name + ".png")
        subprocess.run(["import", "-display", ":%d" % self.display, "-window", "root", path], env=self.env(),
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return Picture(path)


class Picture:
    """The pixels of a PNG as 8-bit RGB rows."""

    def __init__(self, path):
        self.path = path
        size = subprocess.run([CONVERT, path, "-format", "%w %h", "info:"], stdout=subprocess.PIPE,
                              check=True).stdout.decode().split()
        self.width, self.height = int(size[0]), int(size[1])
        self.data = subprocess.run([CONVERT, path, "-depth", "8", "rgb:-"], stdout=subprocess.PIPE,
                                   check=True).stdout

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


class Harness:
    """kelvo-harness.exe in serve mode: a window owner and process starter under Wine."""

    def __init__(self, bench):
        self.bench = bench
        exe = os.path.join(bench.build, "kelvo-harness.exe")
        self.process = subprocess.Popen(["wine", exe, "serve"], env=bench.env(), stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.transcript = []
        self._reply(60)

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode("utf-8", errors="replace").rstrip("\r\n"))
        self.lines.put(None)

    def _reply(self, timeout):
        reply = []
        deadline = time.time() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(deadline - time.time(), 0.01))
            except queue.Empty:
                raise Failure("the harness gave no answer within %.0f s" % timeout)
            if line is None:
                raise Failure("the harness ended")
            if line == ".":
                return reply
            reply.append(line)

    def command(self, *words, timeout=60):
        line = " ".join(str(w) for w in words)
        self.transcript.append("> " + line)
        self.process.stdin.write((line + "\n").encode("latin-1"))
        self.process.stdin.flush()
        reply = self._reply(timeout)
        self.transcript.extend("< " + r for r in reply)
        for r in reply:
            if r.startswith("error"):
                raise Failure("harness: %s -> %s" % (line, r))
        return reply

    def one(self, *words, timeout=60):
        """A command whose answer is one line: that line's first word and its fields."""
        reply = self.command(*words, timeout=timeout)
        check(len(reply) >= 1, "no answer to %s" % " ".join(str(w) for w in words))
        head = reply[-1]
        return head.split()[0], fields(head)

    # Convenience wrappers ---------------------------------------------------------

    def start(self, name, exe, tail=""):
        self.command("start", name, quote(exe), quote(tail))

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

    def wait_window(self, name, class_name, ms):
        head, values = self.one("waitwindow", name, quote(class_name), int(ms), timeout=ms / 1000 + 30)
        return values if head == "found" else None

    def find(self, class_name, title="-"):
        head, values = self.one("find", quote(class_name), quote(title) if title != "-" else "-")
        return values if head == "found" else None

    def wait_gone(self, window, ms):
        head, values = self.one("waitgone", window, int(ms), timeout=ms / 1000 + 30)
        return head == "gone", float(values["ms"])

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write(b"quit\n")
                self.process.stdin.flush()
                self.process.wait(timeout=10)
            except Exception:
                try:
                    os.killpg(self.process.pid, signal.SIGKILL)
                except Exception:
                    pass
