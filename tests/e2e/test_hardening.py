"""kelvo.scr against hostile conditions: random command tails, tiny and vanishing preview parents,
settings files that cannot be written or are full of garbage, and a long run watched for growth.

The default run takes 40 random tails and a one-minute long run. The 400-tail run is marked slow and
also "extended", which pytest.ini leaves out unless a -m asks for it:
    pytest-3 tests/e2e/test_hardening.py -m extended
KELVO_SEED sets the seed of the tails and the garbage (it is printed); KELVO_LONG_RUN_MINUTES the
length of the long run (tools/long_run.sh).
"""

import copy
import os
import random
import statistics
import subprocess
import time

import pytest

import bench
from bench import IDCANCEL, IDOK, KOMAKASA_EDIT, REFUSED, SAVER_CLASS, Failure, Not, colour_census, fields, quote

SEED = int(os.environ.get("KELVO_SEED", "20240611"))
SAVER_WINDOW_FAILED = 1
HELPER = "kelvo-hardening-helper.exe"


# ---------------------------------------------------------------- the parse, as a model

def predict(tail):
    """("settings",), ("saver",), ("preview", handle number) or ("refused",) on the newer family, for a
    tail the harness passes as "exe" + blank + tail."""
    # The program-name skip steps over every byte from 0x01 to 0x20 behind the closing quote.
    text = tail.lstrip(bytes(range(1, 0x21)))
    text = text.lstrip(b" -/")
    if not text:
        return ("settings",)
    mode = chr(text[0])
    if mode in "sS":
        return ("saver",)
    if mode in "cC":
        return ("settings",)
    if mode not in "pPlL":
        return ("refused",)  # "a" on the newer family, and every other byte
    number = 0
    for byte in text[1:].lstrip(b" "):
        if not 0x30 <= byte <= 0x39:
            break
        number = (number * 10 + byte - 0x30) & 0xFFFFFFFF
    return ("preview", number) if number else ("refused",)


ALPHABET = b" -/sSpPlLcCaA:0123456789\t" + bytes([0x01, 0x1F, 0x7F, 0x80, 0x81, 0xE0, 0xFF])


def random_tails(count, seed):
    """Tails of 0 to 64 bytes from 0x01 to 0xFF: half uniform, half mostly of the bytes the parse looks
    at, so that a fair share of them pick a mode."""
    rng = random.Random(seed)
    tails = []
    while len(tails) < count:
        length = rng.randint(0, 64)
        if rng.random() < 0.5:
            tail = bytes(rng.randint(1, 255) for _ in range(length))
        else:
            tail = bytes(rng.choice(ALPHABET) if rng.random() < 0.85 else rng.randint(1, 255) for _ in range(length))
        if b"%desktop%" not in tail:  # the harness would put a window handle there
            tails.append(tail)
    return tails


def handle(number):
    return number | (0xFFFFFFFF00000000 if number >> 31 else 0)  # the program sign-extends it


def end_with_key(screen, harness, name, window):
    screen.wait_keyboard(harness, window)
    screen.key("space")
    return harness.wait(name, 10000)


def end_as_a_user_would(harness, display, name, exe, tail):
    """Runs a tail that picks a mode and ends it as a user would; returns its exit code (None for a
    preview, which is ended by force once it runs)."""
    mode = predict(tail)
    if mode[0] == "settings":
        return harness.end_dialog(name, harness.open_dialog(name, exe, tail.decode("latin-1")), IDCANCEL)
    harness.start(name, exe, tail.decode("latin-1"))
    if mode[0] == "preview":
        # Wine matches a handle with a zero high word to a window of any generation, so the number can
        # name another program's window: the preview then runs there until that window goes, which
        # the harness cannot bring about.
        def runs_there():
            ended = harness.wait(name, 0)
            return Not("it ended: %s" % ended) if ended else any(
                "class=%s " % SAVER_CLASS in line for line in harness.command("children", handle(mode[1])))
        bench.wait_until("a preview in window %d" % mode[1], runs_there, 15)
        return None
    window = harness.wait_window(name, SAVER_CLASS, 15000)
    bench.check(window is not None, "no saver window")
    ended = end_with_key(display, harness, name, window)
    bench.check(ended is not None, "still runs after a key")
    return ended["code"]


@pytest.mark.parametrize("count", [40, pytest.param(400, marks=[pytest.mark.slow, pytest.mark.extended])])
def test_random_tails_exit_as_the_parse_predicts(display, harness, folder, count):
    exe = folder()
    tails = random_tails(count, SEED)
    failures, refused, counts = [], [], {}
    for number, tail in enumerate(tails):
        kind = predict(tail)
        if kind[0] == "preview" and harness.one("describe", handle(kind[1]))[0] != "window":
            kind = ("refused",)
        counts[kind[0]] = counts.get(kind[0], 0) + 1
        if kind[0] == "refused":
            refused.append((number, tail))
            continue
        try:
            code, expected = end_as_a_user_would(harness, display, "t%d" % number, exe, tail), {
                "settings": IDCANCEL, "saver": 0, "preview": None}[kind[0]]
            bench.check(code == expected, "exit %s, the parse predicts %s" % (code, expected))
        except Failure as failure:
            failures.append("%s: %s" % (tail.hex() or "(empty)", failure))
        harness.reset()
    # The refused tails run eight at a time: none may make a window or take long.
    for first in range(0, len(refused), 8):
        batch = refused[first:first + 8]
        for number, tail in batch:
            harness.start("t%d" % number, exe, tail.decode("latin-1"))
        for number, tail in batch:
            ended = harness.wait("t%d" % number, 15000)
            if ended is None or ended["code"] != REFUSED or ended["windows"]:
                failures.append("%s: %s, the parse predicts -1 and no window" % (
                    tail.hex() or "(empty)", "still runs after 15 s" if ended is None
                    else "exit %d with windows %s" % (ended["code"], ended["classes"])))
        harness.reset()
    print("%d tails of seed %d (KELVO_SEED): %s" % (count, SEED, ", ".join("%s %d" % i for i in counts.items())))
    assert not failures, "%d tails of seed %d: %s" % (len(failures), SEED, "; ".join(failures[:10]))


# ---------------------------------------------------------------- preview parents

class Parent:
    """A popup window of an exact client size in a process of its own, as a preview parent (an
    overlapped window would be held to the minimum tracking size)."""

    def __init__(self, prefix, build, width, height):
        self.process = subprocess.Popen(["wine", build.file(HELPER), "parent", str(width), str(height)],
                                        env=prefix.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            line = bench.Lines(self.process.stdout).next(30)
        except TimeoutError:
            line = "nothing within 30 s"
        assert line and line.startswith("parent "), "the parent window was not made: %r" % line
        self.hwnd, self.client = fields(line)["hwnd"], fields(line)["client"]

    def destroy(self):
        self.process.stdin.write(b"destroy\n")
        self.process.stdin.flush()

    def close(self):
        try:
            self.process.stdin.close()
            self.process.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            bench.end_group(self.process)


@pytest.fixture
def parent(prefix, build):
    made = []

    def make(width, height):
        made.append(Parent(prefix, build, width, height))
        return made[-1]
    yield make
    for window in made:
        window.close()


@pytest.mark.parametrize("side", [0, 1, 15], ids=lambda side: "%dpx" % side)
def test_preview_in_a_tiny_parent_runs_and_ends_with_it(harness, folder, parent, side):
    window = parent(side, side)
    assert window.client == "%d,%d" % (side, side), "the parent's client area is %s" % window.client
    harness.start("preview", folder(), "/p %s" % window.hwnd)
    head, child = harness.one("waitchild", window.hwnd, quote(SAVER_CLASS), 10000)
    assert head == "found", "no preview child"
    assert child["client"] == "%d,%d" % (side, side), "the preview's client area is %s" % child["client"]
    assert harness.wait("preview", 3000) is None, "the preview ended by itself: %s" % harness.wait("preview", 0)
    window.destroy()
    ended = harness.wait("preview", 10000)
    assert ended is not None, "the preview still runs 10 s after its parent went"
    assert ended["code"] == 0


def test_parent_destroyed_while_the_preview_starts_ends_it(harness, folder):
    """The system remakes the preview's parent at each quick click in its settings. Where the race
    falls moves with the machine, so the sweep is measured against how long a preview takes here to
    show its child, and walks finely from the start to past that."""
    exe = folder()
    shown = []
    for attempt in range(3):
        harness.window("monitor", 152, 112, 600, 400)
        harness.start("measure", exe, "/p %monitor%")
        head, child = harness.one("waitchild", "monitor", quote(SAVER_CLASS), 15000)
        assert head == "found", "no preview child"
        shown.append(float(child["ms"]))
        harness.command("destroy", "monitor")
        assert harness.wait("measure", 3000) is not None, "a preview outlived its parent by 3 s"
    step = max(statistics.median(shown) / 30, 2)
    outlived, codes = [], {}
    for number in range(60):  # from 0 to twice the time to show the child
        delay = number * step
        harness.window("monitor", 152, 112, 600, 400)
        harness.start("preview", exe, "/p %monitor%")
        time.sleep(delay / 1000)
        harness.command("destroy", "monitor")
        gone = time.monotonic()
        ended = harness.wait("preview", 3000)
        if ended is None or time.monotonic() - gone > 1:
            outlived.append("%.0f ms" % delay)
            harness.command("kill", "preview")
            harness.wait("preview", 5000)
            continue
        codes[ended["code"]] = codes.get(ended["code"], 0) + 1
    print("child shown after %s ms; exit codes %s" % (shown, codes))
    assert not outlived, "previews that outlived their parent by a second, destroyed after: %s" % outlived
    # Gone before the parent was checked: refused; between the check and the window: no window;
    # after: the run ends as any preview whose parent goes.
    assert set(codes) <= {0, REFUSED, SAVER_WINDOW_FAILED}, codes


# ---------------------------------------------------------------- settings files

def dialog_field(harness, dialog):
    for line in harness.command("children", dialog["hwnd"]):
        if line.startswith("child ") and " id=%d " % KOMAKASA_EDIT in line:
            return fields(line).get("title")
    return None


def file_state(path):
    if os.path.isdir(path):
        return "a folder"
    if not os.path.exists(path):
        return None
    with open(path, "rb") as handle:
        return handle.read()


@pytest.fixture
def immutable():
    """chattr +i on a path, undone after the test; skips where the file system cannot."""
    made = []

    def make(path):
        if subprocess.run(["chattr", "+i", path], stderr=subprocess.DEVNULL).returncode != 0:
            pytest.skip("chattr +i is not possible here")
        made.append(path)
    yield make
    for path in made:
        subprocess.run(["chattr", "-i", path])


# wait=500 is shown clamped to 200, so an OK that reaches the file changes it.
STORED = "[TestScreenSaver]\r\nkomakasa=12\r\nwait=500\r\ncolmode=1\r\n"

# The stored file (or none), what makes it unwritable, and whether OK writes all the same. Run as root
# (as the tests usually are), Wine writes a file without write bits (shown as read-only); an immutable
# file or folder stops even root. "writable" shows that OK does write.
UNWRITABLE = {
    "writable": (STORED, lambda ini, make_immutable: None, True),
    "read-only-attribute": (STORED, lambda ini, make_immutable: os.chmod(ini, 0o444), os.geteuid() == 0),
    "immutable-file": (STORED, lambda ini, make_immutable: make_immutable(ini), False),
    "immutable-folder": (None, lambda ini, make_immutable: make_immutable(os.path.dirname(ini)), False),
    "ini-is-a-folder": (None, lambda ini, make_immutable: os.mkdir(ini), False),
}


@pytest.mark.parametrize("case", UNWRITABLE)
def test_ok_ends_with_1_when_the_settings_cannot_be_written(harness, folder, immutable, case):
    stored, protect, written = UNWRITABLE[case]
    exe = folder(ini=stored)
    ini = os.path.join(os.path.dirname(bench.unix_path(exe)), "kelvo.ini")
    protect(ini, immutable)
    before = file_state(ini)
    dialog = harness.open_dialog("dialog", exe)
    assert dialog_field(harness, dialog) == ("12" if stored else "8"), "the dialog does not show the stored komakasa"
    assert harness.end_dialog("dialog", dialog, IDOK) == IDOK, "OK did not end the dialog with 1"
    assert (file_state(ini) != before) == written, "the file was %s" % ("written" if written else "left as it was")


def garbage_file(seed, lines=10000):
    rng = random.Random(seed)
    out = [b"; ten thousand lines of garbage, then the real section"]
    while len(out) < lines:
        line = bytearray(rng.randint(1, 255) for _ in range(rng.randint(0, 80)))
        for _ in range(rng.randint(0, 3)):
            if line:
                line[rng.randrange(len(line))] = rng.choice(b"=[] \t;")
        out.append(bytes(b for b in line if b not in b"\r\n"))
    return b"\r\n".join(out + [b"[TestScreenSaver]", b"komakasa=5", b""])


def test_ten_thousand_lines_of_garbage_cost_little_to_open(harness, folder):
    garbage = garbage_file(SEED)
    exes = {"normal": folder(ini="[TestScreenSaver]\r\nkomakasa=5\r\n"), "garbage": folder(ini=garbage)}
    times = {"normal": [], "garbage": []}
    for round_number in range(5):
        for label, exe in exes.items():
            name = "%s%d" % (label, round_number)
            dialog = harness.open_dialog(name, exe)
            times[label].append(float(dialog["life"]))  # from the process's start to its dialog shown
            assert dialog_field(harness, dialog) == "5", "%s: not the komakasa of the section after the garbage" % label
            assert harness.end_dialog(name, dialog, IDCANCEL) == IDCANCEL, "%s: Cancel did not end it with 2" % label
    # The quickest of five starts: the machine's noise only ever adds to a start.
    normal, slow = min(times["normal"]), min(times["garbage"])
    print("dialog shown after (quickest of 5): normal file %.0f ms, %d bytes of garbage %.0f ms; all: %s"
          % (normal, len(garbage), slow, times))
    # A reading that went over the file once per line would take seconds.
    assert slow < 3 * normal + 300, "the garbage costs %.0f ms beside %.0f ms" % (slow, normal)


# ---------------------------------------------------------------- the long run, on the x64 build only

def helper_output(prefix, build, *args):
    return subprocess.run(["wine", build.file(HELPER)] + [str(a) for a in args], env=prefix.env(), timeout=60,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode(errors="replace")


# The helper counts GDI objects in the 64-bit table layout, and one long run is enough: the long run
# and the check of its count take the x64 build.
@pytest.mark.parametrize("build", ["x64"], indirect=True)
def test_gdi_count_sees_new_brushes(prefix, build):
    line = helper_output(prefix, build, "selftest")
    values = {key: int(value) for key, value in fields(line).items()}
    assert values and values["after"] - values["before"] == values["made"], line
    assert values["released"] == values["before"], line


@pytest.fixture
def full_hd(prefix64, tmp_path, request):
    """The 64-bit prefix on a 1920 x 1080 display of its own. Wine's server and desktop keep the
    display of their first program, so the server is stopped before and after."""
    screen = bench.Display(str(tmp_path), 1920, 1080)
    prefix64.stop()
    view = copy.copy(prefix64)
    view.display, view.harnesses = screen, {}
    yield view
    view.stop()
    screen.close()


def resident_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
    except (OSError, StopIteration):
        return -1


class Watcher:
    """Samples the saver through the helper's watch mode, and its Linux process's resident size."""

    def __init__(self, prefix, build, pid, unix, interval_ms, count):
        self.samples, self.unix = [], unix
        self.process = subprocess.Popen(["wine", build.file(HELPER), "watch", pid, str(interval_ms), str(count)],
                                        env=prefix.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        bench.Lines(self.process.stdout, self._sample)

    def _sample(self, line):
        if line.startswith("sample "):
            values = {key: int(value) for key, value in fields(line).items()}
            values["rss_kib"] = resident_kib(self.unix) if self.unix else -1
            self.samples.append(values)

    def close(self):
        bench.end_group(self.process)


def figures(sample):
    return "%2d s: GDI objects %d, working set %d KiB, resident %d KiB, kernel handles %s" % (
        sample["ms"] // 1000, sample["gdi_table"], sample["working"] // 1024, sample["rss_kib"],
        sample["handles"] if sample["handles"] > 0 else "not given")


@pytest.mark.slow
@pytest.mark.parametrize("build", ["x64"], indirect=True)
def test_long_run_at_1920x1080_keeps_gdi_objects_and_memory_flat(request, full_hd, build, folder, artifacts):
    total = int(float(os.environ.get("KELVO_LONG_RUN_MINUTES", "1")) * 60)
    warm_up = min(30, max(10, total // 6))
    interval = 5000
    exe = folder(ini="[TestScreenSaver]\r\nkomakasa=1\r\nwait=10\r\ncolmode=0\r\n")
    harness = full_hd.harness(build.file("kelvo-harness.exe"))
    request.node.kelvo_transcript = (harness, len(harness.transcript))
    full_hd.display.move(960, 540)
    pid = fields(harness.command("start", "long", quote(exe), quote("/s"))[-1])["pid"]
    window = harness.wait_window("long", SAVER_CLASS, 15000)
    assert window is not None, "no saver window"
    assert window["rect"] == "0,0,1920,1080", "the saver covers %s" % window["rect"]
    watcher = Watcher(full_hd, build, pid, bench.linux_pid(exe), interval,
                      total * 1000 // interval + 1)
    try:
        assert harness.wait("long", total * 1000) is None, "the saver ended by itself: %s" % harness.wait("long", 0)
        pictures = bench.new_frame(lambda label: full_hd.display.screenshot(os.path.join(artifacts, label + ".png")),
                                   "end")
        samples = list(watcher.samples)
    finally:
        watcher.close()
    with open(os.path.join(artifacts, "long-run-samples.txt"), "w") as log:
        log.writelines(" ".join("%s=%d" % item for item in sorted(s.items())) + "\n" for s in samples)
    assert len(samples) >= 3, "only %d samples of the saver's resources" % len(samples)
    start = next((s for s in samples if s["ms"] >= warm_up * 1000), samples[1])
    end = samples[-1]
    print("%d s at 1920 x 1080, komakasa 1, wait 10, a sample every %d s\nfirst %s\nstart %s\nend   %s"
          % (total, interval // 1000, figures(samples[0]), figures(start), figures(end)))
    assert colour_census(pictures[1].data)["saturated"] > 0, "no colour on the screen at the end of the run"
    assert start["gdi_table"] > 0, "the GDI count could not be read"
    assert end["gdi_table"] - start["gdi_table"] <= 2, "GDI objects grew"
    allowance = max(4 * 1048576, start["working"] // 20)
    assert end["working"] - start["working"] <= allowance, "the working set grew"
    if start["rss_kib"] > 0 and end["rss_kib"] > 0:
        assert end["rss_kib"] - start["rss_kib"] <= allowance // 1024, "the resident size grew"
    # Wine gives no handle count for another process (0); where it does, it must not grow.
    if start["handles"] > 0:
        assert end["handles"] - start["handles"] <= 2, "kernel handles grew"
    ended = end_with_key(full_hd.display, harness, "long", window)
    assert ended is not None and ended["code"] == 0, "the saver did not end with 0 after a key"
