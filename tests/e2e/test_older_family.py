"""The older Windows family (Wine's Version "win98", platform id 1): the password gate, the saver-running
notice, the password change, the AutoPlay answer and the functions kelvo.scr calls there; and the newer
family, which has none of them.

The system's password modules are test-only stand-ins (PASSWORD.CPL with VerifyScreenSavePwd, MPR.DLL
with PwdChangePasswordA) put beside a copy of kelvo.scr. They log every call and answer as the
environment tells them. kelvo.scr runs under kelvo-harness run, which reports the full 32-bit exit code
and the tick count of the end; Wine's relay trace of kelvo.scr alone (a few calls and the window
procedures) has time stamps on the same tick count. Logs and traces are kept in the test's artifacts folder.
"""

import os
import re
import shutil
import subprocess

import pytest

import bench
from bench import (DIALOG_CLASS, IDOK, KOMAKASA_EDIT, REFUSED, SAVER_CLASS, WAIT_LABEL, WAIT_SCROLL_BAR, WM_CLOSE,
                   WM_COMMAND, WM_HSCROLL, Lines, Not, fields, new_frame, quote, unix_path, wait_until, windows_path)
from test_dialog import EARLIER, SB_PAGERIGHT, probe

FULL_SCREEN_TITLE = "Screen Saver"
REASK_INTERVAL = 200  # ms after a refusal in which the saver asks no verification
DESKTOP = "HKCU\\Control Panel\\Desktop"
WINE_DEBUG = "HKCU\\Software\\Wine\\Debug"
# Few calls, so that the trace stays short; window procedures are traced in any case.
RELAY_INCLUDE = "SystemParametersInfoA;LoadLibraryA;FreeLibrary;PostMessageA"
TRACE_LINE = re.compile(r"^(\d+)\.(\d+):([0-9a-f]+):[0-9a-f]+:(Call|Ret)\s+(.*)$")
WINDOW_PROC = re.compile(r"window proc [0-9A-Fa-f]+ \(hwnd=([0-9A-Fa-f]+),msg=([^,]+),")
# Wine's relay names the saver's private verify request (0x8000) after WM_USER.
VERIFY_REQUEST = ("WM_USER+31744", "WM_APP", "8000", "00008000")


# ---------------------------------------------------------------- the bench of the family

@pytest.fixture(scope="module")
def registry(prefix64):
    """set(key, name, value) -> the value before: a REG_SZ for a str, a REG_DWORD for an int, no value for
    None. The prefix is shared with other test files, so what this module changed is put back after its
    last case."""
    current, original = {}, {}

    def read(key, name):
        out = prefix64.run(["wine", "reg", "query", key, "/v", name], check_status=False)
        for line in out.splitlines():
            words = line.split(None, 2)
            if len(words) == 3 and words[0] == name:
                return words[2].strip() if words[1] == "REG_SZ" else int(words[2], 0)
        return None

    def set_value(key, name, value):
        if (key, name) not in current:
            current[(key, name)] = original[(key, name)] = read(key, name)
        previous = current[(key, name)]
        if previous == value:
            return previous
        if value is None:
            prefix64.run(["wine", "reg", "delete", key, "/v", name, "/f"], check_status=False)
        else:
            kind = "REG_SZ" if isinstance(value, str) else "REG_DWORD"
            prefix64.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", str(value), "/f"])
        current[(key, name)] = value
        return previous

    set_value(WINE_DEBUG, "RelayInclude", RELAY_INCLUDE)
    yield set_value
    for (key, name), value in original.items():
        set_value(key, name, value)


@pytest.fixture
def family(build, prefix, registry, harness, display, artifacts, folder):
    """A case of either family; it chooses with family.use("older") or family.use("newer")."""
    made = Family(build, prefix, registry, harness, display, artifacts, folder)
    yield made
    made.abandon()


@pytest.fixture
def older(family):
    return family.use("older")


class Family:
    """What a case of either family uses: copies of kelvo.scr with stand-ins, runs."""

    def __init__(self, build, prefix, registry, harness, display, artifacts, folder):
        self.prefix, self.registry, self.harness, self.display, self.artifacts, self.folder = (
            prefix, registry, harness, display, artifacts, folder)
        self.modules = os.path.join(build.dir, "older_family")
        self.harness_exe = build.file("kelvo-harness.exe")
        self.copies, self.runs = 0, []

    def use(self, name):
        self.registry("HKCU\\Software\\Wine", "Version", {"older": "win98", "newer": None}[name])
        return self

    def password(self, value):
        """ScreenSaveUsePassword as a REG_DWORD, or no such value for None."""
        self.registry(DESKTOP, "ScreenSaveUsePassword", value)

    def platform(self):
        """What GetVersionExA tells a program started now."""
        return fields(self.prefix.run(["wine", self.harness_exe, "version"]).splitlines()[-1])["platform"]

    def copy(self, password=None, mpr=None, ini=None):
        """A copy of kelvo.scr with the stand-ins named (PASSWORD.CPL or MPR.DLL) beside it as
        PASSWORD.CPL and MPR.DLL, and a kelvo.ini of the text if given."""
        exe = self.folder(ini=ini)
        beside = os.path.dirname(unix_path(exe))
        for standin, name in ((password, "PASSWORD.CPL"), (mpr, "MPR.DLL")):
            if standin:
                shutil.copyfile(os.path.join(self.modules, standin), os.path.join(beside, name))
        self.copies += 1
        return Copy(self, exe, os.path.join(self.artifacts, "%d-standin.log" % self.copies))

    def start_full_screen(self, copy, **settings):
        """The run and its window, once X shows the window with the keyboard and it has drawn a frame."""
        self.display.move(512, 384)
        run = copy.start("/s", **settings)

        def shown():
            window = self.harness.find(SAVER_CLASS, FULL_SCREEN_TITLE)
            if window and int(window["pid"]) == run.pid and window["visible"] == "1":
                return window
            return Not("ended: %s" % run.finish(0)) if not run.running() else Not("no window yet")
        window = wait_until("kelvo.scr /s's window", shown, 15)
        assert run.running(), "kelvo.scr /s ended: %s" % run.finish(0)
        self.display.wait_keyboard(self.harness, window)
        run.wait_frame_after(int(window["hwnd"]), 0)
        return run, window

    def start_preview(self, copy):
        parent = self.harness.window("parent", 320, 240, 300, 200)
        run = copy.start("/p %s" % parent["hwnd"])
        head, child = self.harness.one("waitchild", "parent", quote(SAVER_CLASS), 15000, timeout=45)
        assert head == "found", "the preview made no child in the harness window"
        return run, child

    def alive(self, hwnd):
        head, values = self.harness.one("describe", hwnd)
        return head == "window" and values["visible"] == "1"

    def abandon(self):
        for run in self.runs:
            if run.running():
                self.harness.command("kill", run.pid)
            run.close()


class Copy:
    """A copy of kelvo.scr; its stand-ins log to a file of the artifacts."""

    def __init__(self, family, exe, log_path):
        self.family, self.exe, self.log_path = family, exe, log_path

    def log(self):
        """The stand-ins' log as (event, fields) pairs."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, encoding="utf-8", errors="replace") as handle:
            return [(line.split()[0], fields(line)) for line in handle if line.strip()]

    def events(self, kind):
        return [values for event, values in self.log() if event == kind]

    def wait_log(self, kind, count, ms):
        """The log's events of the kind, once there are count of them."""
        return wait_until("%d %s events in the stand-ins' log" % (count, kind),
                          lambda: len(self.events(kind)) >= count and self.events(kind) or
                          Not("events %s" % [event for event, _ in self.log()]), ms / 1000)

    def release(self):
        """Ends the verification that waits for it (verify_release=1)."""
        open(self.log_path + ".release", "w").close()

    def start(self, tail, overrides="", **settings):
        """Runs kelvo.scr with the tail, traced; the stand-ins' settings (KELVO_<NAME>), their log and the
        DLL overrides added to the prefix's own environment."""
        env = {"KELVO_" + key.upper(): str(value) for key, value in settings.items()}
        env["KELVO_STANDIN_LOG"] = windows_path(self.log_path)
        if env.pop("KELVO_VERIFY_RELEASE", None):
            env["KELVO_VERIFY_RELEASE"] = windows_path(self.log_path + ".release")
        env["WINEDLLOVERRIDES"] = self.family.prefix.env()["WINEDLLOVERRIDES"] + (";" + overrides if overrides else "")
        env["KELVO_CHILD_WINEDEBUG"] = "+pid,+timestamp,+loaddll,+relay"
        run = Run(self.family, self.exe, tail, self.family.prefix.env(**env),
                  os.path.join(self.family.artifacts, "%d-trace.txt" % (len(self.family.runs) + 1)))
        self.family.runs.append(run)
        return run


class Run:
    """kelvo.scr started by kelvo-harness run, its relay trace going to a file."""

    def __init__(self, family, exe, tail, env, trace_path):
        self.tail, self.trace_path, self.result = tail, trace_path, None
        self.trace_file = open(trace_path, "w")
        self.process = subprocess.Popen(["wine", family.harness_exe, "run", exe, tail, "60000"], env=env,
                                        stdout=subprocess.PIPE, stderr=self.trace_file, start_new_session=True)
        self.lines = Lines(self.process.stdout)
        started = self._line(30)
        assert started and started.startswith("started"), "the harness did not start kelvo.scr %s: %s" % (tail, started)
        self.pid = int(fields(started)["pid"])

    def _line(self, seconds):
        try:
            line = self.lines.next(seconds)
            while line is not None and not line.startswith(("started", "exit", "running", "failed")):
                line = self.lines.next(seconds)
            return line
        except TimeoutError:
            return None

    def finish(self, ms):
        """{"code", "tick"} of kelvo.scr's end, or None while it still runs after ms."""
        if self.result is None:
            line = self._line(ms / 1000)
            if line is None or not line.startswith("exit"):
                return None
            self.result = {key: int(fields(line)[key]) for key in ("code", "tick", "windows")}
            self.close()
        return self.result

    def ends_with_zero(self, what, ms=15000):
        result = self.finish(ms)
        assert result is not None, "%s: kelvo.scr %s still runs %d ms later" % (what, self.tail, ms)
        assert result["code"] == 0, "%s: exit code %d" % (what, result["code"])
        return result

    def running(self):
        return self.result is None and self.process.poll() is None

    def close(self):
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.trace_file.close()

    def trace(self):
        return Trace(self.trace_path, self.pid)

    def wait_trace(self, what, condition, seconds=15):
        """The trace once condition(trace) holds; returns what it gave."""
        return wait_until("%s in the trace" % what, lambda: condition(self.trace()) or Not("not in it yet"), seconds)

    def wait_frame_after(self, hwnd, tick):
        """Until the saver draws a frame later than the tick, by its own clock."""
        self.wait_trace("a frame after tick %d" % tick,
                        lambda t: [m for m in t.messages(hwnd, ("WM_TIMER",)) if m[1] > tick])


class Trace:
    """The relay lines of one process: (tick, "Call" or "Ret", text)."""

    def __init__(self, path, pid):
        self.lines = []
        with open(path, errors="replace") as handle:
            for raw in handle:
                match = TRACE_LINE.match(raw.rstrip("\n"))
                if match and int(match.group(3), 16) == pid:
                    tick = int(match.group(1)) * 1000 + int(match.group(2).ljust(3, "0")[:3])
                    self.lines.append((tick, match.group(4), match.group(5)))

    def calls(self, pattern):
        """(index, tick, match) of the calls whose text matches."""
        return [(index, tick, match) for index, (tick, kind, text) in enumerate(self.lines)
                for match in [re.search(pattern, text)] if kind == "Call" and match]

    def returned(self, index, name):
        """The return value of the call at index: that of the next return of the function."""
        for tick, kind, text in self.lines[index + 1:]:
            if kind == "Ret" and name + "()" in text:
                return int(re.search(r"retval=([0-9a-f]+)", text).group(1), 16)
        return None

    def messages(self, hwnd, names=None, since=0):
        """The window procedure calls for the window from the line index on, of the names if given:
        (index, tick, message name)."""
        return [(index, tick, match.group(2)) for index, tick, match in self.calls(WINDOW_PROC.pattern)
                if int(match.group(1), 16) == hwnd and index >= since and (names is None or match.group(2) in names)]

    def message_return(self, index):
        """The index of the return from the window procedure call at index."""
        call = WINDOW_PROC.search(self.lines[index][2]).groups()[:2]
        for later in range(index + 1, len(self.lines)):
            match = WINDOW_PROC.search(self.lines[later][2])
            if self.lines[later][1] == "Ret" and match and match.groups()[:2] == call:
                return later
        return len(self.lines)

    def posted_closes(self, hwnd):
        return [index for index, _, match in self.calls(r"PostMessageA\(([0-9a-f]+),([0-9a-f]+),")
                if int(match.group(1), 16) == hwnd and int(match.group(2), 16) == WM_CLOSE]

    def password_module_loads(self):
        """(index, module handle) of the LoadLibraryA("PASSWORD.CPL") calls."""
        return [(index, self.returned(index, "LoadLibraryA"))
                for index, _, _ in self.calls(r'LoadLibraryA\([0-9a-f]+ "(?i:password\.cpl)"\)')]


# ---------------------------------------------------------------- shared checks

def check_notice(trace, loaded):
    """The saver-running notice: SystemParametersInfoA(97, 1) after the load of the password module and
    (97, 0) after its release, once each; never when no verification was loaded."""
    notices = [(index, int(match.group(1), 16))
               for index, _, match in trace.calls(r"SystemParametersInfoA\(00000061,([0-9a-f]+),")]
    if not loaded:
        assert not notices, "SystemParametersInfoA(97, flag) called with flags %s" % [f for _, f in notices]
        return
    assert [flag for _, flag in notices] == [1, 0], "SystemParametersInfoA(97, flag) with flags %s" % notices
    loads = [load for load in trace.password_module_loads() if load[1]]
    assert len(loads) == 1, "%d loads of PASSWORD.CPL" % len(loads)
    frees = [index for index, _, match in trace.calls(r"FreeLibrary\(([0-9a-f]+)\)")
             if int(match.group(1), 16) == loads[0][1]]
    assert len(frees) == 1, "PASSWORD.CPL released %d times" % len(frees)
    order = [loads[0][0], notices[0][0], frees[0], notices[1][0]]
    assert order == sorted(order), "load, notice on, release, notice off at trace lines %s" % order


def check_ends_within_a_second(family, run, hwnd, tick, what):
    """The window gone and the process ended with 0, by the system's tick count under a second after
    the saver met the input (at tick): the saver's own time, whatever the tracing costs the bench."""
    assert family.harness.wait_gone(hwnd, 10000)[0], "the window outlived %s by 10 s" % what
    result = run.ends_with_zero(what, 10000)
    print("%s: the process ended %d ms after the saver met it" % (what, result["tick"] - tick))
    assert result["tick"] - tick < 1000, "the process ended %d ms after %s" % (result["tick"] - tick, what)


def check_first_input_ends_at_once(family, run, window):
    """A key's WM_CLOSE goes straight to the window's destruction, with no verification."""
    hwnd = int(window["hwnd"])
    family.display.key("space")
    key = run.wait_trace("the key", lambda trace: trace.messages(hwnd, ("WM_KEYDOWN",)))[0]
    check_ends_within_a_second(family, run, hwnd, key[1], "a key")
    trace = run.trace()
    messages = trace.messages(hwnd)
    seen = {name: [m for m in messages if m[2] == name] for name in ("WM_CLOSE", "WM_DESTROY")}
    assert all(seen.values()), "the trace lacks WM_CLOSE or WM_DESTROY: %s" % seen
    close, destroy = seen["WM_CLOSE"], seen["WM_DESTROY"][0]
    assert len(close) == 1 and key[0] < close[0][0] < destroy[0], "not key, one WM_CLOSE, destruction: %s" % seen
    assert not [m for m in messages if m[2] in VERIFY_REQUEST], "a verify request was sent"
    return trace


def black_share(pixels):
    """The share of black among every seventh pixel of RGB bytes."""
    samples = range(0, len(pixels) - 2, 21)
    return sum(1 for i in samples if pixels[i:i + 3] == b"\0\0\0") / len(samples)


# ---------------------------------------------------------------- the cases

@pytest.mark.parametrize("name, platform", [("older", 1), ("newer", 2)])
def test_probe_sees_family(family, name, platform):
    assert family.use(name).platform() == str(platform)


def test_refusal_keeps_saver_drops_input_for_200ms_then_acceptance_ends_it(older, display, screenshot):
    older.password(1)
    copy = older.copy(password="PASSWORD.CPL")
    # The stand-in sleeps through its verification without dispatching, so that keys typed meanwhile
    # reach the saver right after the refusal; it refuses when the test releases it.
    run, window = older.start_full_screen(copy, verify_answers="0,1", verify_release=1, verify_pump=0)
    hwnd = int(window["hwnd"])
    loads = copy.events("load")
    assert len(loads) == 1 and int(loads[0]["pid"]) == run.pid, "PASSWORD.CPL not loaded by the saver: %s" % loads
    assert not copy.events("verify"), "a verification ran before any input"

    display.key("space")
    calls = copy.wait_log("verify", 1, 5000)
    assert len(calls) == 1, "a key asked %d verifications" % len(calls)
    assert (int(calls[0]["hwnd"]), calls[0]["class"], calls[0]["title"], calls[0]["own_thread"]) == (
        hwnd, SAVER_CLASS, FULL_SCREEN_TITLE, "1"), "the verification got another window or thread: %s" % calls[0]

    # Two quick keys while it asks; the stand-in shows the pointer meanwhile, as a password dialog would.
    display.key("space", "space")
    shown = older.harness.one("cursor")[1]
    assert shown["handle"] != "0", "the stand-in's pointer is not seen during the verification"
    copy.release()
    returns = copy.wait_log("verify-return", 1, 10000)
    assert returns[0]["answer"] == "0", "the first verification did not refuse: %s" % returns
    refused_tick = int(returns[0]["tick"])
    # The keys come to the saver after the refusal, and it draws on: nothing more will come of them.
    request = run.wait_trace("the verify request", lambda t: t.messages(hwnd, VERIFY_REQUEST))[0][0]
    run.wait_trace("the two keys' WM_CLOSE", lambda t: len(t.messages(hwnd, ("WM_CLOSE",), request)) >= 2)
    run.wait_frame_after(hwnd, refused_tick + REASK_INTERVAL)
    first, second = new_frame(screenshot, "refused")
    assert len(copy.events("verify")) == 1, "the keys right after the refusal asked again"
    assert run.running() and older.alive(hwnd), "a refused verification ended the saver"
    hidden = older.harness.one("cursor")[1]
    assert hidden["handle"] == "0", "the cursor is %s after the refusal, not hidden" % hidden["handle"]
    assert min(black_share(first.data), black_share(second.data)) >= 0.6, "not the saver's picture after the refusal"

    display.key("space")
    calls = copy.wait_log("verify", 2, 5000)
    assert len(calls) == 2 and int(calls[1]["hwnd"]) == hwnd, "a later key asked no verification of the saver"
    assert int(calls[1]["tick"]) - refused_tick >= REASK_INTERVAL
    accepted = copy.wait_log("verify-return", 2, 5000)
    check_ends_within_a_second(older, run, hwnd, int(accepted[1]["tick"]), "an accepted verification")
    assert run.result["tick"] >= int(accepted[1]["tick"]), "the process ended before the verification returned"

    trace = run.trace()
    messages = trace.messages(hwnd)
    requests = [m for m in messages if m[2] in VERIFY_REQUEST]
    assert len(requests) == 2, "%d verify requests in the trace" % len(requests)
    between = [m for m in messages if requests[0][0] < m[0] < requests[1][0] and m[1] - refused_tick <= REASK_INTERVAL]
    keys, closes = ([m for m in between if m[2] == name] for name in ("WM_KEYDOWN", "WM_CLOSE"))
    assert len(keys) >= 2 and len(closes) >= 2, "within 200 ms of the refusal: %d keys, %d WM_CLOSE" % (
        len(keys), len(closes))
    # The refusal itself hid the cursor, not a WM_SETCURSOR in the meantime.
    assert not [m for m in messages if m[2] == "WM_SETCURSOR" and refused_tick - 20 <= m[1] <= int(hidden["tick"])]
    check_notice(trace, loaded=True)
    assert copy.events("unload"), "PASSWORD.CPL was never released"


def test_input_during_verification_posts_no_close(older, display):
    older.password(1)
    copy = older.copy(password="PASSWORD.CPL")
    # This time the stand-in dispatches the thread's messages while it asks, as a modal dialog does.
    run, window = older.start_full_screen(copy, verify_answers="0,1", verify_release=1, verify_pump=1)
    display.wait_pointer(older.harness, window)  # the click below must reach it
    hwnd = int(window["hwnd"])
    display.key("space")
    assert len(copy.wait_log("verify", 1, 5000)) == 1, "a key asked no verification"
    request = run.wait_trace("the verify request", lambda t: t.messages(hwnd, VERIFY_REQUEST))[0][0]
    display.key("space", "Return")
    display.click(1)
    run.wait_trace("the input during the verification",
                   lambda t: len(t.messages(hwnd, ("WM_KEYDOWN", "WM_LBUTTONDOWN"), request)) >= 3)
    copy.release()
    assert copy.wait_log("verify-return", 1, 10000)[0]["answer"] == "0"
    run.wait_frame_after(hwnd, int(copy.events("verify-return")[0]["tick"]) + REASK_INTERVAL)
    assert len(copy.events("verify")) == 1, "input during the verification led to another one"
    assert run.running() and older.alive(hwnd), "a refused verification ended the saver"

    display.key("space")
    assert len(copy.wait_log("verify", 2, 5000)) == 2, "a key after the refusal asked no verification"
    run.ends_with_zero("acceptance")
    trace = run.trace()
    inside = (request, trace.message_return(request))
    inputs = trace.messages(hwnd, ("WM_KEYDOWN", "WM_LBUTTONDOWN"), inside[0])
    assert len([m for m in inputs if m[0] < inside[1]]) >= 3, "not 3 key presses or clicks during the verification"
    assert not [i for i in trace.posted_closes(hwnd) if inside[0] < i < inside[1]], "input there posted WM_CLOSE"
    check_notice(trace, loaded=True)


ACTIVATION = ("WM_ACTIVATEAPP", "WM_ACTIVATE", "WM_NCACTIVATE", "WM_KILLFOCUS")


@pytest.mark.parametrize("answer", [0, 1], ids=["refused", "accepted"])
@pytest.mark.parametrize("taker", bench.FOREGROUND_TAKERS)
def test_loss_of_activation_asks_the_gate(older, x_program, screenshot, taker, answer):
    older.password(1)
    copy = older.copy(password="PASSWORD.CPL")
    other = older.harness.window("other", 300, 200, 400, 40)
    run, window = older.start_full_screen(copy, verify_answers=answer)
    hwnd = int(window["hwnd"])
    before = len(run.trace().lines)
    bench.FOREGROUND_TAKERS[taker](older.display, older.harness, x_program)
    calls = copy.wait_log("verify", 1, 3000)
    assert len(calls) == 1 and int(calls[0]["hwnd"]) == hwnd, "the loss asked %d verifications" % len(calls)
    # From the saver's hearing of the loss to its asking, by the system's tick count.
    lost = [m for m in run.trace().messages(hwnd, ACTIVATION, before) if m[1] <= int(calls[0]["tick"])]
    assert lost, "no loss of activation in the trace before the verification"
    assert int(calls[0]["tick"]) - lost[0][1] < 1000, "the verification came %d ms after the loss" % (
        int(calls[0]["tick"]) - lost[0][1])
    if answer:
        check_ends_within_a_second(older, run, hwnd, int(copy.wait_log("verify-return", 1, 5000)[0]["tick"]), taker)
    else:
        run.wait_frame_after(hwnd, int(copy.wait_log("verify-return", 1, 5000)[0]["tick"]) + 1000)
        assert run.running() and older.alive(hwnd), "a refused verification ended the saver"
        assert len(copy.events("verify")) == 1, "the saver asked again without input"
        # Still in front, being topmost: neither program that took the foreground shows over it. A Windows
        # program's activation changes Wine's foreground alone (Wine 8 asks openbox for no activation and
        # the X stacking stays), so only the X program's row would show a window over a saver that is not.
        assert older.harness.one("describe", hwnd)[1]["topmost"] == "1", "the saver is no longer topmost"
        picture = screenshot("refused")
        geometry = re.search(r"Position: (\d+),(\d+).*Geometry: (\d+)x(\d+)",
                             older.display.xdotool("getwindowgeometry", x_program), re.S)
        x, y, width, height = map(int, geometry.groups())
        for left, top, right, bottom in ((x, y, x + width, y + height), map(int, other["rect"].split(","))):
            assert black_share(picture.region(left, top, right, bottom)) >= 0.6, "a window shows over the saver"


# Full screen with no verification loaded: (family, ScreenSaveUsePassword, stand-in put as PASSWORD.CPL).
WITHOUT_VERIFICATION = {
    "older-without-password-value": ("older", None, "PASSWORD.CPL"),
    "older-password-value-0": ("older", 0, "PASSWORD.CPL"),
    "older-module-without-verify-function": ("older", 1, "MPR.DLL"),
    "newer-password-value-1": ("newer", 1, "PASSWORD.CPL"),
}


@pytest.mark.parametrize("row", WITHOUT_VERIFICATION)
def test_first_input_ends_saver_without_verification(family, row):
    name, password, module = WITHOUT_VERIFICATION[row]
    family.use(name)
    family.password(password)
    copy = family.copy(password=module)
    run, window = family.start_full_screen(copy)
    tried = name == "older" and password == 1
    # A module without VerifyScreenSavePwd is released before any input.
    assert [event for event, _ in copy.log()] == (["load", "unload"] if tried else []), copy.log()
    trace = check_first_input_ends_at_once(family, run, window)
    assert bool(trace.password_module_loads()) == tried
    check_notice(trace, loaded=False)


# Where the AutoPlay query comes: (family, preview, ScreenSaveUsePassword).
AUTOPLAY = {
    "older-full-screen-password": ("older", False, 1),
    "older-full-screen-no-password": ("older", False, None),
    "older-preview-password": ("older", True, 1),
    "newer-full-screen-password": ("newer", False, 1),
    "newer-preview-password": ("newer", True, 1),
}


@pytest.mark.parametrize("row", AUTOPLAY)
def test_autoplay_query(family, row):
    """The older family answers 1 while a verification is loaded (full screen with a password), else 0,
    and ends the run, through the gate; the newer family answers 0 and runs on."""
    family_name, preview, password = AUTOPLAY[row]
    family.use(family_name).password(password)
    copy = family.copy(password="PASSWORD.CPL")
    run, window = family.start_preview(copy) if preview else family.start_full_screen(copy)
    hwnd = int(window["hwnd"])
    gated, ends = family_name == "older" and not preview and password == 1, family_name == "older"
    before = len(run.trace().lines)
    reply = family.harness.command("send", hwnd, "QueryCancelAutoPlay", 0, 0)
    assert reply[-1].startswith("result 1 "), "the AutoPlay query was not delivered: %s" % reply
    assert int(fields(reply[-1])["value"]) == int(gated), "the AutoPlay query's answer"
    if ends:
        # Wine's relay names a registered message by its name, quoted.
        query = run.wait_trace("the query", lambda t: t.messages(hwnd, ('"QueryCancelAutoPlay"',), before))
        check_ends_within_a_second(family, run, hwnd, query[0][1], "the AutoPlay query")
    else:
        gone, _ = family.harness.wait_gone(hwnd, 1500)
        assert not gone and run.running(), "the AutoPlay query ended the newer family's saver"
    trace = run.trace()
    assert bool(trace.posted_closes(hwnd)) == ends
    assert [event for event, _ in copy.log()] == (["load", "verify", "verify-return", "unload"] if gated else [])
    assert all(int(call["hwnd"]) == hwnd for call in copy.events("verify")), "another window was verified"
    check_notice(trace, loaded=gated)


# The owner of the password change: the window the tail names, else the foreground window.
CHANGE_TAILS = {"a": ("/a", "front"), "a-N": ("/a %(owner)s", "owner"), "a-colon-N": ("/a:%(owner)s", "front"),
                "capital-A-spaces-N": ("-A   %(owner)s", "owner")}


@pytest.mark.parametrize("tail", CHANGE_TAILS)
def test_password_change_calls_module_once_with_owner(older, tail):
    windows = {name: older.harness.window(name, 160, 120, x, 40)["hwnd"] for name, x in (("owner", 40), ("front", 600))}
    assert older.harness.command("activate", "front")[-1] == "foreground %s" % windows["front"]
    pattern, owner = CHANGE_TAILS[tail]
    copy = older.copy(mpr="MPR.DLL")
    run = copy.start(pattern % windows, overrides="mpr=n,b", change_delay_ms=1000, change_result=5)
    result = run.ends_with_zero(tail, 20000)
    calls, returns = copy.events("change"), copy.events("change-return")
    assert len(calls) == len(returns) == 1, "PwdChangePasswordA called %d times" % len(calls)
    assert (calls[0]["provider"], calls[0]["owner"], calls[0]["reserved1"], calls[0]["reserved2"]) == (
        "SCRSAVE", windows[owner], "0", "0")
    assert calls[0]["foreground"] == windows["front"], "the foreground window changed"
    assert int(returns[0]["tick"]) - int(calls[0]["tick"]) >= 900, "the stand-in returned too soon"
    assert result["tick"] >= int(returns[0]["tick"]), "the process ended before the call returned"
    assert len(copy.events("unload")) == 1, "MPR.DLL was not released"


# /a where nothing changes a password: (family, stand-in put as MPR.DLL, DLL overrides, exit code).
CHANGE_IMPOSSIBLE = {
    "older-no-mpr": ("older", None, "mpr=", 0),
    "older-wines-own-mpr": ("older", None, "", 0),
    "newer-mpr-standin": ("newer", "MPR.DLL", "mpr=n,b", REFUSED),
}


@pytest.mark.parametrize("row", CHANGE_IMPOSSIBLE)
def test_password_change_impossible_shows_nothing(family, row):
    name, module, overrides, code = CHANGE_IMPOSSIBLE[row]
    copy = family.use(name).copy(mpr=module)
    result = copy.start("/a", overrides).finish(20000)
    assert result is not None, "/a still runs after 20 s"
    assert (result["code"], result["windows"]) == (code, 0), result
    assert not copy.log(), "a stand-in was loaded"


# ---------------------------------------------------------------- the functions the older family has

EXPORTS = os.path.join(bench.ROOT, "tools", "older_family_exports.txt")
# The noisiest of Wine's own calls. kelvo.scr reaches only the first two, as kernel32's EnterCriticalSection
# and LeaveCriticalSection, which the older family has.
RELAY_EXCLUDE = ("RtlEnterCriticalSection;RtlLeaveCriticalSection;ntdll.RtlFreeHeap;ntdll.memmove;ntdll.memcmp;"
                 "ntdll.RtlCompareUnicodeStrings;ucrtbase.isspace")
CALL_LINE = re.compile(r"^\d+\.\d+:([0-9a-f]+):[0-9a-f]+:Call ([^.(\s]+)\.([^(\s]+)\((.*)\) ret=([0-9a-f]+)$")
LOADED = re.compile(r'^\d+\.\d+:([0-9a-f]+):[0-9a-f]+:trace:loaddll:build_module Loaded L"(.*)" at ([0-9A-Fa-f]+)')
# Wine's kernel32 forwards these to ntdll, and the relay names them there.
FORWARDED = {"ntdll.dll %s" % name: "kernel32.dll %s" % name.replace("Rtl", "", 1) for name in (
    "RtlInitializeCriticalSection", "RtlEnterCriticalSection", "RtlLeaveCriticalSection",
    "RtlDeleteCriticalSection", "__C_specific_handler")}
# What the x64 runtime calls where the x86 one has no such function (__iob_func for _iob, the exception
# handler). That build stands in for the older family where Wine runs no 32-bit programs.
X64_RUNTIME = {"kernel32.dll __C_specific_handler", "msvcrt.dll __iob_func"}
# Leading zeros: the file after OK shows whether every value was written back.
SETTINGS = "[TestScreenSaver]\r\nkomakasa=05\r\nwait=25\r\ncolmode=02\r\n"


@pytest.fixture
def whole_relay(registry):
    """Every call of the case's runs traced but the noisiest of Wine's own; the module's list after it."""
    before = {name: registry(WINE_DEBUG, name, value)
              for name, value in (("RelayInclude", None), ("RelayExclude", RELAY_EXCLUDE))}
    yield
    for name, value in before.items():
        registry(WINE_DEBUG, name, value)


def own_calls(run, exe):
    """The calls from kelvo.scr's own image, by their return addresses: "module function" -> argument lists.
    Its base is where Wine loaded it; its size, SizeOfImage of its PE header."""
    with open(unix_path(exe), "rb") as image:
        header = image.read(4096)
    size = int.from_bytes(header[int.from_bytes(header[0x3C:0x40], "little") + 80:][:4], "little")
    calls, base = {}, None
    with open(run.trace_path, errors="replace") as trace:
        for line in trace:
            loaded, call = LOADED.match(line), CALL_LINE.match(line.rstrip("\n"))
            if loaded and int(loaded.group(1), 16) == run.pid and loaded.group(2).lower().endswith("\\kelvo.scr"):
                base = int(loaded.group(3), 16)
            elif call and base is not None and int(call.group(1), 16) == run.pid and \
                    base <= int(call.group(5), 16) < base + size:
                name = "%s.dll %s" % (call.group(2).lower(), call.group(3))
                calls.setdefault(FORWARDED.get(name, name), []).append(call.group(4).split(","))
    assert base is not None, "no load of kelvo.scr in %s" % run.trace_path
    return calls


def timer_intervals(calls, hwnd):
    return [int(args[2], 16) for args in calls.get("user32.dll SetTimer", []) if int(args[0], 16) == hwnd]


def test_older_family_calls_only_what_it_has_and_keeps_the_settings(older, whole_relay, build):
    """/s, /p, /c and /a call only functions Windows 95, 98, ME and NT 4.0 all have, and kelvo.ini goes
    through them: the saver and the preview draw at its wait, the dialog shows it and OK writes it."""
    with open(EXPORTS) as listed:
        has = {"%s %s" % (words[0].lower(), words[1]) for words in map(str.split, listed)
               if words and not words[0].startswith("#")}
    has |= X64_RUNTIME if build.name == "x64" else set()
    runs = {}

    copy = older.copy(ini=SETTINGS)
    run, window = older.start_full_screen(copy)
    older.display.key("space")
    run.ends_with_zero("a key")
    runs["/s"] = own_calls(run, copy.exe)
    assert timer_intervals(runs["/s"], int(window["hwnd"])) == [25], "/s: not the file's wait of 25 ms"

    copy = older.copy(ini=SETTINGS)
    run, child = older.start_preview(copy)
    run.wait_frame_after(int(child["hwnd"]), 0)
    older.harness.command("destroy", "parent")
    run.ends_with_zero("the parent's destruction")
    runs["/p"] = own_calls(run, copy.exe)
    assert timer_intervals(runs["/p"], int(child["hwnd"])) == [25], "/p: not the file's wait of 25 ms"

    owner = older.harness.window("owner", 240, 120, 40, 560)["hwnd"]
    copy = older.copy(ini=SETTINGS)
    run = copy.start("/c:%s" % owner)

    def shown():
        found = older.harness.find(DIALOG_CLASS)
        return found if found and int(found["pid"]) == run.pid else Not("found %s" % found)
    dialog = wait_until("the dialog of /c", shown, 15)
    records = probe(older.prefix, build, "state", dialog["hwnd"])
    state, controls = {r["what"]: r for r in records}, {r["id"]: r for r in records if r["what"] == "control"}
    values = (state["list"]["selected"], state["scroll"]["position"], controls[WAIT_LABEL]["text"],
              controls[KOMAKASA_EDIT]["text"])
    assert values == (2, 25, " 25", "5"), "the dialog shows (colmode, wait, label, komakasa) %s" % (values,)
    older.harness.command("send", dialog["hwnd"], WM_HSCROLL, SB_PAGERIGHT, controls[WAIT_SCROLL_BAR]["hwnd"])
    older.harness.command("post", dialog["hwnd"], WM_COMMAND, IDOK, 0)
    result = run.finish(15000)
    assert result and result["code"] == 1, "OK: %s" % result
    with open(os.path.join(os.path.dirname(unix_path(copy.exe)), "kelvo.ini"), "rb") as written:
        assert written.read() == EARLIER.format(5, 35, 2).encode(), "OK did not write the dialog's values"
    runs["/c"] = own_calls(run, copy.exe)

    copy = older.copy(mpr="MPR.DLL")
    run = copy.start("/a %s" % owner, overrides="mpr=n,b")
    run.ends_with_zero("/a", 20000)
    assert len(copy.events("change")) == 1, "PwdChangePasswordA was not called once"
    runs["/a"] = own_calls(run, copy.exe)

    for tail, calls in runs.items():
        print("kelvo.scr %s calls %s" % (tail, ", ".join("%s (%d)" % (n, len(a)) for n, a in sorted(calls.items()))))
    lacking = {tail: sorted(name for name in calls if name not in has) for tail, calls in runs.items()}
    assert not any(lacking.values()), "kelvo.scr calls what the older family lacks or only stubs: %s" % "; ".join(
        "%s: %s" % (tail, ", ".join(names)) for tail, names in lacking.items() if names)
