#!/usr/bin/env python3
"""End-to-end tests of kelvo.scr under Wine in Xvfb, driven through kelvo-harness.exe.

    python3 tests/e2e/run_tests.py [--build DIR] [--artifacts DIR] [--native-probe FILE] [NAME...]

Prints PASS or FAIL per test and exits nonzero when any test fails. Screenshots and the harness
transcript of every failed test are kept in the artifacts folder.
"""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from bench import check_saver_picture  # noqa: E402
from e2e import (REFUSED, ROOT, SCREEN_HEIGHT, SCREEN_WIDTH, Bench, Failure, check, colour_census, run_test,  # noqa: E402
                 windows_path)

SAVER_CLASS = "WindowsScreenSaverClass"
DIALOG_CLASS = "#32770"
WM_KEYDOWN, WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONDOWN = 0x0100, 0x0200, 0x0201, 0x0204
WM_CLOSE, WM_CONTEXTMENU, WM_COMMAND = 0x0010, 0x007B, 0x0111
IDCANCEL = 2
WS_EX_TOPMOST = 0x8

TESTS = []


def test(name, lang=None):
    def register(function):
        TESTS.append((name, lang, function))
        return function
    return register


# ---------------------------------------------------------------- shared steps

def start_saver(bench, harness, name, exe, tail="/s"):
    """Starts a full-screen saver and returns its window's fields once it shows."""
    harness.start(name, exe, tail)
    window = harness.wait_window(name, SAVER_CLASS, 15000)
    check(window is not None, "%s %s made no saver window" % (name, tail))
    return window


def ends_within_a_second(bench, harness, name, window, action, description):
    """Performs the action and checks that the saver window goes within a second and the process
    then ends with 0 (Wine takes a few more seconds to end a process)."""
    began = time.time()
    action()
    gone, _ = harness.wait_gone(window["hwnd"], 3000)
    elapsed = (time.time() - began) * 1000
    check(gone, "the saver window outlived %s by 3 s" % description)
    check(elapsed <= 1000, "the saver window went %.0f ms after %s, not within a second" % (elapsed, description))
    ended = harness.wait(name, 10000)
    check(ended is not None, "the saver's process still runs 10 s after %s" % description)
    check(ended["code"] == 0, "exit code %d after %s, expected 0" % (ended["code"], description))
    return elapsed


def components(picture):
    """Connected groups of non-black pixels (8-neighbourhood): lists of (x, y)."""
    width, height, data = picture.width, picture.height, picture.data
    lit = bytearray(width * height)
    for i in range(width * height):
        if data[3 * i] or data[3 * i + 1] or data[3 * i + 2]:
            lit[i] = 1
    groups = []
    for start in range(width * height):
        if not lit[start]:
            continue
        lit[start] = 0
        stack = [start]
        group = []
        while stack:
            i = stack.pop()
            x, y = i % width, i // width
            group.append((x, y))
            for dy in (-1, 0, 1):
                for dx in (-1, 0, 1):
                    nx, ny = x + dx, y + dy
                    if 0 <= nx < width and 0 <= ny < height and lit[ny * width + nx]:
                        lit[ny * width + nx] = 0
                        stack.append(ny * width + nx)
        groups.append(group)
    return groups


def star_verdict(group):
    """Why a group of pixels is not a five-pointed star standing upright in a 16 x 16 cell, or None."""
    xs = [p[0] for p in group]
    ys = [p[1] for p in group]
    left, top, right, bottom = min(xs), min(ys), max(xs), max(ys)
    width, height = right - left + 1, bottom - top + 1
    if not (8 <= width <= 16 and 8 <= height <= 16):
        return "a %d x %d shape" % (width, height)
    cells = set(group)
    fill = len(group) / (width * height)
    if not 0.3 <= fill <= 0.8:
        return "fills %.0f%% of its box" % (100 * fill)
    rows = [sum(1 for x in range(left, right + 1) if (x, y) in cells) for y in range(top, bottom + 1)]
    if rows[0] > max(3, width // 4):
        return "a flat top %d pixels wide" % rows[0]
    widest = max(range(height), key=lambda r: rows[r])
    if widest > height // 2:
        return "widest at row %d of %d" % (widest, height)
    centre_x, centre_y = (left + right) // 2, (top + bottom) // 2
    if not any((centre_x + dx, centre_y + dy) in cells for dx in (0, 1) for dy in (0, 1)):
        return "a hollow centre"
    mirrored = sum(1 for (x, y) in group if (left + right - x, y) in cells)
    if mirrored / len(group) < 0.8:
        return "not mirror-symmetric (%.0f%%)" % (100 * mirrored / len(group))
    return None


def check_first_frame_stars(picture, label, expected_colour):
    """After the first frame of a black window: eight stars alone, each in the first frame's colour."""
    groups = components(picture)
    stars, notes = 0, []
    colours = set()
    whole = 0
    for group in groups:
        xs = [p[0] for p in group]
        ys = [p[1] for p in group]
        if min(xs) == 0 or min(ys) == 0 or max(xs) == picture.width - 1 or max(ys) == picture.height - 1:
            # Clipped by the screen's edge; a cut star may fall apart into several pieces.
            continue
        whole += 1
        for (x, y) in group:
            colours.add(picture.pixel(x, y))
        verdict = star_verdict(group)
        if verdict is None:
            stars += 1
        else:
            notes.append(verdict)
    summary = "%s: %d groups of lit pixels, %d upright stars; others: %s; colours %s" % (
        label, len(groups), stars, ", ".join(notes) or "none", sorted(colours)[:6])
    print("    " + summary, flush=True)
    check(1 <= whole <= 8, summary + ": expected the eight glyphs and nothing else")
    # Two glyphs may overlap and some may stand at the edge; most must be whole stars.
    check(stars >= min(4, whole), summary + ": the glyphs are not stars")
    check(colours == {expected_colour}, summary + ": glyph colours differ from %s" % (expected_colour,))


def expect_refused(harness, exe, tails):
    """Starts every tail at once; each must exit with -1 and make no window."""
    for number, tail in enumerate(tails):
        harness.start("tail%d" % number, exe, tail)
    failures = []
    for number, tail in enumerate(tails):
        ended = harness.wait("tail%d" % number, 15000)
        if ended is None:
            failures.append("%r still runs" % tail)
        elif ended["code"] != REFUSED or ended["windows"]:
            failures.append("%r: exit %d, windows %s" % (tail, ended["code"], ended["classes"] or "none"))
    check(not failures, "; ".join(failures))


def dead_window(harness):
    """The handle of a window that existed and is gone, so it names no window."""
    _, values = harness.one("window", "doomed", 50, 50, 900, 700)
    harness.command("destroy", "doomed")
    return values["hwnd"]


# ---------------------------------------------------------------- the bench itself

@test("bench-reads-exit-codes-pixels-and-messages")
def bench_self_check(bench):
    harness = bench.harness()
    # Full 32-bit exit codes, which a shell would cut to 8 bits.
    for code, expected in (("7", 7), ("-1", REFUSED), ("305419896", 305419896)):
        ended = harness.run("cmd" + code, "C:\\windows\\system32\\cmd.exe", "/c exit " + code, 15000)
        check(ended is not None and ended["code"] == expected, "cmd /c exit %s read as %s" % (code, ended))
    # A harness window and a child it paints itself appear where the harness says they are.
    _, window = harness.one("window", "probe", 120, 80, 700, 100)
    _, painter = harness.one("painter", "painted", "probe")
    check(painter["parent"] == window["hwnd"], "the painter is not the probe's child")
    x, y = (int(v) for v in window["origin"].split(","))
    picture = bench.screenshot("bench-self-check")
    check(picture.pixel(x + 30, y + 30) == (255, 0, 0), "the painted cell is %s" % (picture.pixel(x + 30, y + 30),))
    check(picture.pixel(x + 100, y + 70) == (0, 0, 0) or picture.pixel(x + 100, y + 70) == (128, 128, 128),
          "the probe's client area is %s" % (picture.pixel(x + 100, y + 70),))
    # Messages to a harness window are counted, pointer moves land where asked.
    harness.command("send", "probe", WM_CONTEXTMENU, "probe", 0x00050006)
    _, events = harness.one("events", "probe")
    check(events["contextmenu"] == "1" and events["contextmenu_wparam"] == window["hwnd"],
          "the harness did not record WM_CONTEXTMENU: %s" % events)
    bench.xdotool("mousemove", 123, 45)
    time.sleep(0.2)
    _, cursor = harness.one("cursor")
    check(bench.pointer() == (123, 45), "xdotool put the pointer at %s" % (bench.pointer(),))
    check((cursor["x"], cursor["y"]) == ("123", "45"), "Wine sees the cursor at %s" % cursor)
    harness.command("destroy", "probe")


# ---------------------------------------------------------------- full-screen mode

@test("fullscreen-window-picture-second-instance-and-small-moves")
def fullscreen_main(bench):
    harness = bench.harness()
    exe = bench.scenario("fullscreen")
    bench.xdotool("mousemove", 300, 300)
    time.sleep(0.2)
    window = start_saver(bench, harness, "first", exe)
    shown = time.time()

    check(window["title"] == "Screen Saver", "title %r" % window["title"])
    check(int(window["style"], 16) == 0x96000000, "style %s, expected 0x96000000" % window["style"])
    check(int(window["exstyle"], 16) & WS_EX_TOPMOST, "not topmost: exstyle %s" % window["exstyle"])
    check(window["rect"] == "0,0,%d,%d" % (SCREEN_WIDTH, SCREEN_HEIGHT),
          "covers %s, not the %dx%d screen" % (window["rect"], SCREEN_WIDTH, SCREEN_HEIGHT))
    check(window["visible"] == "1" and window["parent"] == "0", "not a visible popup: %s" % window)
    found = harness.find(SAVER_CLASS, "Screen Saver")
    check(found is not None and found["hwnd"] == window["hwnd"], "FindWindowA does not find it by class and title")

    time.sleep(max(0.0, 1.0 - (time.time() - shown)))
    check_saver_picture(bench.screenshot("fullscreen-default-locale-after-1s"), "after 1 s")

    # A second full-screen start finds the first, brings it forward and ends at once with 0.
    second = harness.run("second", exe, "/s", 10000)
    check(second is not None, "the second /s still runs after 10 s")
    check(second["code"] == 0, "the second /s exited with %d, expected 0" % second["code"])
    check(second["windows"] == 0, "the second /s made windows: %s" % second["classes"])
    check(second["life"] and float(second["life"]) < 3000, "the second /s took %s ms" % second["life"])
    after = harness.one("describe", window["hwnd"])
    check(after[0] == "window", "the first saver's window is gone after the second start")
    check(after[1]["foreground"] == "1" and after[1]["topmost"] == "1", "the first saver is not in front: %s" % after[1])

    # Movements of |dx| + |dy| = 4 from where the cursor was at creation do not end it.
    for (x, y) in ((304, 300), (302, 302), (300, 296)):
        bench.xdotool("mousemove", x, y)
        gone, _ = harness.wait_gone(window["hwnd"], 700)
        check(not gone, "a movement of 4 pixels to (%d, %d) ended the saver" % (x, y))
    check(bench.pointer() == (300, 296), "the pointer is not where the test put it")
    # One more pixel, and it ends.
    ends_within_a_second(bench, harness, "first", window, lambda: bench.xdotool("mousemove", 300, 295),
                         "a movement of 5 pixels")
    check(harness.find(SAVER_CLASS) is None, "a saver window is left over")


# ---------------------------------------------------------------- preview mode

@test("preview-fills-parent-ignores-input-forwards-help-ends-with-parent")
def preview(bench):
    # Wine gives a child of another process's window no drawing surface, so this preview's pixels
    # never reach the screen; the next test shows the drawing in a parent that Wine can show.
    harness = bench.harness()
    exe = bench.scenario("preview")
    _, parent = harness.one("window", "monitor", 152, 112, 600, 400)
    harness.start("preview", exe, "/p %monitor%")
    head, child = harness.one("waitchild", "monitor", SAVER_CLASS, 15000)
    check(head == "found", "no child of class %s in the parent" % SAVER_CLASS)
    check(child["title"] == "Preview", "title %r" % child["title"])
    check(int(child["style"], 16) == 0x52000000, "style %s, expected 0x52000000" % child["style"])
    check(child["visible"] == "1", "the preview is not visible")
    check(child["parent"] == parent["hwnd"], "parent %s, expected %s" % (child["parent"], parent["hwnd"]))
    listing = harness.command("children", "monitor")
    check(any("fills=1" in line and "hwnd=%s " % child["hwnd"] in line for line in listing),
          "the preview does not fill the parent's client area: %s" % listing)

    # Neither real input nor input messages end a preview.
    origin_x, origin_y = (int(v) for v in parent["origin"].split(","))
    bench.xdotool("mousemove", origin_x + 40, origin_y + 40)
    bench.xdotool("mousemove", origin_x + 120, origin_y + 90)
    bench.xdotool("click", "1")
    bench.xdotool("key", "space")
    for message, wparam, lparam in ((WM_KEYDOWN, 0x20, 0x00390001), (WM_LBUTTONDOWN, 1, 0x00100010),
                                    (WM_RBUTTONDOWN, 2, 0x00100010), (WM_MOUSEMOVE, 0, 0x00500050)):
        harness.command("post", child["hwnd"], message, wparam, lparam)
    gone, _ = harness.wait_gone(child["hwnd"], 1500)
    check(not gone, "input ended the preview")
    check(harness.wait("preview", 0) is None, "the preview's process ended on input")

    # Help and context-menu requests reach the parent, with wParam the parent's own handle.
    head, answer = harness.one("send", child["hwnd"], WM_CONTEXTMENU, child["hwnd"], 0x00280014)
    check(answer.get("value") == "1", "WM_CONTEXTMENU to the preview answered %s, expected 1" % answer.get("value"))
    head, answer = harness.one("help", child["hwnd"])
    check(answer.get("value") == "1", "WM_HELP to the preview answered %s, expected 1" % answer.get("value"))
    _, events = harness.one("events", "monitor")
    check(events["contextmenu"] == "1", "the parent got %s WM_CONTEXTMENU, expected 1" % events["contextmenu"])
    check(events["contextmenu_wparam"] == parent["hwnd"] and events["contextmenu_lparam"] == str(0x00280014),
          "WM_CONTEXTMENU reached the parent with wParam %s lParam %s, expected %s and %d"
          % (events["contextmenu_wparam"], events["contextmenu_lparam"], parent["hwnd"], 0x00280014))
    check(events["help"] == "1", "the parent got %s WM_HELP, expected 1" % events["help"])
    check(events["help_wparam"] == parent["hwnd"],
          "WM_HELP reached the parent with wParam %s, expected %s" % (events["help_wparam"], parent["hwnd"]))

    # Destroying the parent destroys the preview and ends the process with 0.
    harness.command("destroy", "monitor")
    gone, _ = harness.wait_gone(child["hwnd"], 2000)
    check(gone, "the preview outlived its parent")
    ended = harness.wait("preview", 10000)
    check(ended is not None, "the preview's process still runs 10 s after its parent went")
    check(ended["code"] == 0, "the preview ended with %d, expected 0" % ended["code"])


@test("preview-draws-and-animates-and-ignores-real-input")
def preview_drawing(bench):
    # The desktop window as the parent: Wine makes such a child a window of its own on the screen,
    # so the preview's drawing can be seen.
    harness = bench.harness()
    bench.xdotool("mousemove", 300, 300)
    harness.start("preview", bench.scenario("preview-drawing"), "/p %desktop%")
    head, child = harness.one("waitchild", "desktop", SAVER_CLASS, 15000)
    check(head == "found", "no preview child of the desktop window")
    check(child["title"] == "Preview" and int(child["style"], 16) == 0x52000000,
          "title %r style %s" % (child["title"], child["style"]))
    check(child["rect"] == "0,0,%d,%d" % (SCREEN_WIDTH, SCREEN_HEIGHT),
          "the preview covers %s, not the desktop's client area" % child["rect"])
    time.sleep(1.0)
    first = bench.screenshot("preview-in-desktop-frame-a")
    time.sleep(0.3)
    second = bench.screenshot("preview-in-desktop-frame-b")
    check(first.data != second.data, "the preview does not change between two pictures 0.3 s apart")
    check_saver_picture(second, "preview after 1.3 s")

    # Real input over the preview does not end it.
    for x, y in ((340, 300), (600, 500)):
        bench.xdotool("mousemove", x, y)
    bench.xdotool("click", "1")
    bench.xdotool("click", "3")
    bench.xdotool("key", "space")
    gone, _ = harness.wait_gone(child["hwnd"], 1500)
    check(not gone, "real input ended the preview")
    check(harness.wait("preview", 0) is None, "the preview's process ended on input")

    # A close request ends it, with 0.
    harness.command("post", child["hwnd"], WM_CLOSE, 0, 0)
    gone, _ = harness.wait_gone(child["hwnd"], 2000)
    check(gone, "WM_CLOSE did not end the preview")
    ended = harness.wait("preview", 10000)
    check(ended is not None and ended["code"] == 0, "the preview ended with %s, expected 0" % ended)


@test("preview-without-a-window-is-refused")
def preview_refused(bench):
    harness = bench.harness()
    exe = bench.scenario("preview-refused")
    dead = dead_window(harness)
    tails = ["/p", "/p 0", "/p:123", "/p abc", "/p %s" % dead, "/l %s" % dead]
    expect_refused(harness, exe, tails)


# ---------------------------------------------------------------- refused tails

@test("refused-tails-exit-minus-one-without-a-window")
def refused_tails(bench):
    harness = bench.harness()
    exe = bench.scenario("refused")
    tails = ["/x", "/?", "/1", "/x /s", "/\ts", "x", "/a", "/A 123", ":s"]
    expect_refused(harness, exe, tails)


# ---------------------------------------------------------------- settings mode

@test("settings-mode-owners-and-cancel")
def settings_mode(bench):
    harness = bench.harness()
    exe = bench.scenario("settings")
    dead = dead_window(harness)
    _, owner = harness.one("window", "owner", 200, 100, 50, 500)
    _, front = harness.one("window", "front", 200, 100, 400, 500)
    cases = [
        ("", "none", "escape"),
        ("/-  /", "none", "cancel"),
        ("/c", "front", "cancel"),
        ("/c 123", "front", "cancel"),
        ("/c:%s" % dead, "front", "cancel"),
        ("/c:%owner%", "owner", "escape"),
        ("-C:%owner%", "owner", "cancel"),
    ]
    expected_owner = {"none": "0", "front": front["hwnd"], "owner": owner["hwnd"]}
    failures = []
    for number, (tail, who, ending) in enumerate(cases):
        name = "c%d" % number
        head, _ = harness.one("activate", "front")
        harness.start(name, exe, tail)
        dialog = harness.wait_window(name, DIALOG_CLASS, 15000)
        if dialog is None:
            ended = harness.wait(name, 5000)
            failures.append("%r: no dialog (%s)" % (tail, "exit %d" % ended["code"] if ended else "still running"))
            continue
        if dialog["owner"] != expected_owner[who]:
            failures.append("%r: dialog owned by %s, expected %s (%s)" % (tail, dialog["owner"], expected_owner[who], who))
        if number == 0:
            bench.screenshot("settings-mode-dialog-of-the-empty-tail")
        if ending == "escape":
            # Without a window manager the X focus follows the pointer: put it on the dialog.
            x, y = (int(v) for v in dialog["origin"].split(","))
            width, height = (int(v) for v in dialog["client"].split(","))
            bench.xdotool("mousemove", x + width // 2, y + height // 2)
            time.sleep(0.3)
            bench.xdotool("key", "Escape")
        else:
            harness.command("post", dialog["hwnd"], WM_COMMAND, IDCANCEL, 0)
        gone, _ = harness.wait_gone(dialog["hwnd"], 3000)
        if not gone and ending == "escape":
            failures.append("%r: Escape did not end the dialog" % tail)
            harness.command("post", dialog["hwnd"], WM_COMMAND, IDCANCEL, 0)
            gone, _ = harness.wait_gone(dialog["hwnd"], 3000)
        if not gone:
            failures.append("%r: the dialog stays after IDCANCEL" % tail)
            continue
        ended = harness.wait(name, 10000)
        if ended is None:
            failures.append("%r: still runs 10 s after its dialog went" % tail)
        elif ended["code"] != 2:
            failures.append("%r: exit %d after cancelling, expected 2" % (tail, ended["code"]))
    check(not failures, "; ".join(failures))


# ---------------------------------------------------------------- settings file reading

def load_profile_cases():
    """The shared table: name, scope, file body (None: no file), expected wait, komakasa, colmode."""
    cases = []
    with open(os.path.join(os.path.dirname(__file__), "profiles", "cases.txt"), encoding="ascii") as table:
        for line in table:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            name, scope, body, wait, komakasa, colmode = line.split()
            if body == "<none>":
                content = None
            elif body == "<empty>":
                content = b""
            else:
                content = body.encode("ascii").decode("unicode_escape").encode("latin-1")
            cases.append((name, scope, content, (int(wait), int(komakasa), int(colmode))))
    return cases


def probe_output(text):
    values = {}
    for line in text.splitlines():
        words = line.split()
        if len(words) == 5 and words[0] == "file":
            values[int(words[1])] = tuple(int(w.split("=")[1]) for w in words[2:])
    return values


@test("profile-reading-matches-the-stand-in")
def profile_reading(bench):
    cases = load_profile_cases()
    folder = os.path.join(bench.temp, "profiles")
    paths = []
    for name, _, content, _ in cases:
        os.makedirs(os.path.join(folder, name))
        path = os.path.join(folder, name, "kelvo.ini")
        if content is not None:
            with open(path, "wb") as handle:
                handle.write(content)
        paths.append(path)
    probe = os.path.join(bench.build, "kelvo-profile-probe.exe")
    wine_text = bench.wine_command(["wine", probe] + [windows_path(p) for p in paths], timeout=60)
    wine = probe_output(wine_text)
    native = None
    if bench.native_probe:
        native = probe_output(subprocess.run([bench.native_probe] + paths, stdout=subprocess.PIPE, check=True,
                                             timeout=60).stdout.decode())
    failures, notes = [], []
    for index, (name, scope, _, expected) in enumerate(cases, start=1):
        got = wine.get(index)
        if got != expected:
            failures.append("%s: Wine reads %s, the table says %s" % (name, got, expected))
        if native is not None:
            mine = native.get(index)
            if mine != got:
                line = "%s: the stand-in reads %s, Wine %s" % (name, mine, got)
                (failures if scope == "both" else notes).append(line)
    print("    %d files; native side %s" % (len(cases), "compared" if native is not None else "NOT BUILT"), flush=True)
    for note in notes:
        print("    note (platform-only case): " + note, flush=True)
    check(native is not None, "the native probe was not built, so the stand-in was not compared")
    check(not failures, "; ".join(failures))


# ---------------------------------------------------------------- the glyph in both locales

def glyph_shifts(first, second, colour):
    """How far down each lone glyph of the first picture has moved in the second: the mean row of the
    pixels of its colour around it, before and after. Glyphs near others or near the bottom are left out."""
    boxes = []
    for group in components(first):
        xs = [p[0] for p in group]
        ys = [p[1] for p in group]
        # A column band moves 4 rows up to 15 down, a row band up to 10 columns either way.
        boxes.append(((min(xs) - 12, min(ys) - 6, max(xs) + 12, max(ys) + 18), sum(ys) / len(ys)))
    shifts = []
    for index, ((left, top, right, bottom), mean_before) in enumerate(boxes):
        if top < 8 or bottom >= first.height or left < 0 or right >= first.width:
            continue
        if any(not (r < left or l > right or b < top or t > bottom)
               for other, ((l, t, r, b), _) in enumerate(boxes) if other != index):
            continue
        rows = [y for y in range(top, bottom + 1) for x in range(left, right + 1) if second.pixel(x, y) == colour]
        if rows:
            shifts.append(sum(rows) / len(rows) - mean_before)
    return shifts


def glyph_picture(bench, label):
    """The first two frames alone, with a 3 s frame interval: the first frame's glyphs on black, then
    the same pixels moved by the second frame's band copies beside the glyphs drawn anew."""
    harness = bench.harness()
    bench.xdotool("mousemove", 700, 700)
    exe = bench.scenario("glyph-" + label, ini="[TestScreenSaver]\r\nwait=3000\r\ncolmode=0\r\n")
    window = start_saver(bench, harness, "saver", exe)
    shown = time.time()
    _, locale = harness.one("acp")  # the code page this Wine runs the saver in
    code_page = locale["acp"]
    time.sleep(max(0.0, 4.5 - (time.time() - shown)))
    first = bench.screenshot("glyph-first-frame-%s-cp%s" % (label, code_page))
    # colmode 0: every glyph of the first frame has hue 4, of the second hue 8.
    check_first_frame_stars(first, "code page " + code_page, (255, 4, 0))
    time.sleep(max(0.0, 7.5 - (time.time() - shown)))
    second = bench.screenshot("glyph-second-frame-%s-cp%s" % (label, code_page))
    shifts = glyph_shifts(first, second, (255, 4, 0))
    drawn_anew = colour_census(second.data)["colours"].get((255, 8, 0), 0)
    summary = "code page %s: the second frame moved the lone first glyphs down by %s rows" % (
        code_page, ", ".join("%.1f" % shift for shift in shifts))
    print("    " + summary, flush=True)
    check(len(shifts) >= 3, summary + ": too few lone glyphs to follow")
    # The column bands move down by 5.5 rows on average (offsets -4 to 15); over some twenty bands
    # a mean below 1 is a chance of about one in five thousand, while bands that do not lean
    # downwards average 0.
    check(sum(shifts) / len(shifts) >= 1.0, summary + ": the trails do not sink")
    # Eight glyphs of about 85 pixels each, some of them partly outside the screen or overlapping.
    check(drawn_anew >= 4 * 60, summary + ": the second frame drew %d pixels in the next hue (255, 8, 0)" % drawn_anew)
    ends_within_a_second(bench, harness, "saver", window, lambda: bench.xdotool("key", "Escape"), "a key")

    # The ordinary animation in this locale too.
    harness.start("moving", bench.scenario("stars-" + label), "/s")
    moving = harness.wait_window("moving", SAVER_CLASS, 15000)
    check(moving is not None, "no saver window")
    time.sleep(1.5)
    check_saver_picture(bench.screenshot("fullscreen-%s-cp%s-after-1.5s" % (label, code_page)),
                        "code page " + code_page)
    ends_within_a_second(bench, harness, "moving", moving, lambda: bench.xdotool("click", "1"), "a click")
    return code_page


@test("glyph-is-a-star-in-the-default-locale")
def glyph_default(bench):
    acp = glyph_picture(bench, "default-locale")
    check(acp != "932", "the default locale already runs in code page 932")


@test("glyph-is-a-star-in-a-japanese-locale", lang="ja_JP.UTF-8")
def glyph_japanese(bench):
    acp = glyph_picture(bench, "japanese-locale")
    check(acp == "932", "LANG=ja_JP.UTF-8 gave code page %s, not 932" % acp)


# ---------------------------------------------------------------- runner

def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "windows-x64"))
    parser.add_argument("--artifacts", default=os.path.join(ROOT, "build", "e2e-artifacts", "saver"))
    parser.add_argument("--native-probe", default=os.path.join(ROOT, "build", "e2e-native", "profile_probe"))
    parser.add_argument("names", nargs="*", help="run only the tests whose names contain one of these")
    args = parser.parse_args()

    for needed in ("kelvo.scr", "kelvo-harness.exe", "kelvo-profile-probe.exe"):
        if not os.path.exists(os.path.join(args.build, needed)):
            print("FAIL setup: %s is missing in %s" % (needed, args.build))
            return 1
    chosen = [t for t in TESTS if not args.names or any(n in t[0] for n in args.names)]
    # The Japanese tests run last, after Wine's server restarts in that locale.
    chosen.sort(key=lambda t: t[1] is not None)

    # The pictures and logs of an earlier run go; the folder is this layer's own by default.
    if os.path.isdir(args.artifacts):
        for entry in os.listdir(args.artifacts):
            if entry.endswith((".png", ".log")) and os.path.isfile(os.path.join(args.artifacts, entry)):
                os.remove(os.path.join(args.artifacts, entry))
    bench = Bench(args.artifacts, args.build)
    bench.native_probe = args.native_probe if os.path.exists(args.native_probe) else None
    began = time.time()
    bench.start()
    results = []
    for name, lang, function in chosen:
        if lang != bench.lang:
            bench.set_locale(lang)
        results.append(run_test(bench, name, function, os.path.join(args.artifacts, name + ".log")))
    failed = results.count("FAIL")
    print("e2e: %d passed, %d failed in %.0f s; pictures in %s" % (results.count("PASS"), failed,
                                                                    time.time() - began, args.artifacts))
    bench.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
