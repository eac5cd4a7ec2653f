#!/usr/bin/env python3
"""The older Windows family end to end: kelvo.scr under Wine set to report platform id 1.

    python3 tests/e2e/older_family/run_tests.py [--build DIR] [--artifacts DIR] [NAME...]

Wine reports the older family when HKCU\\Software\\Wine "Version" is "win98". The system's password
modules are played by test-only stand-ins built from this folder ("PASSWORD.CPL" with
"VerifyScreenSavePwd", "MPR.DLL" with "PwdChangePasswordA"), copied beside a copy of kelvo.scr.
They log every call to a file and answer as the environment tells them. kelvo.scr is started by
kelvo-older-probe, which reports the full 32-bit exit code and the tick count when the process
ended; Wine's relay trace of the run (restricted to a few functions and the window procedures)
is kept, with time stamps on the same tick count as the stand-ins' log.

Prints PASS or FAIL per test and exits nonzero when any test fails.
"""

import argparse
import os
import queue
import re
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

from e2e import REFUSED, ROOT, Bench, Failure, check, fields, quote, windows_path  # noqa: E402

SAVER_CLASS = "WindowsScreenSaverClass"
FULL_SCREEN_TITLE = "Screen Saver"
REASK_INTERVAL = 200
WM_CLOSE = 0x0010
BASE_OVERRIDES = "mscoree,mshtml="
# Kept small so that the trace stays short; window procedures are traced in any case.
RELAY_INCLUDE = "SystemParametersInfoA;LoadLibraryA;FreeLibrary;PostMessageA"

TESTS = []


def test(name):
    def register(function):
        TESTS.append((name, function))
        return function
    return register


def note(text):
    print("    " + text, flush=True)


# ---------------------------------------------------------------- the bench of this family

class Family:
    """Shared state of a run: the bench, one harness that owns windows, and the build."""

    def __init__(self, bench, build):
        self.bench = bench
        self.build = build
        self.probe = os.path.join(build, "older_family", "kelvo-older-probe.exe")
        self.password_standin = os.path.join(build, "older_family", "PASSWORD.CPL")
        self.mpr_standin = os.path.join(build, "older_family", "MPR.DLL")
        self.harness = None
        self.family = None
        self.runs = []
        self.scenarios = []

    def reg(self, *argv):
        self.bench.wine_command(["wine", "reg"] + list(argv), timeout=60)

    def set_family(self, older):
        if self.family == older:
            return
        if older:
            self.reg("add", "HKCU\\Software\\Wine", "/v", "Version", "/t", "REG_SZ", "/d", "win98", "/f")
        else:
            self.bench.wine_command(["wine", "reg", "delete", "HKCU\\Software\\Wine", "/v", "Version", "/f"],
                                    check_status=False)
        self.family = older

    def set_password(self, value):
        """"ScreenSaveUsePassword" as a REG_DWORD, or no such value for None."""
        key = "HKCU\\Control Panel\\Desktop"
        if value is None:
            self.bench.wine_command(["wine", "reg", "delete", key, "/v", "ScreenSaveUsePassword", "/f"],
                                    check_status=False)
        else:
            self.reg("add", key, "/v", "ScreenSaveUsePassword", "/t", "REG_DWORD", "/d", str(value), "/f")

    def probe_line(self, *words):
        out = self.bench.wine_command(["wine", self.probe] + [str(w) for w in words], timeout=60)
        lines = [l.strip() for l in out.splitlines() if l.strip() and not l.startswith(("wine:", "fixme:", "err:"))]
        check(lines, "kelvo-older-probe %s said nothing" % " ".join(str(w) for w in words))
        return lines[-1]

    def platform_id(self):
        return int(fields(self.probe_line("version"))["platform"])

    def message_id(self, name):
        return int(fields(self.probe_line("message", name))["message"])

    def cursor(self):
        return fields(self.probe_line("cursor"))

    def scenario(self, name, password_cpl=None, mpr_dll=None):
        """A folder of its own with a copy of kelvo.scr and the chosen stand-ins beside it."""
        exe = self.bench.scenario(name)
        folder = os.path.dirname(exe[2:].replace("\\", "/"))
        for source, target in ((password_cpl, "PASSWORD.CPL"), (mpr_dll, "MPR.DLL")):
            if source:
                shutil.copyfile(source, os.path.join(folder, target))
        scenario = Scenario(self, name, folder, exe)
        self.scenarios.append(scenario)
        return scenario

    def keep_evidence(self, test_name, artifacts):
        """Copies the stand-ins' logs and the relay traces of the test's scenarios to the artifacts."""
        for number, scenario in enumerate(self.scenarios, 1):
            for source, kind in ((scenario.log_path, "standin.log"), (os.path.join(scenario.folder, "trace.txt"),
                                                                       "trace.txt")):
                if os.path.exists(source):
                    shutil.copyfile(source, os.path.join(artifacts, "%s-%d-%s-%s" %
                                                         (test_name, number, scenario.name, kind)))
        self.scenarios = []

    def finish_runs(self):
        for run in self.runs:
            run.abandon()
        self.runs = []


class Scenario:
    def __init__(self, family, name, folder, exe):
        self.family = family
        self.name = name
        self.folder = folder
        self.exe = exe
        self.log_path = os.path.join(folder, "standin.log")

    def log(self):
        """The stand-ins' log as (event, fields) pairs."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, encoding="utf-8", errors="replace") as handle:
            return [(line.split()[0], fields(line)) for line in handle if line.strip()]

    def events(self, kind):
        return [values for event, values in self.log() if event == kind]

    def wait_log(self, kind, count, ms):
        deadline = time.time() + ms / 1000
        while time.time() < deadline:
            found = self.events(kind)
            if len(found) >= count:
                return found
            time.sleep(0.01)
        return self.events(kind)

    def start(self, tail, overrides="", timeout_ms=60000, **settings):
        """Starts kelvo.scr through the probe with the stand-ins' settings in its environment."""
        env = self.family.bench.env()
        env["WINEDLLOVERRIDES"] = BASE_OVERRIDES + (";" + overrides if overrides else "")
        env["WINEDEBUG"] = "+pid,+timestamp,+relay"
        env["KELVO_STANDIN_LOG"] = windows_path(self.log_path)
        for key, value in settings.items():
            env["KELVO_" + key.upper()] = str(value)
        run = Run(self.family, self, tail, env, timeout_ms)
        self.family.runs.append(run)
        return run


class Run:
    """kelvo.scr started by kelvo-older-probe, with the relay trace of the run in a file."""

    def __init__(self, family, scenario, tail, env, timeout_ms):
        self.family = family
        self.tail = tail
        self.trace_path = os.path.join(scenario.folder, "trace.txt")
        self.trace_file = open(self.trace_path, "w")
        self.process = subprocess.Popen(["wine", family.probe, "run", scenario.exe, tail, str(timeout_ms)],
                                        env=env, stdout=subprocess.PIPE, stderr=self.trace_file,
                                        start_new_session=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.pid = None
        self.result = None
        started = self._line(30)
        check(started is not None and started.startswith("started"),
              "kelvo-older-probe did not start kelvo.scr %s: %s" % (tail, started))
        self.pid = int(fields(started)["pid"])

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode(errors="replace").strip())
        self.lines.put(None)

    def _line(self, seconds):
        deadline = time.time() + seconds
        while True:
            try:
                line = self.lines.get(timeout=max(deadline - time.time(), 0.01))
            except queue.Empty:
                return None
            if line is None or line.startswith(("started", "exit", "running", "failed")):
                return line

    def finish(self, ms):
        """Waits for the end of kelvo.scr: {"code", "tick"} as ints, or None while it still runs."""
        if self.result is None:
            line = self._line(ms / 1000)
            if line is None or not line.startswith("exit"):
                return None
            values = fields(line)
            self.result = {"code": int(values["code"]), "tick": int(values["tick"])}
            self.process.wait(timeout=30)
            self.trace_file.close()
        return self.result

    def running(self):
        return self.result is None and self.process.poll() is None

    def abandon(self):
        if self.result is None and self.pid is not None and self.process.poll() is None:
            try:
                self.family.probe_line("kill", self.pid)
            except Exception:
                pass
        try:
            self.process.wait(timeout=30)
        except Exception:
            self.process.kill()
        if not self.trace_file.closed:
            self.trace_file.close()

    def trace(self):
        return Trace(self.trace_path, self.pid)


TRACE_LINE = re.compile(r"^(\d+)\.(\d+):([0-9a-f]+):([0-9a-f]+):(Call|Ret)\s+(.*)$")
WINDOW_PROC = re.compile(r"window proc [0-9A-Fa-f]+ \(hwnd=([0-9A-Fa-f]+),msg=([^,]+),wp=([0-9A-Fa-f]+),")


class Trace:
    """The relay lines of one process: (tick, kind, text) with kind "Call" or "Ret"."""

    def __init__(self, path, pid):
        self.lines = []
        with open(path, errors="replace") as handle:
            for raw in handle:
                match = TRACE_LINE.match(raw.rstrip("\n"))
                if match and int(match.group(3), 16) == pid:
                    tick = int(match.group(1)) * 1000 + int(match.group(2).ljust(3, "0")[:3])
                    self.lines.append((tick, match.group(5), match.group(6)))

    def calls(self, pattern):
        """Indices, ticks and matches of the calls whose text matches the pattern."""
        found = []
        for index, (tick, kind, text) in enumerate(self.lines):
            if kind == "Call":
                match = re.search(pattern, text)
                if match:
                    found.append((index, tick, match))
        return found

    def returned(self, index, name):
        """The return value of the call at index: the next return of that function."""
        for tick, kind, text in self.lines[index + 1:]:
            if kind == "Ret" and name + "()" in text:
                match = re.search(r"retval=([0-9a-f]+)", text)
                return int(match.group(1), 16) if match else None
        return None

    def messages(self, hwnd=None):
        """Window procedure calls: (index, tick, hwnd, message name, wParam)."""
        found = []
        for index, (tick, kind, text) in enumerate(self.lines):
            if kind != "Call":
                continue
            match = WINDOW_PROC.match(text)
            if match and (hwnd is None or int(match.group(1), 16) == hwnd):
                found.append((index, tick, int(match.group(1), 16), match.group(2), int(match.group(3), 16)))
        return found

    def message_return(self, index):
        """The index of the return from the window procedure call at index."""
        match = WINDOW_PROC.match(self.lines[index][2])
        for later in range(index + 1, len(self.lines)):
            tick, kind, text = self.lines[later]
            other = WINDOW_PROC.match(text)
            if kind == "Ret" and other and other.group(1) == match.group(1) and other.group(2) == match.group(2):
                return later
        return len(self.lines)

    def posted_closes(self, hwnd):
        return [(i, t) for i, t, m in self.calls(r"PostMessageA\(([0-9a-f]+),([0-9a-f]+),")
                if int(m.group(1), 16) == hwnd and int(m.group(2), 16) == WM_CLOSE]


def verify_request_name(name):
    """Wine's relay names the private verify request (0x8000) after WM_USER."""
    return name in ("WM_USER+31744", "WM_APP", "8000", "00008000")


# ---------------------------------------------------------------- shared checks

def password_module_loads(trace):
    """The LoadLibraryA("PASSWORD.CPL") calls: (index, tick, module handle)."""
    return [(i, t, trace.returned(i, "LoadLibraryA"))
            for i, t, _ in trace.calls(r'LoadLibraryA\([0-9a-f]+ "(?i:password\.cpl)"\)')]


def check_notice(trace, loaded, what):
    """The saver-running notice: SystemParametersInfoA(97, 1) after the load of the password module
    and (97, 0) after its release, exactly once each, or never when no verification was loaded."""
    notices = [(i, t, int(m.group(1), 16))
               for i, t, m in trace.calls(r"SystemParametersInfoA\(00000061,([0-9a-f]+),")]
    flags = [flag for _, _, flag in notices]
    if not loaded:
        check(not notices, "%s: SystemParametersInfoA(97, ...) was called %d times with %s, expected never"
              % (what, len(notices), flags))
        note("%s: no SystemParametersInfoA(97, ...) in the relay trace" % what)
        return
    loads = [load for load in password_module_loads(trace) if load[2]]
    check(len(loads) == 1, "%s: %d loads of PASSWORD.CPL in the trace, expected 1" % (what, len(loads)))
    check(flags == [1, 0], "%s: SystemParametersInfoA(97, flag) with flags %s, expected [1, 0]" % (what, flags))
    frees = [(i, t) for i, t, m in trace.calls(r"FreeLibrary\(([0-9a-f]+)\)") if int(m.group(1), 16) == loads[0][2]]
    check(len(frees) == 1, "%s: PASSWORD.CPL was released %d times, expected once" % (what, len(frees)))
    load_index, free_index = loads[0][0], frees[0][0]
    on_index, off_index = notices[0][0], notices[1][0]
    check(load_index < on_index < free_index < off_index,
          "%s: order in the trace is load %d, notice on %d, release %d, notice off %d" %
          (what, load_index, on_index, free_index, off_index))
    note("%s: SystemParametersInfoA(97, 1) after LoadLibraryA(PASSWORD.CPL), (97, 0) after its FreeLibrary"
         % what)


def black_share(picture):
    """The share of black among every seventh pixel of a screenshot."""
    data = picture.data
    samples = range(0, len(data) - 2, 21)
    black = sum(1 for i in samples if data[i] == 0 and data[i + 1] == 0 and data[i + 2] == 0)
    return black / len(samples)


def find_saver(family, run, ms=15000):
    """The full-screen saver window of the run, once it shows."""
    deadline = time.time() + ms / 1000
    while time.time() < deadline:
        head, values = family.harness.one("find", quote(SAVER_CLASS), quote(FULL_SCREEN_TITLE))
        if head == "found" and int(values["pid"]) == run.pid and values["visible"] == "1":
            values["hwnd"] = int(values["hwnd"])
            return values
        check(run.running(), "kelvo.scr %s ended before its window showed: %s" % (run.tail, run.finish(0)))
        time.sleep(0.1)
    raise Failure("kelvo.scr %s made no visible saver window in %d ms" % (run.tail, ms))


def window_alive(family, hwnd):
    head, values = family.harness.one("describe", hwnd)
    return head == "window" and values.get("visible") == "1"


def check_ends_with_zero(run, what, ms=15000):
    result = run.finish(ms)
    check(result is not None, "%s: kelvo.scr still runs %d ms later" % (what, ms))
    check(result["code"] == 0, "%s: exit code %d, expected 0" % (what, result["code"]))
    return result


def start_full_screen(family, scenario, **settings):
    family.bench.xdotool("mousemove", 512, 384)
    run = scenario.start("/s", **settings)
    window = find_saver(family, run)
    time.sleep(0.5)  # a few frames, and the first paint is over
    return run, window


def check_first_input_ends_at_once(family, scenario, run, window, what):
    """One key ends the run: the key's WM_CLOSE goes straight to the window's destruction, with no
    verification, and the process ends with 0."""
    family.bench.xdotool("key", "space")
    gone, _ = family.harness.wait_gone(window["hwnd"], 6000)
    check(gone, "%s: the saver window is still there 6 s after a key" % what)
    check_ends_with_zero(run, what)
    trace = run.trace()
    messages = trace.messages(window["hwnd"])
    keys = [m for m in messages if m[3] == "WM_KEYDOWN"]
    closes = [m for m in messages if m[3] == "WM_CLOSE"]
    destroys = [m for m in messages if m[3] == "WM_DESTROY"]
    requests = [m for m in messages if verify_request_name(m[3])]
    check(keys and closes and destroys, "%s: the trace lacks the key, WM_CLOSE or WM_DESTROY (%d, %d, %d)" %
          (what, len(keys), len(closes), len(destroys)))
    check(len(closes) == 1 and keys[0][0] < closes[0][0] < destroys[0][0],
          "%s: expected key, one WM_CLOSE, destruction; got %d WM_CLOSE" % (what, len(closes)))
    check(closes[0][1] - keys[0][1] <= 100, "%s: WM_CLOSE came %d ms after the key" %
          (what, closes[0][1] - keys[0][1]))
    check(not requests, "%s: the verify request was sent %d times" % (what, len(requests)))
    note("%s: key -> WM_CLOSE %d ms later -> WM_DESTROY %d ms after the key, no verify request"
         % (what, closes[0][1] - keys[0][1], destroys[0][1] - keys[0][1]))
    return trace


# ---------------------------------------------------------------- the password gate

@test("probe-reports-platform-id-1-under-win98")
def probe_reports_older_family(family):
    family.set_family(True)
    platform = family.platform_id()
    check(platform == 1, "GetVersionExA reports platform id %d under win98, expected 1" % platform)
    note("GetVersionExA with the 148-byte record: platform id 1")


@test("password-refusal-keeps-running-drops-close-within-200ms-then-acceptance-ends")
def password_refusal_then_acceptance(family):
    family.set_family(True)
    family.set_password(1)
    scenario = family.scenario("refusal", password_cpl=family.password_standin)
    # The stand-in sleeps through its verification without dispatching, so that keys typed
    # meanwhile reach the saver right after the refusal.
    run, window = start_full_screen(family, scenario, verify_answers="0,1", verify_delay_ms=2500,
                                    verify_pump=0)
    hwnd = window["hwnd"]
    loads = scenario.events("load")
    check(len(loads) == 1 and int(loads[0]["pid"]) == run.pid, "PASSWORD.CPL was not loaded by the saver: %s" % loads)
    check(not scenario.events("verify"), "a verification ran before any input")

    family.bench.xdotool("key", "space")
    calls = scenario.wait_log("verify", 1, 5000)
    check(len(calls) == 1, "a key asked %d verifications, expected 1" % len(calls))
    call = calls[0]
    check(int(call["hwnd"]) == hwnd, "the verification got window %s, not the saver window %d" % (call["hwnd"], hwnd))
    check(call["class"] == SAVER_CLASS and call["title"] == FULL_SCREEN_TITLE,
          "the verification got a window of class %r titled %r" % (call["class"], call["title"]))
    check(call["own_thread"] == "1", "the verification ran outside the saver window's thread")
    note("key -> VerifyScreenSavePwd(%d), class %s, title %r" % (hwnd, call["class"], call["title"]))

    # Two keys in quick succession while the verification still runs: they reach the saver right
    # after it returns. The stand-in shows the pointer meanwhile, as a password dialog would.
    family.bench.xdotool("key", "--delay", "30", "space", "space")
    shown = family.cursor()
    check(not scenario.events("verify-return"),
          "the verification was over before the test had typed its two keys; the machine is too slow")
    check(int(shown["handle"]) != 0, "the stand-in's pointer is not seen during the verification: %s" % shown)

    returns = scenario.wait_log("verify-return", 1, 10000)
    check(len(returns) == 1 and returns[0]["answer"] == "0", "the first verification did not return 0: %s" % returns)
    refused_tick = int(returns[0]["tick"])
    time.sleep(0.7)
    check(len(scenario.events("verify")) == 1,
          "%d verifications after two keys that came right after the refusal, expected 1" %
          len(scenario.events("verify")))
    check(run.running() and window_alive(family, hwnd), "the saver ended after a refused verification")
    hidden = family.cursor()
    check(int(hidden["handle"]) == 0, "the cursor is %s after the refusal, expected hidden (null)" % hidden["handle"])
    note("refusal: saver runs on, cursor %s during the verification and null after it" % shown["handle"])

    first = family.bench.screenshot("refused-first")
    time.sleep(0.5)
    second = family.bench.screenshot("refused-second")
    for picture in (first, second):
        share = black_share(picture)
        check(share >= 0.6, "a screenshot after the refusal is only %.0f%% black: not the saver's picture" %
              (100 * share))
    check(first.data != second.data, "two screenshots 500 ms apart are equal: the saver stopped drawing")
    changed = sum(1 for i in range(0, len(first.data), 3) if first.data[i:i + 3] != second.data[i:i + 3])
    note("refusal: two screenshots 500 ms apart differ in %d pixels" % changed)

    family.bench.xdotool("key", "space")
    calls = scenario.wait_log("verify", 2, 5000)
    check(len(calls) == 2, "a key long after the refusal asked %d verifications in all, expected 2" % len(calls))
    later = int(calls[1]["tick"]) - refused_tick
    check(later >= REASK_INTERVAL, "the second verification came %d ms after the refusal" % later)
    check(int(calls[1]["hwnd"]) == hwnd, "the second verification got window %s" % calls[1]["hwnd"])
    gone, _ = family.harness.wait_gone(hwnd, 10000)
    check(gone, "the saver window stays after an accepted verification")
    result = check_ends_with_zero(run, "acceptance")
    accepted_tick = int(scenario.events("verify-return")[1]["tick"])
    check(result["tick"] >= accepted_tick, "the process ended before the verification returned")
    note("a key %d ms after the refusal asked again; acceptance -> exit code 0" % later)

    # What the saver did with the two keys that came right after the refusal.
    trace = run.trace()
    messages = trace.messages(hwnd)
    requests = [m for m in messages if verify_request_name(m[3])]
    check(len(requests) == 2, "the trace shows %d verify requests, expected 2" % len(requests))
    between = [m for m in messages if requests[0][0] < m[0] < requests[1][0]]
    keys = [m for m in between if m[3] == "WM_KEYDOWN" and m[1] - refused_tick <= REASK_INTERVAL]
    closes = [m for m in between if m[3] == "WM_CLOSE" and m[1] - refused_tick < REASK_INTERVAL]
    check(len(keys) >= 2 and len(closes) >= 2,
          "within 200 ms of the refusal the trace shows %d keys and %d WM_CLOSE, expected 2 each"
          % (len(keys), len(closes)))
    note("within %d ms after the refusal: %d WM_KEYDOWN, %d WM_CLOSE, no verify request"
         % (max(m[1] for m in closes) - refused_tick, len(keys), len(closes)))
    # The cursor was hidden by the refusal itself, not by a WM_SETCURSOR in the meantime.
    set_cursor = [m for m in messages if m[3] == "WM_SETCURSOR" and refused_tick - 20 <= m[1] <= int(hidden["tick"])]
    check(not set_cursor, "a WM_SETCURSOR reached the saver between the refusal and the cursor check")
    check_notice(trace, True, "refusal run")
    check(scenario.events("unload"), "PASSWORD.CPL was never released")


@test("input-during-a-verification-posts-no-close")
def input_during_verification(family):
    family.set_family(True)
    family.set_password(1)
    scenario = family.scenario("during", password_cpl=family.password_standin)
    # This time the stand-in dispatches the thread's messages while it asks, as a modal dialog does.
    run, window = start_full_screen(family, scenario, verify_answers="0,1", verify_delay_ms=2000,
                                    verify_pump=1)
    hwnd = window["hwnd"]
    family.bench.xdotool("key", "space")
    check(len(scenario.wait_log("verify", 1, 5000)) == 1, "a key asked no verification")
    family.bench.xdotool("key", "--delay", "50", "space", "Return")
    family.bench.xdotool("click", "1")
    check(not scenario.events("verify-return"), "the verification was over before the test's input")
    returns = scenario.wait_log("verify-return", 1, 10000)
    check(returns and returns[0]["answer"] == "0", "the first verification did not refuse")
    refused_tick = int(returns[0]["tick"])
    time.sleep(0.7)
    check(len(scenario.events("verify")) == 1, "input during the verification led to another verification")
    check(run.running() and window_alive(family, hwnd), "the saver ended after a refused verification")

    family.bench.xdotool("key", "space")
    check(len(scenario.wait_log("verify", 2, 5000)) == 2, "a key after the refusal asked no verification")
    gone, _ = family.harness.wait_gone(hwnd, 10000)
    check(gone, "the saver window stays after an accepted verification")
    check_ends_with_zero(run, "acceptance")

    trace = run.trace()
    messages = trace.messages(hwnd)
    requests = [m for m in messages if verify_request_name(m[3])]
    check(len(requests) == 2, "the trace shows %d verify requests, expected 2" % len(requests))
    # Input dispatched inside the first verification, i.e. before its return.
    ret_index = trace.message_return(requests[0][0])
    inside = [m for m in messages if requests[0][0] < m[0] < ret_index]
    inputs = [m for m in inside if m[3] in ("WM_KEYDOWN", "WM_LBUTTONDOWN")]
    posted = [p for p in trace.posted_closes(hwnd) if requests[0][0] < p[0] < ret_index]
    check(len(inputs) >= 3, "only %d key presses or clicks reached the saver during the verification" % len(inputs))
    check(not posted, "input during the verification posted %d WM_CLOSE" % len(posted))
    timers = [m for m in inside if m[3] == "WM_TIMER"]
    note("during the verification: %d inputs dispatched, no WM_CLOSE posted, %d frames drawn; refused at %d"
         % (len(inputs), len(timers), refused_tick))
    check_notice(trace, True, "dispatching verification")


def without_password(family, value, label):
    family.set_family(True)
    family.set_password(value)
    scenario = family.scenario(label, password_cpl=family.password_standin)
    run, window = start_full_screen(family, scenario)
    trace = check_first_input_ends_at_once(family, scenario, run, window, label)
    check(not scenario.log(), "%s: the stand-in was touched: %s" % (label, scenario.log()))
    check(not password_module_loads(trace), "%s: LoadLibraryA(PASSWORD.CPL) was called" % label)
    note("%s: PASSWORD.CPL never loaded, its log stays empty" % label)
    check_notice(trace, False, label)


@test("without-the-password-value-the-first-input-ends-and-nothing-is-loaded")
def no_password_value(family):
    without_password(family, None, "no-value")


@test("with-password-value-0-the-first-input-ends-and-nothing-is-loaded")
def password_value_zero(family):
    without_password(family, 0, "value-0")


@test("a-password-module-without-the-function-is-released-and-the-first-input-ends")
def module_without_function(family):
    family.set_family(True)
    family.set_password(1)
    # The password-change stand-in under the verification module's name: it lacks "VerifyScreenSavePwd".
    scenario = family.scenario("no-function", password_cpl=family.mpr_standin)
    run, window = start_full_screen(family, scenario)
    loads, unloads = scenario.events("load"), scenario.events("unload")
    check(len(loads) == 1 and len(unloads) == 1, "the module was loaded %d and released %d times before input"
          % (len(loads), len(unloads)))
    trace = check_first_input_ends_at_once(family, scenario, run, window, "no-function")
    check_notice(trace, False, "no-function")


# ---------------------------------------------------------------- the password change

def change_password_run(family, scenario, tail, overrides="mpr=n,b", **settings):
    run = scenario.start(tail, overrides=overrides, **settings)
    return run, check_ends_with_zero(run, tail, 20000)


@test("password-change-calls-PwdChangePasswordA-once-with-the-right-owner-and-exits-0-after-it")
def change_password(family):
    family.set_family(True)
    harness = family.harness
    owner = int(harness.one("window", "owner", 160, 120, 40, 40)[1]["hwnd"])
    front = int(harness.one("window", "front", 160, 120, 600, 40)[1]["hwnd"])
    try:
        reply = harness.command("activate", "front")
        check(reply and reply[-1].split()[:2] == ["foreground", str(front)],
              "the harness could not make its window the foreground window: %s" % reply)
        cases = [("/a", front, "the foreground window"),
                 ("/a %d" % owner, owner, "window %d" % owner),
                 ("/a:%d" % owner, front, "the foreground window"),
                 ("-A   %d" % owner, owner, "window %d" % owner)]
        for tail, expected, description in cases:
            scenario = family.scenario("change", mpr_dll=family.mpr_standin)
            run, result = change_password_run(family, scenario, tail, change_delay_ms=1000, change_result=5)
            calls, returns = scenario.events("change"), scenario.events("change-return")
            check(len(calls) == 1 and len(returns) == 1, "%s: PwdChangePasswordA was called %d times, expected once"
                  % (tail, len(calls)))
            call = calls[0]
            check(call["provider"] == "SCRSAVE", "%s: provider %r, expected SCRSAVE" % (tail, call["provider"]))
            check(int(call["owner"]) == expected, "%s: owner %s, expected %d (%s)" %
                  (tail, call["owner"], expected, description))
            check(call["reserved1"] == "0" and call["reserved2"] == "0", "%s: the last two arguments are %s, %s" %
                  (tail, call["reserved1"], call["reserved2"]))
            check(int(call["foreground"]) == front, "%s: the foreground window changed to %s" %
                  (tail, call["foreground"]))
            returned = int(returns[0]["tick"])
            check(returned - int(call["tick"]) >= 900, "%s: the stand-in returned too soon" % tail)
            check(result["tick"] >= returned, "%s: the process ended at %d, before the call returned at %d" %
                  (tail, result["tick"], returned))
            check(len(scenario.events("unload")) == 1, "%s: MPR.DLL was not released" % tail)
            note("%s: PwdChangePasswordA(\"SCRSAVE\", %d = %s, 0, 0) once; returned after %d ms; exit 0 %d ms later"
                 % (tail, expected, description, returned - int(call["tick"]), result["tick"] - returned))
    finally:
        harness.command("destroy", "owner")
        harness.command("destroy", "front")


@test("password-change-without-the-stand-in-exits-0-and-shows-nothing")
def change_password_without_standin(family):
    family.set_family(True)
    for label, overrides in (("no MPR.DLL at all", "mpr="), ("Wine's own MPR.DLL", "")):
        scenario = family.scenario("change-none")
        env = family.bench.env()
        env["WINEDLLOVERRIDES"] = BASE_OVERRIDES + (";" + overrides if overrides else "")
        env["KELVO_STANDIN_LOG"] = windows_path(scenario.log_path)
        harness_exe = os.path.join(family.build, "kelvo-harness.exe")
        out = subprocess.run(["wine", harness_exe, "run", scenario.exe, "/a", "20000"], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60).stdout.decode()
        ended = [l for l in out.splitlines() if l.startswith("exit")]
        check(ended, "%s: /a did not end within 20 s: %s" % (label, out.strip()))
        values = fields(ended[0])
        check(int(values["code"]) == 0, "%s: /a exit code %s, expected 0" % (label, values["code"]))
        check(int(values["windows"]) == 0, "%s: /a showed windows of class %s" % (label, values["classes"]))
        check(not scenario.log(), "%s: a stand-in was loaded" % label)
        note("%s: /a exits with 0 after %s ms and shows no window" % (label, values["life"]))


# ---------------------------------------------------------------- the AutoPlay query

def send_autoplay(family, hwnd):
    message = family.message_id("QueryCancelAutoPlay")
    reply = family.harness.command("send", hwnd, message, 0, 0)
    check(reply and reply[-1].startswith("result 1 "), "the AutoPlay query was not delivered: %s" % reply)
    return message, int(fields(reply[-1])["value"])


@test("autoplay-query-full-screen-with-password-answers-1-and-asks-the-verification")
def autoplay_with_password(family):
    family.set_family(True)
    family.set_password(1)
    scenario = family.scenario("autoplay-password", password_cpl=family.password_standin)
    run, window = start_full_screen(family, scenario, verify_answers="1")
    hwnd = window["hwnd"]
    message, answer = send_autoplay(family, hwnd)
    check(answer == 1, "the AutoPlay query got %d with a verification loaded, expected 1" % answer)
    calls = scenario.wait_log("verify", 1, 5000)
    check(len(calls) == 1 and int(calls[0]["hwnd"]) == hwnd, "the query's close asked %d verifications" % len(calls))
    gone, _ = family.harness.wait_gone(hwnd, 10000)
    check(gone, "the saver window stays after the query and an accepted verification")
    check_ends_with_zero(run, "the AutoPlay query")
    trace = run.trace()
    posts = trace.posted_closes(hwnd)
    check(posts, "the saver posted no WM_CLOSE")
    check_notice(trace, True, "AutoPlay run")
    note("message %d: answer 1, WM_CLOSE posted, verification asked and accepted, exit 0" % message)


@test("autoplay-query-full-screen-without-password-answers-0-and-ends-the-run")
def autoplay_without_password(family):
    family.set_family(True)
    family.set_password(None)
    scenario = family.scenario("autoplay-plain", password_cpl=family.password_standin)
    run, window = start_full_screen(family, scenario)
    message, answer = send_autoplay(family, window["hwnd"])
    check(answer == 0, "the AutoPlay query got %d without a verification, expected 0" % answer)
    gone, _ = family.harness.wait_gone(window["hwnd"], 6000)
    check(gone, "the saver window stays after the AutoPlay query")
    check_ends_with_zero(run, "the AutoPlay query")
    check(not scenario.log(), "the stand-in was loaded")
    check(run.trace().posted_closes(window["hwnd"]), "the saver posted no WM_CLOSE")
    note("message %d: answer 0, WM_CLOSE posted, run ended with 0" % message)


def start_preview(family, scenario):
    head, values = family.harness.one("window", "parent", 320, 240, 300, 200)
    parent = int(values["hwnd"])
    run = scenario.start("/p %d" % parent)
    head, child = family.harness.one("waitchild", "parent", quote(SAVER_CLASS), 15000, timeout=45)
    check(head == "found", "the preview made no child in the harness window")
    time.sleep(0.5)
    return run, parent, int(child["hwnd"])


@test("autoplay-query-in-preview-answers-0-and-ends-the-preview")
def autoplay_preview_older(family):
    family.set_family(True)
    family.set_password(1)
    scenario = family.scenario("autoplay-preview", password_cpl=family.password_standin)
    try:
        run, parent, child = start_preview(family, scenario)
        message, answer = send_autoplay(family, child)
        check(answer == 0, "the AutoPlay query got %d in preview, where nothing verifies; expected 0" % answer)
        gone, _ = family.harness.wait_gone(child, 6000)
        check(gone, "the preview stays after the AutoPlay query")
        check_ends_with_zero(run, "the AutoPlay query in preview")
        check(not scenario.log(), "the preview loaded the password module")
        check(run.trace().posted_closes(child), "the preview posted no WM_CLOSE")
        check_notice(run.trace(), False, "preview")
        note("preview, message %d: answer 0, WM_CLOSE posted, run ended with 0, nothing loaded" % message)
    finally:
        family.harness.command("destroy", "parent")


# ---------------------------------------------------------------- the newer family

@test("newer-family-probe-reports-platform-id-2")
def probe_reports_newer_family(family):
    family.set_family(False)
    platform = family.platform_id()
    check(platform == 2, "GetVersionExA reports platform id %d without win98, expected 2" % platform)
    note("GetVersionExA: platform id 2")


@test("newer-family-ignores-password-and-autoplay-and-never-notifies")
def newer_full_screen(family):
    family.set_family(False)
    family.set_password(1)
    scenario = family.scenario("newer", password_cpl=family.password_standin)
    run, window = start_full_screen(family, scenario)
    message, answer = send_autoplay(family, window["hwnd"])
    check(answer == 0, "the AutoPlay query got %d on the newer family, expected 0" % answer)
    gone, _ = family.harness.wait_gone(window["hwnd"], 1500)
    check(not gone and run.running(), "the saver ended after the AutoPlay query on the newer family")
    note("message %d: answer 0, saver still running 1.5 s later" % message)
    trace = check_first_input_ends_at_once(family, scenario, run, window, "newer family")
    check(not scenario.log(), "the newer family loaded the password module: %s" % scenario.log())
    check_notice(trace, False, "newer family")


@test("newer-family-preview-autoplay-query-gets-0-and-keeps-running")
def newer_preview(family):
    family.set_family(False)
    family.set_password(1)
    scenario = family.scenario("newer-preview", password_cpl=family.password_standin)
    destroyed = False
    try:
        run, parent, child = start_preview(family, scenario)
        message, answer = send_autoplay(family, child)
        check(answer == 0, "the AutoPlay query got %d in a newer-family preview, expected 0" % answer)
        gone, _ = family.harness.wait_gone(child, 1500)
        check(not gone and run.running(), "the preview ended after the AutoPlay query on the newer family")
        family.harness.command("destroy", "parent")
        destroyed = True
        check_ends_with_zero(run, "the preview after its parent went")
        check(not run.trace().posted_closes(child), "the newer-family preview posted a WM_CLOSE")
        note("preview, message %d: answer 0, still running 1.5 s later, nothing posted" % message)
    finally:
        if not destroyed:
            family.harness.command("destroy", "parent")


@test("newer-family-password-change-is-refused")
def newer_change_password(family):
    family.set_family(False)
    scenario = family.scenario("newer-change", mpr_dll=family.mpr_standin)
    run = scenario.start("/a", overrides="mpr=n,b")
    result = run.finish(20000)
    check(result is not None, "/a still runs 20 s later on the newer family")
    check(result["code"] == REFUSED, "/a exit code %d on the newer family, expected %d" % (result["code"], REFUSED))
    check(not scenario.log(), "/a on the newer family loaded MPR.DLL")
    note("/a: exit code %d, MPR.DLL never loaded" % result["code"])


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "windows-x64"))
    parser.add_argument("--artifacts", default=os.path.join(ROOT, "build", "e2e-artifacts", "older_family"))
    parser.add_argument("--keep", action="store_true", help="keep the logs and traces of passing tests too")
    parser.add_argument("names", nargs="*", help="run only the tests whose names contain one of these")
    args = parser.parse_args()

    needed = ["kelvo.scr", "kelvo-harness.exe", os.path.join("older_family", "kelvo-older-probe.exe"),
              os.path.join("older_family", "PASSWORD.CPL"), os.path.join("older_family", "MPR.DLL")]
    for name in needed:
        if not os.path.exists(os.path.join(args.build, name)):
            print("FAIL setup: %s is missing in %s" % (name, args.build))
            return 1
    chosen = [t for t in TESTS if not args.names or any(n in t[0] for n in args.names)]

    bench = Bench(args.artifacts, args.build)
    began = time.time()
    results = []
    family = Family(bench, args.build)
    try:
        bench.start()
        family.reg("add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/t", "REG_SZ", "/d", RELAY_INCLUDE,
                    "/f")
        family.harness = bench.harness()
    except Exception as error:
        print("FAIL setup: %s: %s" % (type(error).__name__, error))
        bench.close()
        return 1
    for name, function in chosen:
        started = time.time()
        try:
            function(family)
            outcome, detail = "PASS", ""
        except Failure as failure:
            outcome, detail = "FAIL", str(failure)
        except Exception as error:  # a broken bench is a failure of the test too
            outcome, detail = "FAIL", "%s: %s" % (type(error).__name__, error)
        family.finish_runs()
        if outcome == "FAIL" or args.keep:
            family.keep_evidence(name, args.artifacts)
        family.scenarios = []
        if outcome == "FAIL":
            with open(os.path.join(args.artifacts, name + ".log"), "w") as log:
                log.write(detail + "\n\n" + "\n".join(family.harness.transcript[-200:]) + "\n")
        print("%s %s (%.1f s)%s" % (outcome, name, time.time() - started, (": " + detail) if detail else ""),
              flush=True)
        results.append(outcome)
    failed = results.count("FAIL")
    print("older family: %d passed, %d failed in %.0f s" % (results.count("PASS"), failed, time.time() - began))
    bench.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
