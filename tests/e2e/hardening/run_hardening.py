#!/usr/bin/env python3
"""Hardening tests of kelvo.scr under Wine: hostile command tails, tiny and vanishing preview
parents, settings files that cannot be written or are full of garbage, and a long run watched
for GDI and memory growth. Built on the end-to-end bench (tests/e2e/e2e.py) and its harness.

    python3 tests/e2e/hardening/run_hardening.py [--build DIR] [--helper EXE] [--artifacts DIR]
        [--tails N] [--seed S] [--minutes M] [NAME...]

Prints PASS or FAIL per test and exits nonzero when any fails.
"""

import argparse
import atexit
import os
import random
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

import e2e  # noqa: E402
from e2e import REFUSED, ROOT, Bench, Failure, check, colour_census, quote, run_test  # noqa: E402

# The long run wants a screen of this size; the rest do not care, so the whole bench uses it.
e2e.SCREEN_WIDTH, e2e.SCREEN_HEIGHT = 1920, 1080

SAVER_CLASS = "WindowsScreenSaverClass"
DIALOG_CLASS = "#32770"
WM_COMMAND = 0x0111
IDOK, IDCANCEL = 1, 2
KOMAKASA_EDIT = 1002
SAVER_WINDOW_FAILED = 1

TESTS = []


def test(name):
    def register(function):
        TESTS.append((name, function))
        return function
    return register


# ---------------------------------------------------------------- the parse, as a model

SEPARATORS = b" -/"


def effective_tail(tail):
    """What the program takes as its tail when the harness starts it as "exe" + blank + tail:
    the program-name skip steps over every byte from 0x01 to 0x20 behind the closing quote."""
    at = 0
    while at < len(tail) and tail[at] <= 0x20:
        at += 1
    return tail[at:]


def read_number(text):
    value = 0
    for byte in text:
        if not 0x30 <= byte <= 0x39:
            break
        value = (value * 10 + byte - 0x30) & 0xFFFFFFFF
    return value


def predict(tail):
    """("settings",), ("saver",), ("preview", handle number) or ("refused",) on the newer family."""
    text = effective_tail(tail)
    at = 0
    while at < len(text) and text[at] in SEPARATORS:
        at += 1
    if at == len(text):
        return ("settings",)
    mode = chr(text[at])
    if mode in "sS":
        return ("saver",)
    if mode in "pPlL":
        at += 1
        while at < len(text) and text[at] == 0x20:
            at += 1
        number = read_number(text[at:])
        return ("preview", number) if number else ("refused",)
    if mode in "cC":
        return ("settings",)
    return ("refused",)  # "a" on the newer family, and every other byte


def handle_argument(number):
    """The handle the program makes of a number (sign-extended from 32 bits), as the harness reads it."""
    return number | 0xFFFFFFFF00000000 if number & 0x80000000 else number


ALPHABET = b" -/sSpPlLcCaA:0123456789\t" + bytes([0x01, 0x1F, 0x7F, 0x80, 0x81, 0xE0, 0xFF])


def random_tails(count, seed):
    """Tails of 0 to 64 bytes from 0x01 to 0xFF: half uniform, half mostly from the bytes the parse
    looks at, so that a fair share of them select a mode."""
    rng = random.Random(seed)
    tails = []
    while len(tails) < count:
        length = rng.randint(0, 64)
        if rng.random() < 0.5:
            tail = bytes(rng.randint(1, 255) for _ in range(length))
        else:
            tail = bytes(rng.choice(ALPHABET) if rng.random() < 0.85 else rng.randint(1, 255)
                         for _ in range(length))
        if b"%desktop%" in tail:  # the harness would put a window handle there
            continue
        tails.append(tail)
    return tails


def show(tail):
    return tail.hex() or "(empty)"


# ---------------------------------------------------------------- shared steps

def helper(bench, *args, timeout=60):
    done = subprocess.run(["wine", bench.helper] + [str(a) for a in args], env=bench.env(),
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
    return done.stdout.decode(errors="replace")


class Parent:
    """A popup window of an exact client size in a process of its own, as a preview parent."""

    def __init__(self, bench, width, height):
        self.process = subprocess.Popen(["wine", bench.helper, "parent", str(width), str(height)], env=bench.env(),
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        line = self.process.stdout.readline().decode(errors="replace")
        check(line.startswith("parent "), "the parent window was not made: %r" % line)
        values = e2e.fields(line)
        self.hwnd = values["hwnd"]
        self.client = values["client"]

    def destroy(self):
        self.process.stdin.write(b"destroy\n")
        self.process.stdin.flush()

    def close(self):
        try:
            self.process.stdin.close()
            self.process.wait(timeout=10)
        except Exception:
            self.process.kill()


def end_with_key(bench, harness, name, window):
    time.sleep(0.5)
    harness.command("activate", window["hwnd"])
    bench.xdotool("key", "space")
    return harness.wait(name, 10000)


def dialog_field(harness, dialog):
    for line in harness.command("controls", dialog["hwnd"]):
        if line.startswith("child ") and " id=%d " % KOMAKASA_EDIT in line:
            return e2e.fields(line).get("title")
    return None


# ---------------------------------------------------------------- random command tails

@test("random-tails-exit-as-the-parse-predicts")
def random_tail_test(bench):
    tails = random_tails(bench.tails, bench.seed)
    print("    %d tails, seed %d (--seed to change)" % (len(tails), bench.seed), flush=True)
    harness = bench.harness()
    exe = bench.scenario("tails")
    counts = {}
    failures = []
    quick = []
    for number, tail in enumerate(tails):
        prediction = predict(tail)
        if prediction[0] == "preview":
            head, _ = harness.one("describe", handle_argument(prediction[1]))
            prediction = ("foreign-preview", prediction[1]) if head == "window" else ("refused",)
        counts[prediction[0]] = counts.get(prediction[0], 0) + 1
        if prediction[0] == "refused":
            quick.append((number, tail))
            continue
        name = "t%d" % number
        harness.start(name, exe, tail.decode("latin-1"))
        if prediction[0] == "settings":
            dialog = harness.wait_window(name, DIALOG_CLASS, 15000)
            if dialog is None:
                failures.append("%s: no settings dialog" % show(tail))
                harness.command("kill", name)
                continue
            harness.command("post", dialog["hwnd"], WM_COMMAND, IDCANCEL, 0)
            ended, expected = harness.wait(name, 10000), IDCANCEL
        elif prediction[0] == "saver":
            window = harness.wait_window(name, SAVER_CLASS, 15000)
            if window is None:
                failures.append("%s: no saver window" % show(tail))
                harness.command("kill", name)
                continue
            ended, expected = end_with_key(bench, harness, name, window), 0
        else:
            # The number names a window of some other program (Wine matches a handle with a zero
            # high word to any generation): the preview runs there until that window goes, which
            # the harness cannot bring about, so it is ended by force once it is seen running.
            time.sleep(2)
            if harness.wait(name, 0) is not None:
                failures.append("%s: a preview in window %d did not keep running" % (show(tail), prediction[1]))
            harness.command("kill", name)
            continue
        if ended is None:
            failures.append("%s: still runs after it was ended as a user would" % show(tail))
            harness.command("kill", name)
        elif ended["code"] != expected:
            failures.append("%s: exit %d, the parse predicts %d" % (show(tail), ended["code"], expected))
    # The refused tails run a few at a time: none may make a window or take long.
    for first in range(0, len(quick), 8):
        batch = quick[first:first + 8]
        for number, tail in batch:
            harness.start("t%d" % number, exe, tail.decode("latin-1"))
        for number, tail in batch:
            ended = harness.wait("t%d" % number, 15000)
            if ended is None:
                failures.append("%s: still runs after 15 s, the parse predicts -1" % show(tail))
                harness.command("kill", "t%d" % number)
            elif ended["code"] != REFUSED or ended["windows"]:
                failures.append("%s: exit %d with windows %s, the parse predicts -1 and none"
                                % (show(tail), ended["code"], ended["classes"]))
    print("    predicted: %s" % ", ".join("%s %d" % item for item in sorted(counts.items())), flush=True)
    check(not failures, "; ".join(failures[:10]) + (" (and %d more)" % (len(failures) - 10) if len(failures) > 10 else ""))


# ---------------------------------------------------------------- preview parents

@test("preview-in-parents-of-0-1-and-15-pixels")
def tiny_parents(bench):
    harness = bench.harness()
    exe = bench.scenario("tiny-parents")
    failures = []
    for side in (0, 1, 15):
        parent = Parent(bench, side, side)
        try:
            if parent.client != "%d,%d" % (side, side):
                failures.append("a %d x %d parent has a client area of %s" % (side, side, parent.client))
            name = "preview%d" % side
            harness.start(name, exe, "/p %s" % parent.hwnd)
            head, child = harness.one("waitchild", parent.hwnd, quote(SAVER_CLASS), 10000)
            if head != "found":
                failures.append("%d x %d: no preview child" % (side, side))
                harness.command("kill", name)
                continue
            if child["client"] != "%d,%d" % (side, side):
                failures.append("%d x %d: the preview's client area is %s" % (side, side, child["client"]))
            time.sleep(3)
            if harness.wait(name, 0) is not None:
                failures.append("%d x %d: the preview ended by itself" % (side, side))
                continue
            parent.destroy()
            ended = harness.wait(name, 10000)
            if ended is None:
                failures.append("%d x %d: still runs 10 s after its parent went" % (side, side))
                harness.command("kill", name)
            elif ended["code"] != 0:
                failures.append("%d x %d: exit %d after its parent went, expected 0" % (side, side, ended["code"]))
            else:
                print("    %d x %d: ran 3 s, ended with 0 when the parent went" % (side, side), flush=True)
        finally:
            parent.close()
    check(not failures, "; ".join(failures))


@test("parent-destroyed-while-the-preview-starts-ends-it")
def parent_destroyed_early(bench):
    harness = bench.harness()
    exe = bench.scenario("vanishing-parent")
    failures, outcomes = [], []
    for delay in (0.0, 0.05, 0.15, 0.3, 0.6):
        parent = Parent(bench, 152, 112)
        try:
            name = "early%d" % int(delay * 1000)
            harness.start(name, exe, "/p %s" % parent.hwnd)
            time.sleep(delay)
            parent.destroy()
            ended = harness.wait(name, 10000)
            if ended is None:
                failures.append("parent gone after %.0f ms: the saver still runs 10 s later" % (delay * 1000))
                harness.command("kill", name)
                continue
            # Before the parent was checked: refused; between the check and the window: no window;
            # after: the run ends as any preview whose parent goes.
            if ended["code"] not in (0, REFUSED, SAVER_WINDOW_FAILED):
                failures.append("parent gone after %.0f ms: exit %d" % (delay * 1000, ended["code"]))
            outcomes.append("%.0f ms: exit %d after %s ms" % (delay * 1000, ended["code"] if ended["code"] != REFUSED
                                                             else -1, ended["life"]))
        finally:
            parent.close()
    print("    " + "; ".join(outcomes), flush=True)
    check(not failures, "; ".join(failures))


# ---------------------------------------------------------------- settings files

IMMUTABLE = []


def release_immutable():
    for path in IMMUTABLE:
        subprocess.run(["chattr", "-i", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


atexit.register(release_immutable)


def make_immutable(path):
    if subprocess.run(["chattr", "+i", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
        return False
    IMMUTABLE.append(path)
    return True


def folder_of(exe):
    return os.path.dirname(exe[2:].replace("\\", "/"))


def read_bytes(path):
    if not os.path.exists(path):
        return None
    if os.path.isdir(path):
        return "a folder"
    with open(path, "rb") as handle:
        return handle.read()


# wait=500 is shown clamped to 200, so an OK that reaches the file changes it.
STORED = "[TestScreenSaver]\r\nkomakasa=12\r\nwait=500\r\ncolmode=1\r\n"


def press_ok(bench, harness, name, exe):
    harness.start(name, exe, "")
    dialog = harness.wait_window(name, DIALOG_CLASS, 15000)
    check(dialog is not None, "%s: no settings dialog" % name)
    field = dialog_field(harness, dialog)
    harness.command("post", dialog["hwnd"], WM_COMMAND, IDOK, 0)
    ended = harness.wait(name, 10000)
    check(ended is not None, "%s: still runs 10 s after OK" % name)
    return ended["code"], field


@test("ok-ends-with-1-when-the-settings-cannot-be-written")
def unwritable_settings(bench):
    harness = bench.harness()
    failures, notes = [], []

    def case(label, ini, protect, expect_written, expect_field="12"):
        exe = bench.scenario(label, ini=ini)
        folder = folder_of(exe)
        path = os.path.join(folder, "kelvo.ini")
        how = protect(folder, path)
        if how is None:
            notes.append("%s: could not be set up here, skipped" % label)
            return
        before = read_bytes(path)
        code, field = press_ok(bench, harness, label, exe)
        after = read_bytes(path)
        written = after != before
        notes.append("%s (%s): exit %d, field %s, file %s" % (label, how, code, field,
                                                             "written" if written else "unchanged"))
        if code != IDOK:
            failures.append("%s: exit %d after OK, expected 1" % (label, code))
        if field != expect_field:
            failures.append("%s: the dialog showed komakasa %s, expected %s" % (label, field, expect_field))
        if expect_written is not None and written != expect_written:
            failures.append("%s: the file was %s" % (label, "written" if written else "not written"))

    # The control: the same OK does write where it can.
    case("writable", STORED, lambda folder, path: "nothing", True)
    # Wine shows a file without write bits as read-only, but run as root (as here) it writes it all
    # the same; whether it does is only reported. An immutable file stops even root.
    case("read-only-attribute", STORED, lambda folder, path: (os.chmod(path, 0o444), "chmod 0444")[1], None)
    case("immutable-file", STORED, lambda folder, path: "chattr +i" if make_immutable(path) else None, False)
    # A folder: as root, neither write bits nor the read-only attribute stop a new file; an
    # immutable folder does.
    case("unwritable-folder", None, lambda folder, path: "chattr +i on the folder" if make_immutable(folder) else None,
         False, expect_field="8")
    case("ini-is-a-folder", None, lambda folder, path: (os.mkdir(path), "kelvo.ini is a folder")[1], False,
         expect_field="8")
    for note in notes:
        print("    " + note, flush=True)
    release_immutable()
    check(not failures, "; ".join(failures))


def garbage_file(seed, lines=10000):
    rng = random.Random(seed)
    out = [b"; ten thousand lines of garbage, then the real section"]
    shapes = (b"=", b"[", b"]", b" ", b"\t", b";")
    while len(out) < lines:
        length = rng.randint(0, 80)
        line = bytearray(rng.randint(1, 255) for _ in range(length))
        for _ in range(rng.randint(0, 3)):
            if line:
                line[rng.randrange(len(line))] = rng.choice(shapes)[0]
        out.append(bytes(b for b in line if b not in (0x0A, 0x0D)))
    out.append(b"[TestScreenSaver]")
    out.append(b"komakasa=5")
    return b"\r\n".join(out) + b"\r\n"


@test("ten-thousand-lines-of-garbage-load-in-well-under-a-second")
def garbage_settings(bench):
    harness = bench.harness()
    normal_exe = bench.scenario("normal-file", ini="[TestScreenSaver]\r\nkomakasa=5\r\n")
    garbage = garbage_file(bench.seed)
    garbage_exe = bench.scenario("garbage-file", ini=garbage)
    times = {"normal": [], "garbage": []}
    failures = []
    for round_number in range(3):
        for label, exe in (("normal", normal_exe), ("garbage", garbage_exe)):
            name = "%s%d" % (label, round_number)
            began = time.perf_counter()
            harness.start(name, exe, "")
            dialog = harness.wait_window(name, DIALOG_CLASS, 15000)
            check(dialog is not None, "%s: no settings dialog" % label)
            times[label].append(time.perf_counter() - began)
            field = dialog_field(harness, dialog)
            if field != "5":
                failures.append("%s: komakasa shows %s, expected 5 from the section after the garbage" % (label, field))
            harness.command("post", dialog["hwnd"], WM_COMMAND, IDCANCEL, 0)
            ended = harness.wait(name, 10000)
            if ended is None or ended["code"] != IDCANCEL:
                failures.append("%s: did not end with 2 after Cancel" % label)
    normal, slow = statistics.median(times["normal"]), statistics.median(times["garbage"])
    print("    dialog open: normal file %.0f ms, %d lines of garbage (%d bytes) %.0f ms (medians of 3)"
          % (normal * 1000, garbage.count(b"\n"), len(garbage), slow * 1000), flush=True)
    if slow - normal > 0.5:
        failures.append("the garbage costs %.0f ms more than a normal file" % ((slow - normal) * 1000))
    check(not failures, "; ".join(failures))


# ---------------------------------------------------------------- the long run

def unix_pid(folder):
    """The Linux process that runs the kelvo.scr of that scenario folder."""
    marker = folder.replace("/", "\\").encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as handle:
                if marker in handle.read():
                    return int(entry)
        except OSError:
            pass
    return None


def resident_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as handle:
            for line in handle:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return -1


class Watcher:
    """Samples the saver through the helper's watch mode, and its Linux process's resident size."""

    def __init__(self, bench, pid, unix, interval_ms, count):
        self.samples = []
        self.unix = unix
        self.process = subprocess.Popen(["wine", bench.helper, "watch", pid, str(interval_ms), str(count)],
                                        env=bench.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        for raw in self.process.stdout:
            line = raw.decode(errors="replace")
            if line.startswith("sample "):
                values = {k: int(v) for k, v in e2e.fields(line).items()}
                values["rss_kib"] = resident_kib(self.unix) if self.unix else -1
                self.samples.append(values)

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


def figures(sample):
    return "GDI objects %d, working set %d KiB, resident %d KiB, kernel handles %s" % (
        sample["gdi_table"], sample["working"] // 1024, sample["rss_kib"],
        sample["handles"] if sample["handles"] > 0 else "not given")


@test("long-run-at-1920x1080-keeps-gdi-and-memory-flat")
def long_run(bench):
    minutes = bench.minutes
    total = int(minutes * 60)
    warm_up = min(30, max(10, total // 6))
    harness = bench.harness()
    exe = bench.scenario("long-run", ini="[TestScreenSaver]\r\nkomakasa=1\r\nwait=10\r\ncolmode=0\r\n")
    bench.xdotool("mousemove", 960, 540)
    reply = harness.command("start", "long", quote(exe), quote("/s"))
    pid = e2e.fields(reply[-1])["pid"]
    window = harness.wait_window("long", SAVER_CLASS, 15000)
    check(window is not None, "no saver window")
    check(window["rect"] == "0,0,1920,1080", "the saver covers %s, not 1920 x 1080" % window["rect"])
    unix = unix_pid(folder_of(exe))
    interval = 5000
    watcher = Watcher(bench, pid, unix, interval, total * 1000 // interval + 1)
    try:
        began = time.time()
        while time.time() - began < total:
            time.sleep(max(0, min(5, total - (time.time() - began))))
            if harness.wait("long", 0) is not None:
                raise Failure("the saver ended by itself after %.0f s" % (time.time() - began))
        pictures = [bench.screenshot("long-run-end-a")]
        time.sleep(1)
        pictures.append(bench.screenshot("long-run-end-b"))
        samples = list(watcher.samples)
    finally:
        watcher.close()
    check(len(samples) >= 3, "only %d samples of the saver's resources" % len(samples))
    start = next((s for s in samples if s["ms"] >= warm_up * 1000), samples[1])
    end = samples[-1]
    print("    %d min at 1920 x 1080, komakasa 1, wait 10; %d samples every %d s" % (minutes, len(samples),
                                                                                 interval // 1000), flush=True)
    print("    first sample:  " + figures(samples[0]), flush=True)
    print("    start (%2d s): %s" % (start["ms"] // 1000, figures(start)), flush=True)
    print("    end   (%2d s): %s" % (end["ms"] // 1000, figures(end)), flush=True)
    with open(os.path.join(bench.artifacts, "long-run-samples.txt"), "w") as log:
        for s in samples:
            log.write(" ".join("%s=%d" % item for item in sorted(s.items())) + "\n")
    check(pictures[0].data != pictures[1].data, "the picture stood still at the end of the run")
    check(colour_census(pictures[1].data)["saturated"] > 0, "no colour on the screen at the end of the run")
    check(start["gdi_table"] > 0, "the GDI count could not be read")
    check(end["gdi_table"] - start["gdi_table"] <= 2,
          "GDI objects grew from %d to %d" % (start["gdi_table"], end["gdi_table"]))
    allowance = max(4 * 1048576, start["working"] // 20)
    check(end["working"] - start["working"] <= allowance,
          "the working set grew by %.1f MiB" % ((end["working"] - start["working"]) / 1048576))
    if start["rss_kib"] > 0 and end["rss_kib"] > 0:
        check(end["rss_kib"] - start["rss_kib"] <= allowance // 1024,
              "the resident size grew by %.1f MiB" % ((end["rss_kib"] - start["rss_kib"]) / 1024))
    # Wine gives no handle count for another process (0); where it does, it must not grow.
    if start["handles"] > 0:
        check(end["handles"] - start["handles"] <= 2,
              "kernel handles grew from %d to %d" % (start["handles"], end["handles"]))
    ended = end_with_key(bench, harness, "long", window)
    check(ended is not None and ended["code"] == 0, "the saver did not end with 0 after a key")


@test("gdi-count-sees-objects")
def gdi_self_test(bench):
    line = helper(bench, "selftest")
    values = {k: int(v) for k, v in e2e.fields(line).items()}
    print("    " + line.strip(), flush=True)
    check(values.get("after", 0) - values.get("before", 0) == values.get("made"),
          "the GDI table count did not see %s new brushes: %s" % (values.get("made"), line.strip()))
    check(values["released"] == values["before"], "the count did not fall back: %s" % line.strip())


# ---------------------------------------------------------------- runner

def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "windows-x64"))
    parser.add_argument("--helper", default=os.path.join(ROOT, "build", "hardening", "kelvo-hardening-helper.exe"))
    parser.add_argument("--artifacts", default=os.path.join(ROOT, "build", "hardening-artifacts"))
    parser.add_argument("--tails", type=int, default=40)
    parser.add_argument("--seed", type=int, default=20240611)
    parser.add_argument("--minutes", type=float, default=1)
    parser.add_argument("names", nargs="*", help="run only the tests whose names contain one of these")
    args = parser.parse_args()

    for needed in (os.path.join(args.build, "kelvo.scr"), os.path.join(args.build, "kelvo-harness.exe"), args.helper):
        if not os.path.exists(needed):
            print("FAIL setup: %s is missing" % needed)
            return 1
    chosen = [t for t in TESTS if not args.names or any(n in t[0] for n in args.names)]
    # The self-test of the GDI count goes before the long run that relies on it.
    chosen.sort(key=lambda t: t[0].startswith("long-run"))

    bench = Bench(args.artifacts, args.build)
    bench.helper = args.helper
    bench.tails, bench.seed, bench.minutes = args.tails, args.seed, args.minutes
    began = time.time()
    bench.start()
    results = []
    for name, function in chosen:
        results.append(run_test(bench, name, function, os.path.join(args.artifacts, name + ".log")))
    failed = results.count("FAIL")
    print("hardening took %.0f s; pictures and samples in %s" % (time.time() - began, args.artifacts))
    print("hardening: %d passed, %d failed" % (results.count("PASS"), failed))
    release_immutable()
    bench.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
