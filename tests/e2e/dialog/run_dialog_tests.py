#!/usr/bin/env python3
"""End-to-end tests of the settings dialog of kelvo.scr under Wine in Xvfb.

    python3 tests/e2e/dialog/run_dialog_tests.py [--build DIR] [--build-x86 DIR] [--artifacts DIR] [NAME...]

The harness (kelvo-harness.exe) owns the dialog's owner window, starts kelvo.scr and sends it
messages; kelvo-dialog-probe.exe reads the resources and the running dialog back; xdotool types and
clicks as a user does. Prints PASS or FAIL per test and exits nonzero when any fails. Screenshots go
to the artifacts folder, and the harness transcript of every failed test beside them.
"""

import argparse
import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

from e2e import CONVERT, ROOT, Bench, Failure, check, run_test, windows_path  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tools"))
import check_resources  # noqa: E402

DIALOG_CLASS = "#32770"
WM_CLOSE, WM_NCHITTEST, WM_COMMAND, WM_SYSCOMMAND, WM_HSCROLL = 0x0010, 0x0084, 0x0111, 0x0112, 0x0114
SC_CLOSE, HTCLOSE = 0xF060, 20
CB_SHOWDROPDOWN = 0x014F
IDOK, IDCANCEL = 1, 2
SB_LINELEFT, SB_LINERIGHT, SB_PAGELEFT, SB_PAGERIGHT = 0, 1, 2, 3
SB_THUMBPOSITION, SB_THUMBTRACK, SB_LEFT, SB_RIGHT, SB_ENDSCROLL = 4, 5, 6, 7, 8
UNNAMED = 0xFFFF
EDIT, SCROLL_BAR, LABEL, LIST = 1002, 1003, 1004, 1005

MODES = ["いっしょ", "ばらばら", "ランダム"]
TEMPLATE_TEXTS = {text for (_, _, text, *_rest) in check_resources.EXPECTED_CONTROLS if text}
DEFAULTS_FILE = b"[TestScreenSaver]\r\nkomakasa=8\r\nwait=40\r\ncolmode=0\r\n"
# Test set-up of the Wine prefix, not of the product: Wine draws the caption and its close box itself
# (there is no window manager in Xvfb to do it).
FRAME_REG = ('[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Decorated"="N"\r\n')
# A Western system has no font of the template's face; these map it and its relatives to IPA fonts.
FONT_REG = ('[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
            '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n'
            '"ＭＳ ゴシック"="IPAGothic"\r\n'
            '"MS UI Gothic"="IPAPGothic"\r\n')

TESTS = []


def test(name, lang=None):
    def register(function):
        TESTS.append((name, lang, function))
        return function
    return register


# ---------------------------------------------------------------- shared steps

def import_registry(bench, body):
    """Imports registry settings from a UTF-16LE .reg file: `wine reg add` mangles non-Latin names."""
    path = os.path.join(bench.temp, "settings-%d.reg" % len(os.listdir(bench.temp)))
    text = "Windows Registry Editor Version 5.00\r\n\r\n" + body + "\r\n"
    with open(path, "wb") as handle:
        handle.write(b"\xff\xfe" + text.encode("utf-16-le"))
    bench.wine_command(["wine", "regedit", "/S", windows_path(path)], timeout=60)
    bench.wine_command(["wineserver", "-w"], check_status=False, timeout=60)


def probe(bench, *words):
    """The probe's JSON lines, by their "what"."""
    out = subprocess.run(["wine", os.path.join(bench.build, "kelvo-dialog-probe.exe")] + [str(w) for w in words],
                         env=bench.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60).stdout
    records = []
    for line in out.decode("utf-8").splitlines():
        line = line.strip()
        if line.startswith("{"):
            records.append(json.loads(line))
    check(records and records[0]["what"] != "error", "the probe failed: %s" % (records or out))
    return records


def dialog_state(bench, dialog):
    records = probe(bench, "state", dialog)
    state = {"controls": {}}
    for record in records:
        if record["what"] == "control":
            state["controls"].setdefault(record["id"], []).append(record)
        else:
            state[record["what"]] = record
    state["label"] = state["controls"][LABEL][0]["text"]
    state["field"] = state["controls"][EDIT][0]["text"]
    state["thumb"] = state["scroll"]["position"]
    return state


class Scenario:
    """A folder with its own kelvo.scr, the settings file as given (None: absent), one dialog."""

    def __init__(self, bench, harness, name, ini=None):
        self.bench, self.harness, self.name, self.ini = bench, harness, name, ini
        self.exe = bench.scenario(name, ini)
        self.folder = os.path.dirname(self.exe[2:].replace("\\", "/"))
        self.dialog = None
        self.code = None
        if not hasattr(harness, "scenarios"):
            harness.scenarios = []
        harness.scenarios.append(self)

    def open(self, owner="owner"):
        self.harness.start(self.name, self.exe, "/c:%%%s%%" % owner)
        found = self.harness.wait_window(self.name, DIALOG_CLASS, 15000)
        check(found is not None, "%s: no dialog appeared" % self.name)
        self.dialog = found["hwnd"]
        return found

    def state(self):
        return dialog_state(self.bench, self.dialog)

    def send(self, message, wparam, lparam=0):
        """Sends a message and returns the dialog's answer."""
        reply = self.harness.command("send", self.dialog, message, wparam, lparam)
        words = reply[-1].split() if reply else []
        check(words[:2] == ["result", "1"], "%s: message 0x%X was not delivered: %s" % (self.name, message, reply))
        return int(words[2].split("=")[1])

    def post(self, message, wparam, lparam=0):
        self.harness.one("post", self.dialog, message, wparam, lparam)

    def focus(self):
        """Makes the dialog the window that X keyboard input reaches. Without a window manager the X
        focus stays PointerRoot, so keys go to the window under the pointer: it rests on a blank
        spot of the dialog, below the buttons' row at the left. A process of an earlier dialog that
        is still ending can take the activation away from the new one, so they are waited for."""
        for earlier in self.harness.scenarios:
            if earlier is not self and earlier.dialog is not None and earlier.code is None:
                earlier.ended()
        for _ in range(10):  # a dialog that has just opened may still be taking over the activation
            reply = self.harness.command("activate", self.dialog)
            if reply and reply[-1] == "foreground %s" % self.dialog:
                break
            self.harness.command("sleep", 200)
        check(reply and reply[-1] == "foreground %s" % self.dialog,
              "%s: the dialog did not come to the front: %s" % (self.name, reply))
        state = self.state()
        x0, y0 = state["dialog"]["origin"]
        self.bench.xdotool("mousemove", x0 + 4, y0 + state["dialog"]["client"][3] - 4)
        self.harness.command("sleep", 300)

    def click(self, control_id):
        state = self.state()
        left, top, right, bottom = state["controls"][control_id][0]["rect"]
        x0, y0 = state["dialog"]["origin"]
        self.bench.xdotool("mousemove", x0 + (left + right) // 2, y0 + (top + bottom) // 2)
        self.bench.xdotool("click", "1")

    def click_close_box(self):
        """Finds the close box by asking the dialog what lies under points of its caption."""
        state = self.state()
        left, top, right, bottom = state["dialog"]["rect"]
        _, client_top = state["dialog"]["origin"]
        y = (top + client_top) // 2
        for x in range(right - 2, right - 60, -1):
            if self.send(WM_NCHITTEST, 0, (y << 16) | x) == HTCLOSE:
                self.bench.xdotool("mousemove", x - 4, y)
                self.bench.xdotool("click", "1")
                return
        raise Failure("%s: no close box in the caption row y=%d" % (self.name, y))

    def gone(self, what):
        went, _ = self.harness.wait_gone(self.dialog, 5000)
        check(went, "%s: the dialog is still there after %s" % (self.name, what))

    def ended(self):
        """The exit code; Wine takes a few seconds to end a process after its last window."""
        if self.code is None:
            ended = self.harness.wait(self.name, 15000)
            check(ended is not None, "%s: the process still runs 15 s after its dialog went" % self.name)
            self.code = ended["code"]
        return self.code

    def file(self):
        path = os.path.join(self.folder, "kelvo.ini")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as handle:
            return handle.read()

    def folder_holds(self):
        return sorted(os.listdir(self.folder))


def check_opening(state, owner, expected, label):
    """The dialog as it opens: owned, wide, its template texts, and the file's values shown."""
    dialog = state["dialog"]
    check(dialog["owner"] == int(owner), "%s: owned by %s, expected the harness window %s"
          % (label, dialog["owner"], owner))
    check(dialog["unicode"], "%s: the dialog is not a wide (Unicode) window" % label)
    check(dialog["title"] == "設定", "%s: title %r" % (label, dialog["title"]))
    texts = {c["text"] for group in state["controls"].values() for c in group if c["class"] == "Static" or
             c["class"] == "Button"}
    check(TEMPLATE_TEXTS - {"Static"} <= texts, "%s: template texts %s, expected %s"
          % (label, sorted(texts), sorted(TEMPLATE_TEXTS)))
    check(state["list"]["items"] == MODES, "%s: list items %r, expected %r in that order"
          % (label, state["list"]["items"], MODES))
    scroll = state["scroll"]
    check((scroll["minimum"], scroll["maximum"]) == (10, 200), "%s: scroll range %d..%d, expected 10..200"
          % (label, scroll["minimum"], scroll["maximum"]))
    got = (state["list"]["selected"], state["thumb"], state["label"], state["field"])
    check(got == expected, "%s: opens with (selection, thumb, label, field) %r, expected %r" % (label, got, expected))
    check(dialog["focus"] == SCROLL_BAR, "%s: focus on control %d, expected the scroll bar" % (label, dialog["focus"]))


def check_layout(bench, exe, label):
    """Every text has its glyphs and fits its control; no two controls overlap; all lie inside."""
    extras = []
    for text in MODES:
        extras += [LIST, text.encode("utf-8").hex()]
    for text in (" 10", "200", " 40"):
        extras += [LABEL, text.encode("utf-8").hex()]
    records = probe(bench, "measure", exe, *extras)
    font = next(r for r in records if r["what"] == "font")
    controls = [r for r in records if r["what"] == "control"]
    texts = [r for r in records if r["what"] == "text"]
    problems = []
    for text in texts:
        room = text["room"]
        if text["id"] == LIST:
            room -= 20  # the drop-down button and the item's margins
        elif text["id"] in (IDOK, IDCANCEL):
            room -= 8  # the button's frame
        if text["width"] > room:
            problems.append("%r needs %d pixels, control %d gives %d" % (text["text"], text["width"], text["id"], room))
        if text["missing"]:
            problems.append("%r: %d characters have no glyph in %r" % (text["text"], text["missing"], font["face"]))
    _, _, width, height = font["client"]
    for number, one in enumerate(controls):
        left, top, right, bottom = one["rect"]
        if left < 0 or top < 0 or right > width or bottom > height:
            problems.append("control %d %s lies outside the client area %dx%d" % (one["id"], one["rect"], width, height))
        for other in controls[number + 1:]:
            l2, t2, r2, b2 = other["rect"]
            if left < r2 and l2 < right and top < b2 and t2 < bottom:
                problems.append("controls %d %s and %d %s overlap" % (one["id"], one["rect"], other["id"], other["rect"]))
    print("    %s: face %r charset %d, %d texts measured, dialog client %dx%d"
          % (label, font["face"], font["charset"], len(texts), width, height), flush=True)
    return problems, texts


def crop_dialog(bench, picture_name, scenario):
    """A second picture of the dialog alone, doubled, for reading."""
    state = scenario.state()
    left, top, right, bottom = state["dialog"]["rect"]
    source = os.path.join(bench.artifacts, picture_name + ".png")
    target = os.path.join(bench.artifacts, picture_name + "-dialog.png")
    subprocess.run([CONVERT, source, "-crop", "%dx%d+%d+%d" % (right - left + 16, bottom - top + 16, left - 8, top - 8),
                    "+repage", "-scale", "200%", target], check=True)
    return target


# ---------------------------------------------------------------- resources

def native_check(build):
    path = os.path.join(build, "kelvo.scr")
    check(os.path.exists(path), "%s is missing" % path)
    # The version record (16) and the manifest (24) are the release's, beside the dialog's resources.
    done = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "check_resources.py"), path,
                           "--ignore-type", "16", "--ignore-type", "24"],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    out = done.stdout.decode("utf-8", errors="replace").strip()
    check(done.returncode == 0 and out.endswith("resources match"), "check_resources.py: %s" % out)


@test("resources-of-the-x64-build-match-natively", lang="native")
def resources_x64(bench):
    native_check(bench.build)


@test("resources-of-the-x86-build-match-natively", lang="native")
def resources_x86(bench):
    native_check(bench.build_x86)


@test("resources-read-back-from-the-data-file-under-wine-are-japanese-and-match")
def resources_under_wine(bench):
    exe = bench.scenario("resources")
    records = probe(bench, "resources", exe)
    found = [r for r in records if r["what"] == "resource"]
    resources = []
    for record in found:
        what = "type %d name %d" % (record["type"], record["name"])
        check(record["found"], "%s: FindResourceExW finds nothing under language 1041" % what)
        check(record["languages"] == [0x0411], "%s exists in languages %s, expected only 1041"
              % (what, record["languages"]))
        resources.append(check_resources.Resource(record["type"], record["name"], 0x0411,
                                                  bytes.fromhex(record["hex"])))
    check(len(resources) == 4, "read %d of the 4 resources" % len(resources))
    problems = check_resources.check(resources)
    check(not problems, "the resources Wine reads differ: " + "; ".join(problems))

    # The same bytes as the file holds, and the comparison is not blind: a changed style is seen.
    with open(os.path.join(bench.build, "kelvo.scr"), "rb") as handle:
        on_disk = {(r.type, r.name): r.data for r in check_resources.read_pe(handle.read())}
    for resource in resources:
        check(on_disk.get((resource.type, resource.name)) == resource.data,
              "type %d name %d: Wine's bytes differ from the file's" % (resource.type, resource.name))
    altered = bytearray(resources[0].data)
    altered[0] ^= 0x04
    spoiled = [check_resources.Resource(5, 2003, 0x0411, bytes(altered))] + resources[1:]
    check(any("dialog 2003 style" in p for p in check_resources.check(spoiled)),
          "the field comparison missed a changed dialog style")

    string = next(r for r in records if r["what"] == "string")
    check(string["text"] == "Kelvo", "LoadStringW(1) gives %r" % string["text"])
    icon = next(r for r in records if r["what"] == "icon")
    check(icon["chosen"] == 1 and icon["made"] and (icon["width"], icon["height"]) == (32, 32),
          "the group icon does not give a 32 x 32 icon 1: %s" % icon)


# ---------------------------------------------------------------- opening

@test("opening-owned-by-the-window-shows-the-file-and-the-modes-in-order")
def opening(bench):
    harness = bench.harness()
    _, acp = harness.one("acp")
    check(acp["acp"] == "1252", "Wine's default locale runs code page %s, not 1252" % acp["acp"])
    _, owner = harness.one("window", "owner", 240, 120, 40, 560)
    cases = [
        ("no-file", None, (0, 40, " 40", "8")),
        ("low-values", b"[TestScreenSaver]\r\nwait=5\r\nkomakasa=0\r\ncolmode=5\r\n", (-1, 10, " 10", "1")),
        ("high-values", b"[TestScreenSaver]\r\nwait=500\r\nkomakasa=99\r\ncolmode=2\r\n", (2, 200, "200", "64")),
        ("middle-values", b"[TestScreenSaver]\r\nwait=123\r\nkomakasa=17\r\ncolmode=1\r\n", (1, 123, "123", "17")),
    ]
    scenarios = []
    for name, ini, expected in cases:
        scenario = Scenario(bench, harness, "open-" + name, ini)
        scenario.open()
        check_opening(scenario.state(), owner["hwnd"], expected, name)
        _, described = harness.one("describe", "owner")
        check(described["enabled"] == "0", "%s: the owner stays enabled while the dialog is up" % name)
        scenario.post(WM_COMMAND, IDCANCEL)
        scenario.gone("IDCANCEL")
        scenarios.append(scenario)
    for scenario in scenarios:
        code = scenario.ended()
        check(code == 2, "%s: exit %d after cancelling, expected 2" % (scenario.name, code))
        check(scenario.file() == scenario.ini, "%s: the file changed on cancel: %r" % (scenario.name, scenario.file()))
    _, described = harness.one("describe", "owner")
    check(described["enabled"] == "1", "the owner stays disabled after the dialogs")


# ---------------------------------------------------------------- scrolling and OK

@test("scroll-messages-move-thumb-and-label-and-ok-writes-the-file")
def scrolling(bench):
    harness = bench.harness()
    harness.one("window", "owner", 240, 120, 40, 560)
    scenario = Scenario(bench, harness, "scroll")
    scenario.open()
    bar = str(scenario.state()["controls"][SCROLL_BAR][0]["hwnd"])
    steps = [  # request code, thumb position in the high word, wait afterwards
        (SB_LINERIGHT, 0, 41), (SB_PAGERIGHT, 0, 51), (SB_LINELEFT, 0, 50), (SB_PAGELEFT, 0, 40),
        (SB_THUMBTRACK, 195, 195), (SB_PAGERIGHT, 0, 200), (SB_LINERIGHT, 0, 200),
        (SB_THUMBPOSITION, 100, 200), (SB_LEFT, 0, 200), (SB_RIGHT, 0, 200), (SB_ENDSCROLL, 0, 200),
        (SB_THUMBTRACK, 12, 12), (SB_PAGELEFT, 0, 10), (SB_LINELEFT, 0, 10), (SB_THUMBTRACK, 10, 10),
        (SB_THUMBTRACK, 87, 87),
    ]
    problems = []
    for code, position, expected in steps:
        scenario.send(WM_HSCROLL, (position << 16) | code, bar)
        state = scenario.state()
        if (state["thumb"], state["label"]) != (expected, "%3d" % expected):
            problems.append("code %d (%d): thumb %d label %r, expected %d %r"
                            % (code, position, state["thumb"], state["label"], expected, "%3d" % expected))
    check(not problems, "; ".join(problems))

    # The keyboard reaches the scroll bar, which has the focus: Right is a line step.
    scenario.focus()
    scenario.bench.xdotool("key", "Right")
    scenario.harness.command("sleep", 300)
    state = scenario.state()
    check((state["thumb"], state["label"]) == (88, " 88"), "the Right key gave thumb %d label %r, expected 88"
          % (state["thumb"], state["label"]))

    scenario.post(WM_COMMAND, IDOK)
    scenario.gone("IDOK")
    code = scenario.ended()
    check(code == 1, "exit %d after OK, expected 1" % code)
    expected = b"[TestScreenSaver]\r\nkomakasa=8\r\nwait=88\r\ncolmode=0\r\n"
    check(scenario.file() == expected, "the file holds %r, expected %r" % (scenario.file(), expected))
    check(scenario.folder_holds() == ["kelvo.ini", "kelvo.scr"], "the folder holds %s" % scenario.folder_holds())


@test("ok-by-command-click-and-enter-writes-the-exact-file")
def ok_writes(bench):
    harness = bench.harness()
    harness.one("window", "owner", 240, 120, 40, 560)

    # WM_COMMAND IDOK without a file: the defaults, in a new file.
    defaults = Scenario(bench, harness, "ok-defaults")
    defaults.open()
    defaults.post(WM_COMMAND, IDOK)
    defaults.gone("IDOK")

    # A click on OK in a file Wine rewrites in its own form: keys replaced in place, the others kept,
    # blanks around "=" and empty lines dropped, line ends CR LF.
    clicked = Scenario(bench, harness, "ok-click", b"; note\r\n[Other]\r\na = 1\r\n\r\n[TestScreenSaver]\r\n"
                                                   b" wait = 5 \r\nkomakasa=99\r\nextra=x\r\n")
    clicked.open()
    clicked.focus()
    clicked.click(IDOK)
    clicked.gone("a click on OK")

    # Real typing: Tab to the field (which selects its text), 100, three Tabs on to the list, Down
    # twice, and Enter for the default button.
    typed = Scenario(bench, harness, "ok-enter-typed", b"[TestScreenSaver]\nwait=70\ncolmode=0")
    typed.open()
    typed.focus()
    bench.xdotool("key", "Tab")
    bench.xdotool("type", "--delay", "50", "100")
    bench.xdotool("key", "Tab", "Tab", "Tab")
    bench.xdotool("key", "Down", "Down")
    harness.command("sleep", 300)
    state = typed.state()
    check((state["field"], state["list"]["selected"], state["dialog"]["focus"]) == ("100", 2, LIST),
          "after typing: field %r, selection %d, focus %d; expected '100', 2, the list"
          % (state["field"], state["list"]["selected"], state["dialog"]["focus"]))
    bench.xdotool("key", "Return")
    typed.gone("Enter")

    # Nothing selected (a stored 5) and Enter: colmode -1.
    unselected = Scenario(bench, harness, "ok-enter-unselected", b"[TestScreenSaver]\r\ncolmode=5\r\n")
    unselected.open()
    unselected.focus()
    bench.xdotool("key", "Return")
    unselected.gone("Enter")

    expected = [
        (defaults, DEFAULTS_FILE),
        (clicked, b"; note\r\n[Other]\r\na=1\r\n[TestScreenSaver]\r\nwait=10\r\nkomakasa=64\r\nextra=x\r\ncolmode=0\r\n"),
        (typed, b"[TestScreenSaver]\r\nwait=70\r\ncolmode=2\r\nkomakasa=100\r\n"),
        (unselected, b"[TestScreenSaver]\r\ncolmode=-1\r\nkomakasa=8\r\nwait=40\r\n"),
    ]
    problems = []
    for scenario, content in expected:
        code = scenario.ended()
        if code != 1:
            problems.append("%s: exit %d, expected 1" % (scenario.name, code))
        if scenario.file() != content:
            problems.append("%s: the file holds %r, expected %r" % (scenario.name, scenario.file(), content))
    check(not problems, "; ".join(problems))

    # The typed 100 is clamped at the next opening.
    again = Scenario(bench, harness, "reopen-typed", expected[2][1])
    again.open()
    state = again.state()
    check((state["field"], state["list"]["selected"], state["thumb"]) == ("64", 2, 70),
          "reopening after 100 shows field %r, selection %d, thumb %d; expected '64', 2, 70"
          % (state["field"], state["list"]["selected"], state["thumb"]))
    again.post(WM_COMMAND, IDCANCEL)
    again.gone("IDCANCEL")
    check(again.ended() == 2, "reopening: the cancel did not end with 2")


# ---------------------------------------------------------------- ending without saving

ODD_FILE = b"; kept as it is\n[TestScreenSaver]\nwait = 77\nkomakasa=abc\n\n[Other]\r\nx=1"


@test("cancel-escape-and-close-box-exit-2-and-leave-the-file-alone")
def ending_without_saving(bench):
    harness = bench.harness()
    harness.one("window", "owner", 240, 120, 40, 560)
    endings = [
        ("cancel-click", lambda s: (s.focus(), s.click(IDCANCEL))),
        ("cancel-command", lambda s: s.post(WM_COMMAND, IDCANCEL)),
        ("escape-key", lambda s: (s.focus(), s.bench.xdotool("key", "Escape"))),
        ("close-box-click", lambda s: (s.focus(), s.click_close_box())),
        ("sc-close", lambda s: s.post(WM_SYSCOMMAND, SC_CLOSE)),
        ("wm-close", lambda s: s.post(WM_CLOSE, 0)),
    ]
    scenarios = []
    for ending, act in endings:
        for file_name, ini in (("absent", None), ("present", ODD_FILE)):
            scenario = Scenario(bench, harness, "%s-%s" % (ending, file_name), ini)
            scenario.open()
            # Something to lose: the thumb moves first.
            bar = str(scenario.state()["controls"][SCROLL_BAR][0]["hwnd"])
            scenario.send(WM_HSCROLL, SB_PAGERIGHT, bar)
            moved = scenario.state()["thumb"]
            check(moved == (87 if ini else 50), "%s: page right gave %d" % (scenario.name, moved))
            act(scenario)
            scenario.gone(ending)
            scenarios.append(scenario)
    problems = []
    for scenario in scenarios:
        code = scenario.ended()
        if code != 2:
            problems.append("%s: exit %d, expected 2" % (scenario.name, code))
        if scenario.file() != scenario.ini:
            problems.append("%s: the file is %r, expected %r" % (scenario.name, scenario.file(), scenario.ini))
        holds = ["kelvo.ini", "kelvo.scr"] if scenario.ini is not None else ["kelvo.scr"]
        if scenario.folder_holds() != holds:
            problems.append("%s: the folder holds %s" % (scenario.name, scenario.folder_holds()))
    check(not problems, "; ".join(problems))


# ---------------------------------------------------------------- pictures

def picture_test(bench, picture_name, expected_acp):
    """Opens the dialog, checks the fit of its texts, and takes its picture; returns the problems."""
    harness = bench.harness()
    _, acp = harness.one("acp")
    check(acp["acp"] == expected_acp, "code page %s, expected %s" % (acp["acp"], expected_acp))
    scenario = Scenario(bench, harness, picture_name)
    problems, _ = check_layout(bench, scenario.exe, picture_name)
    _, owner = harness.one("window", "owner", 240, 120, 40, 560)
    bench.xdotool("mousemove", 900, 700)
    scenario.open()
    check_opening(scenario.state(), owner["hwnd"], (0, 40, " 40", "8"), picture_name)
    harness.command("sleep", 700)
    bench.screenshot(picture_name)
    crop = crop_dialog(bench, picture_name, scenario)
    # Once more with the list dropped down, to see its three items.
    state = scenario.state()
    list_window = state["controls"][LIST][0]["hwnd"]
    harness.command("send", list_window, CB_SHOWDROPDOWN, 1, 0)
    harness.command("sleep", 500)
    check(scenario.state()["list"]["dropped"] == 1, "the list did not drop down")
    bench.screenshot(picture_name + "-list")
    list_crop = crop_dialog(bench, picture_name + "-list", scenario)
    harness.command("send", list_window, CB_SHOWDROPDOWN, 0, 0)
    print("    pictures: %s, %s and %s" % (os.path.join(bench.artifacts, picture_name + ".png"), crop, list_crop),
          flush=True)
    scenario.post(WM_COMMAND, IDCANCEL)
    scenario.gone("IDCANCEL")
    check(scenario.ended() == 2, "the cancel did not end with 2")
    harness.close()
    bench.harnesses.remove(harness)
    return problems


@test("layout-check-sees-missing-glyphs-without-a-japanese-font")
def no_font(bench):
    # Wine's default locale has no font of the template's face and falls back to a Latin one.
    _, texts = check_layout(bench, bench.scenario("no-font"), "no replacement")
    missing = [t["text"] for t in texts if t["missing"]]
    check(set(missing) >= (TEMPLATE_TEXTS | set(MODES)) - {"OK", "Static"},
          "without a Japanese font the check found glyphs missing only in %s" % missing)


@test("picture-in-a-japanese-locale", lang="ja_JP.UTF-8")
def picture_japanese(bench):
    # First as Wine's Japanese locale stands, whose fallback for the template's face is whatever
    # Japanese font comes first; then with the face mapped to the proportional font a Japanese
    # system has in its place. Only the second must be clean.
    found = picture_test(bench, "dialog-japanese-locale-fallback-font", "932")
    for problem in found:
        print("    note (fallback font): " + problem, flush=True)
    import_registry(bench, FONT_REG)
    problems = picture_test(bench, "dialog-japanese-locale", "932")
    check(not problems, "; ".join(problems))


@test("picture-in-the-default-locale-with-a-replacement-font", lang="default-after-japanese")
def picture_default(bench):
    import_registry(bench, FONT_REG)  # already there after the Japanese test; again when run alone
    problems = picture_test(bench, "dialog-default-locale", "1252")
    check(not problems, "; ".join(problems))


# ---------------------------------------------------------------- runner

def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "windows-x64"))
    parser.add_argument("--build-x86", default=os.path.join(ROOT, "build", "windows-x86"))
    parser.add_argument("--artifacts", default=os.path.join(ROOT, "build", "e2e-artifacts"))
    parser.add_argument("names", nargs="*", help="run only the tests whose names contain one of these")
    args = parser.parse_args()

    for needed in ("kelvo.scr", "kelvo-harness.exe", "kelvo-dialog-probe.exe"):
        if not os.path.exists(os.path.join(args.build, needed)):
            print("FAIL setup: %s is missing in %s" % (needed, args.build))
            return 1
    chosen = [t for t in TESTS if not args.names or any(n in t[0] for n in args.names)]
    # Native checks first; then the default locale; then Japanese; then the default one again with the
    # replacement font, so that the Japanese picture shows the locale without it.
    order = {"native": 0, None: 1, "ja_JP.UTF-8": 2, "default-after-japanese": 3}
    chosen.sort(key=lambda t: order[t[1]])

    bench = Bench(args.artifacts, args.build)
    bench.build_x86 = args.build_x86
    began = time.time()
    results = []
    started_wine = False
    for name, lang, function in chosen:
        def in_its_locale(bench, lang=lang, function=function):
            nonlocal started_wine
            if lang != "native" and not started_wine:
                bench.start()
                import_registry(bench, FRAME_REG)
                started_wine = True
            wanted = "ja_JP.UTF-8" if lang == "ja_JP.UTF-8" else None
            if lang != "native" and wanted != bench.lang:
                bench.set_locale(wanted)
            function(bench)

        results.append(run_test(bench, name, in_its_locale, os.path.join(args.artifacts, "dialog-" + name + ".log")))
    failed = results.count("FAIL")
    print("%.0f s; pictures in %s" % (time.time() - began, args.artifacts))
    print("dialog-e2e: %d passed, %d failed" % (results.count("PASS"), failed))
    bench.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
