"""The settings dialog of kelvo.scr under Wine: its resources, what it shows and saves, the keyboard and
the mouse, its pictures, and kelvo.scr in folders and under names that no code page holds.

kelvo-dialog-probe.exe reads the resources and the running dialog back; the harness owns the dialog's
owner and sends it messages; xdotool types and clicks as a user does."""

import json
import os
import subprocess
import sys

import pytest

import bench
from bench import (COLOUR_LIST, CONVERT, IDCANCEL, IDOK, KOMAKASA_EDIT, ROOT, WAIT_LABEL, WAIT_SCROLL_BAR, WM_CLOSE,
                   WM_COMMAND, WM_HSCROLL, WM_NCHITTEST, WM_SYSCOMMAND, Not, unix_path, wait_until, windows_path)

sys.path.insert(0, os.path.join(ROOT, "tools"))
import check_resources  # noqa: E402

SC_CLOSE, HTCLOSE, CB_SHOWDROPDOWN = 0xF060, 20, 0x014F
SB_LINELEFT, SB_LINERIGHT, SB_PAGELEFT, SB_PAGERIGHT = 0, 1, 2, 3
SB_THUMBPOSITION, SB_THUMBTRACK, SB_LEFT, SB_RIGHT, SB_ENDSCROLL = 4, 5, 6, 7, 8
TAB_ORDER = [COLOUR_LIST, WAIT_SCROLL_BAR, KOMAKASA_EDIT, IDOK, IDCANCEL]
CAPTIONS = {COLOUR_LIST: "色の変化", WAIT_SCROLL_BAR: "ウエイト", KOMAKASA_EDIT: "細かさ"}

MODES = ["いっしょ", "ばらばら", "ランダム"]
TEMPLATE_TEXTS = {text for (_, _, text, *_rest) in check_resources.EXPECTED_CONTROLS if text} - {"Static"}
# What the earlier build, with the 8-bit profile functions, wrote.
EARLIER = "[TestScreenSaver]\r\nkomakasa={}\r\nwait={}\r\ncolmode={}\r\n"
DEFAULTS_FILE = EARLIER.format(8, 40, 0).encode()
# A Western system has no font of the template's face; a Japanese one has these in their place.
FONTS = {"ＭＳ Ｐゴシック": "IPAPGothic", "ＭＳ ゴシック": "IPAGothic", "MS UI Gothic": "IPAPGothic"}


def probe(prefix, build, *words):
    """The probe's JSON records."""
    out = prefix.run(["wine", build.file("kelvo-dialog-probe.exe")] + [str(w) for w in words])
    records = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
    assert records and records[0]["what"] != "error", "the probe failed: %s" % (records or out)
    return records


def replace_fonts(prefix, tmp_path, replaced):
    """Maps the template's face to the IPA fonts, or takes the mapping away. A UTF-16 .reg file, since
    `wine reg add` mangles names outside ASCII."""
    values = "".join('"%s"=%s\r\n' % (face, '"%s"' % font if replaced else "-") for face, font in FONTS.items())
    text = ("Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n" + values)
    (tmp_path / "fonts.reg").write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
    prefix.run(["wine", "regedit", "/S", windows_path(str(tmp_path / "fonts.reg"))])


class Dialog:
    """One kelvo.scr /c run and its dialog, seen through the probe, driven by the harness and xdotool."""

    def __init__(self, display, prefix, build, harness, exe):
        self.display, self.prefix, self.build, self.harness = display, prefix, build, harness
        self.folder = os.path.dirname(unix_path(exe))
        self.window = harness.open_dialog("dialog", exe, "/c:%owner%")
        self.hwnd = self.window["hwnd"]

    def state(self):
        """dialog, scroll, list: the probe's records; order: the controls in child order; controls by id;
        thumb, label and field."""
        state = {"order": []}
        for record in probe(self.prefix, self.build, "state", self.hwnd):
            if record["what"] == "control":
                state["order"].append(record)
            else:
                state[record["what"]] = record
        state["controls"] = {c["id"]: c for c in state["order"]}
        state["thumb"] = state["scroll"]["position"]
        state["label"] = state["controls"][WAIT_LABEL]["text"]
        state["field"] = state["controls"][KOMAKASA_EDIT]["text"]
        return state

    def state_after(self, what, expected, read):
        """The state once read(state) gives what is expected: keys reach the dialog in their own time."""
        def seen():
            state = self.state()
            return state if read(state) == expected else Not(repr(read(state)))
        return wait_until("%s: %r" % (what, expected), seen)

    def send(self, message, wparam, lparam=0):
        """The dialog's answer to a message."""
        words = self.harness.command("send", self.hwnd, message, wparam, lparam)[-1].split()
        assert words[:2] == ["result", "1"], "message 0x%X was not delivered: %s" % (message, words)
        return int(words[2].split("=")[1])

    def post(self, message, wparam, lparam=0):
        self.harness.one("post", self.hwnd, message, wparam, lparam)

    def scroll(self, code, position=0):
        self.send(WM_HSCROLL, (position << 16) | code, self.state()["controls"][WAIT_SCROLL_BAR]["hwnd"])

    def activate(self):
        """Openbox may leave the X focus on the owner when a dialog opens. A user clicks the dialog
        first; here the window manager is asked for it, and X and Windows must then agree on it."""
        self.display.wait_keyboard(self.harness, self.window, activate=True)

    def click(self, control):
        state = self.state()
        left, top, right, bottom = state["controls"][control]["rect"]
        x0, y0 = state["dialog"]["origin"]
        self.display.move(x0 + (left + right) // 2, y0 + (top + bottom) // 2)
        self.display.click(1)

    def click_close_box(self):
        """Clicks where the dialog says its close box lies in the caption row; the window manager's
        frame puts its own close box there."""
        state = self.state()
        left, top, right, bottom = state["dialog"]["rect"]
        y = (top + state["dialog"]["origin"][1]) // 2
        x = next((x for x in range(right - 2, right - 60, -1) if self.send(WM_NCHITTEST, 0, (y << 16) | x) == HTCLOSE),
                 None)
        assert x is not None, "no close box in the caption row y=%d" % y
        self.display.move(x - 4, y)
        self.display.click(1)

    def end(self):
        """The exit code, once the dialog has gone."""
        return self.harness.end_dialog("dialog", self.window)

    def file(self):
        path = os.path.join(self.folder, "kelvo.ini")
        return open(path, "rb").read() if os.path.exists(path) else None


@pytest.fixture
def owner(harness):
    return harness.window("owner", 240, 120, 40, 560)


@pytest.fixture
def open_dialog(display, prefix, build, harness, folder, owner):
    """open_dialog(ini=None, **folder arguments) -> Dialog of a fresh copy of kelvo.scr."""
    return lambda ini=None, **where: Dialog(display, prefix, build, harness, folder(ini=ini, **where))


def check_opening(state, owner, expected):
    """Owned, wide, its template texts, the file's values shown, focus on the list, and each control named
    by its caption: the nearest static text before it in child order, as accessibility tools name it."""
    dialog = state["dialog"]
    assert (dialog["owner"], dialog["unicode"], dialog["title"]) == (int(owner["hwnd"]), True, "設定")
    texts = {c["text"] for c in state["order"] if c["class"] in ("Static", "Button")}
    assert TEMPLATE_TEXTS <= texts, "template texts %s" % sorted(texts)
    assert state["list"]["items"] == MODES
    assert (state["scroll"]["minimum"], state["scroll"]["maximum"]) == (10, 200)
    assert (state["list"]["selected"], state["thumb"], state["label"], state["field"]) == expected
    assert dialog["focus"] == COLOUR_LIST, "focus starts on control %d" % dialog["focus"]
    names, caption = {}, None
    for control in state["order"]:
        if control["class"] == "Static":
            caption = control["text"]
        else:
            names[control["id"]] = caption
    ids, order = [c["id"] for c in state["order"]], [c["text"] or c["id"] for c in state["order"]]
    assert {i: names[i] for i in CAPTIONS} == CAPTIONS, "child order %s" % order
    assert ids.index(WAIT_LABEL) > ids.index(WAIT_SCROLL_BAR), "child order %s" % order


# ---------------------------------------------------------------- resources

def test_resources_read_under_wine_are_japanese_and_match(prefix, build, folder):
    records = probe(prefix, build, "resources", folder())
    found = [r for r in records if r["what"] == "resource"]
    assert all(r["found"] and r["languages"] == [0x0411] for r in found), \
        "not only under language 1041: %s" % [(r["type"], r["name"], r["languages"]) for r in found]
    read = [check_resources.Resource(r["type"], r["name"], 0x0411, bytes.fromhex(r["hex"])) for r in found]
    assert len(read) == 4 and not check_resources.check(read), check_resources.check(read)
    with open(build.file("kelvo.scr"), "rb") as handle:
        on_disk = {(r.type, r.name): r.data for r in check_resources.read_pe(handle.read())}
    assert all(on_disk.get((r.type, r.name)) == r.data for r in read), "Wine's bytes differ from the file's"
    # The comparison is not blind: a changed style is seen.
    altered = bytes([read[0].data[0] ^ 0x04]) + read[0].data[1:]
    spoiled = [check_resources.Resource(5, 2003, 0x0411, altered)] + read[1:]
    assert any("dialog 2003 style" in p for p in check_resources.check(spoiled))
    string = next(r for r in records if r["what"] == "string")
    assert string["text"] == "Kelvo", "LoadStringW(1) gives %r" % string["text"]
    icon = next(r for r in records if r["what"] == "icon")
    assert (icon["chosen"], icon["made"], icon["width"], icon["height"]) == (1, True, 32, 32), icon


# ---------------------------------------------------------------- opening, keyboard, scrolling

@pytest.mark.parametrize("ini, expected", [
    (None, (0, 40, " 40", "8")),
    (b"[TestScreenSaver]\r\nwait=5\r\nkomakasa=0\r\ncolmode=5\r\n", (-1, 10, " 10", "1")),
    (b"[TestScreenSaver]\r\nwait=500\r\nkomakasa=99\r\ncolmode=2\r\n", (2, 200, "200", "64")),
    (b"[TestScreenSaver]\r\nwait=123\r\nkomakasa=17\r\ncolmode=1\r\n", (1, 123, "123", "17")),
    # What the dialog writes for a typed 100 is clamped at the next opening.
    (b"[TestScreenSaver]\r\nwait=70\r\ncolmode=2\r\nkomakasa=100\r\n", (2, 70, " 70", "64")),
], ids=["no-file", "low-values", "high-values", "middle-values", "typed-100"])
def test_opening_shows_the_file_owned_by_the_window(harness, owner, open_dialog, ini, expected):
    dialog = open_dialog(ini)
    check_opening(dialog.state(), owner, expected)
    assert harness.one("describe", "owner")[1]["enabled"] == "0", "the owner stays enabled under the dialog"
    dialog.post(WM_COMMAND, IDCANCEL)
    assert dialog.end() == 2
    assert dialog.file() == ini
    assert harness.one("describe", "owner")[1]["enabled"] == "1", "the owner stays disabled after the dialog"


@pytest.mark.parametrize("locale", bench.LOCALES)
def test_tab_and_shift_tab_follow_the_screen_from_top_to_bottom(display, open_dialog, locale):
    dialog = open_dialog()
    dialog.activate()
    for step, (key, focus) in enumerate(zip(["Tab"] * 5 + ["shift+Tab"] * 5,
                                            TAB_ORDER[1:] + TAB_ORDER[:1] + TAB_ORDER[::-1])):
        display.key(key)
        dialog.state_after("the focus after key %d, %s" % (step + 1, key), focus, lambda s: s["dialog"]["focus"])


def test_scroll_messages_and_the_right_key_move_thumb_and_label_and_ok_saves(display, open_dialog):
    dialog = open_dialog()
    steps = [  # request code, thumb position in the high word, wait afterwards
        (SB_LINERIGHT, 0, 41), (SB_PAGERIGHT, 0, 51), (SB_LINELEFT, 0, 50), (SB_PAGELEFT, 0, 40),
        (SB_THUMBTRACK, 195, 195), (SB_PAGERIGHT, 0, 200), (SB_LINERIGHT, 0, 200),
        (SB_THUMBPOSITION, 100, 200), (SB_LEFT, 0, 200), (SB_RIGHT, 0, 200), (SB_ENDSCROLL, 0, 200),
        (SB_THUMBTRACK, 12, 12), (SB_PAGELEFT, 0, 10), (SB_LINELEFT, 0, 10), (SB_THUMBTRACK, 10, 10),
        (SB_THUMBTRACK, 87, 87),
    ]
    seen = []
    for code, position, _ in steps:
        dialog.scroll(code, position)
        state = dialog.state()
        seen.append((state["thumb"], state["label"]))
    assert seen == [(wait, "%3d" % wait) for _, _, wait in steps]
    # The keyboard reaches the scroll bar, the next stop after the list: Right is a line step.
    dialog.activate()
    display.key("Tab", "Right")
    dialog.state_after("Tab, Right", (88, " 88"), lambda s: (s["thumb"], s["label"]))
    dialog.post(WM_COMMAND, IDOK)
    assert dialog.end() == 1
    assert dialog.file() == EARLIER.format(8, 88, 0).encode()
    assert sorted(os.listdir(dialog.folder)) == ["kelvo.ini", "kelvo.scr"]


# ---------------------------------------------------------------- ending

def type_100_and_choose_random(dialog):
    """Real typing: Tab, Tab to the field (which selects its text), 100, three Tabs on round to the
    list, Down twice; then Enter for the default button."""
    dialog.activate()
    dialog.display.key("Tab", "Tab")
    dialog.display.xdotool("type", "--delay", "50", "100")
    dialog.display.key("Tab", "Tab", "Tab", "Down", "Down")
    dialog.state_after("typed 100, chose random", ("100", 2, COLOUR_LIST),
                       lambda s: (s["field"], s["list"]["selected"], s["dialog"]["focus"]))
    dialog.display.key("Return")


OK_CASES = {  # the file before, how OK is given, the file after
    "command-without-file": (None, lambda d: d.post(WM_COMMAND, IDOK), DEFAULTS_FILE),
    "command-keeps-the-earlier-builds-file": (DEFAULTS_FILE, lambda d: d.post(WM_COMMAND, IDOK), DEFAULTS_FILE),
    # The platform rewrites a file in its own form: keys replaced in place, the others kept, blanks
    # around "=" and empty lines dropped, line ends CR LF.
    "click": (b"; note\r\n[Other]\r\na = 1\r\n\r\n[TestScreenSaver]\r\n wait = 5 \r\nkomakasa=99\r\nextra=x\r\n",
              lambda d: (d.activate(), d.click(IDOK)),
              b"; note\r\n[Other]\r\na=1\r\n[TestScreenSaver]\r\nwait=10\r\nkomakasa=64\r\nextra=x\r\ncolmode=0\r\n"),
    "typed-and-enter": (b"[TestScreenSaver]\nwait=70\ncolmode=0", type_100_and_choose_random,
                        b"[TestScreenSaver]\r\nwait=70\r\ncolmode=2\r\nkomakasa=100\r\n"),
    "enter-with-nothing-selected": (b"[TestScreenSaver]\r\ncolmode=5\r\n",
                                    lambda d: (d.activate(), d.display.key("Return")),
                                    b"[TestScreenSaver]\r\ncolmode=-1\r\nkomakasa=8\r\nwait=40\r\n"),
}


@pytest.mark.parametrize("case", OK_CASES)
def test_ok_writes_the_exact_file_and_ends_with_1(open_dialog, case):
    ini, give_ok, expected = OK_CASES[case]
    dialog = open_dialog(ini)
    give_ok(dialog)
    assert dialog.end() == 1
    assert dialog.file() == expected


ENDINGS = {
    "cancel-click": lambda d: (d.activate(), d.click(IDCANCEL)),
    "cancel-command": lambda d: d.post(WM_COMMAND, IDCANCEL),
    "escape-key": lambda d: (d.activate(), d.display.key("Escape")),
    "close-box-click": lambda d: (d.activate(), d.click_close_box()),
    "sc-close": lambda d: d.post(WM_SYSCOMMAND, SC_CLOSE),
    "wm-close": lambda d: d.post(WM_CLOSE, 0),
}


ODD_FILE = b"; kept as it is\n[TestScreenSaver]\nwait = 77\nkomakasa=abc\n\n[Other]\r\nx=1"


@pytest.mark.parametrize("ini", [None, ODD_FILE], ids=["no-file", "odd-file"])
@pytest.mark.parametrize("ending", ENDINGS)
def test_ending_without_ok_exits_2_and_leaves_the_file_alone(open_dialog, ending, ini):
    dialog = open_dialog(ini)
    dialog.scroll(SB_PAGERIGHT)  # something to lose
    assert dialog.state()["thumb"] == (87 if ini else 50)
    ENDINGS[ending](dialog)
    assert dialog.end() == 2
    assert dialog.file() == ini
    assert sorted(os.listdir(dialog.folder)) == ["kelvo.ini", "kelvo.scr"][ini is None:]


# ---------------------------------------------------------------- pictures

def check_layout(prefix, build, exe):
    """Every text has its glyphs and fits its control, no two controls overlap, all lie inside. Returns the
    problems, the texts measured and the controls where the template puts them."""
    extras = []
    for control, text in [(COLOUR_LIST, mode) for mode in MODES] + [(WAIT_LABEL, t) for t in (" 10", "200", " 40")]:
        extras += [control, text.encode().hex()]
    records = probe(prefix, build, "measure", exe, *extras)
    font = next(r for r in records if r["what"] == "font")
    controls = [r for r in records if r["what"] == "control"]
    texts = [r for r in records if r["what"] == "text"]
    problems = []
    for text in texts:
        # The list's drop-down button and margins, the buttons' frames.
        room = text["room"] - {COLOUR_LIST: 20, IDOK: 8, IDCANCEL: 8}.get(text["id"], 0)
        if text["width"] > room:
            problems.append("%r needs %d pixels, control %d gives %d" % (text["text"], text["width"], text["id"], room))
        if text["missing"]:
            problems.append("%r: %d characters have no glyph in %r" % (text["text"], text["missing"], font["face"]))
    _, _, width, height = font["client"]
    for number, one in enumerate(controls):
        left, top, right, bottom = one["rect"]
        if left < 0 or top < 0 or right > width or bottom > height:
            problems.append("control %d %s lies outside the client area" % (one["id"], one["rect"]))
        for other in controls[number + 1:]:
            l2, t2, r2, b2 = other["rect"]
            if left < r2 and l2 < right and top < b2 and t2 < bottom:
                problems.append("controls %d and %d overlap" % (one["id"], other["id"]))
    print("face %r charset %d, %d texts, client %dx%d" % (font["face"], font["charset"], len(texts), width, height))
    return problems, texts, controls


def test_layout_check_sees_missing_glyphs_without_a_japanese_font(prefix, build, folder, tmp_path):
    replace_fonts(prefix, tmp_path, False)
    _, texts, _ = check_layout(prefix, build, folder())
    missing = {t["text"] for t in texts if t["missing"]}
    assert missing >= (TEMPLATE_TEXTS | set(MODES)) - {"OK"}, "glyphs missing only in %s" % missing


def pictures(dialog, screenshot, label):
    """The screen, and the dialog alone doubled for reading, with its list closed and dropped down."""
    state = dialog.state()
    left, top, right, bottom = state["dialog"]["rect"]
    list_window = state["controls"][COLOUR_LIST]["hwnd"]
    for dropped in (0, 1):
        dialog.harness.command("send", list_window, CB_SHOWDROPDOWN, dropped, 0)
        assert dialog.state()["list"]["dropped"] == dropped
        shots = []

        def still():  # the same picture twice in a row: the list is drawn
            shots[:] = shots[-1:] + [screenshot(label + ("-list" if dropped else ""))]
            return shots[-1] if len(shots) == 2 and shots[0].data == shots[1].data else Not("the screen changes")
        shot = wait_until("the dialog drawn with its list %s" % ("dropped" if dropped else "closed"), still)
        subprocess.run([CONVERT, shot.path, "-crop", "%dx%d+%d+%d" % (right - left + 16, bottom - top + 16, left - 8,
                                                                       top - 8),
                        "+repage", "-scale", "200%", shot.path[:-4] + "-dialog.png"], check=True)
    dialog.harness.command("send", list_window, CB_SHOWDROPDOWN, 0, 0)


# Wine's Japanese locale as it stands falls back to whatever Japanese font comes first; with the face
# mapped, as a Japanese system has it, the dialog must be clean. The default locale needs the mapping.
@pytest.mark.parametrize("locale, fonts", [("ja", "fallback"), ("ja", "replaced"), ("default", "replaced")])
def test_picture_fits_and_nothing_moved(prefix, build, harness, owner, open_dialog, folder, display, screenshot,
                                        tmp_path, locale, fonts):
    assert harness.one("acp")[1]["acp"] == {"default": "1252", "ja": "932"}[locale]
    replace_fonts(prefix, tmp_path, fonts == "replaced")
    problems, _, template = check_layout(prefix, build, folder())
    display.move(900, 700)
    dialog = open_dialog()
    state = dialog.state()
    check_opening(state, owner, (0, 40, " 40", "8"))
    # The child order changes at run time; every control stays where the template puts it.
    placed = sorted((c["id"], c["class"], c["rect"]) for c in state["order"])
    assert placed == sorted((c["id"], c["class"], c["rect"]) for c in template)
    pictures(dialog, screenshot, "dialog-%s-%s" % (locale, fonts))
    dialog.post(WM_COMMAND, IDCANCEL)
    assert dialog.end() == 2
    # The fallback font may need more room than the template gives; it must still have every glyph.
    assert not [p for p in problems if fonts == "replaced" or " needs " not in p], "; ".join(problems)


# ---------------------------------------------------------------- any folder, any name

PLACES = {  # folder, file name, how the stored settings are encoded (None: no file yet)
    "latin-folder": ("Łódź", "kelvo.scr", "8-bit"),
    "greek-folder-cyrillic-name": ("Αθήνα", "Заставка.scr", "8-bit"),
    "cjk-folder": ("日本語", "kelvo.scr", "8-bit"),
    "new-file-in-cjk-folder": ("日本語", "kelvo.scr", None),
    # In code page 932 the second byte of ソ and of 表 is 0x5C, a backslash's value.
    "cp932-5c-name": ("", "ソード.scr", "8-bit"),
    "cp932-5c-folder-and-name": ("表示", "表示.scr", "8-bit"),
    # Written by another program; the profile functions keep a file's encoding when they rewrite it.
    "utf-16-file-with-mark": ("", "kelvo.scr", "utf-16"),
    # No new file goes into an immutable folder (chmod does not stop Wine run as root); the platform
    # rewrites the existing one in place.
    "unwritable-folder": ("locked", "kelvo.scr", "8-bit"),
}


def stored(encoding, komakasa, wait, colmode):
    text = EARLIER.format(komakasa, wait, colmode)
    return {"8-bit": text.encode(), "utf-16": b"\xff\xfe" + text.encode("utf-16-le"), None: None}[encoding]


@pytest.mark.parametrize("place", PLACES)
@pytest.mark.parametrize("locale", bench.LOCALES)
def test_any_folder_and_name_reads_and_ok_writes_kelvo_ini_alone(open_dialog, tmp_path, locale, place):
    where, name, encoding = PLACES[place]
    komakasa, wait, colmode = (17, 123, 1) if encoding else (8, 40, 0)
    dialog = open_dialog(stored(encoding, komakasa, wait, colmode), name=name, place=where)
    if place == "unwritable-folder":
        subprocess.run(["chattr", "+i", dialog.folder], check=True)
    try:
        state = dialog.state()
        assert (state["list"]["selected"], state["thumb"], state["field"]) == (colmode, wait, str(komakasa))
        dialog.scroll(SB_PAGERIGHT)
        dialog.post(WM_COMMAND, IDOK)
        assert dialog.end() == 1
    finally:
        subprocess.run(["chattr", "-i", dialog.folder])
    # A new file is plain 8-bit text, as the earlier build wrote it.
    assert dialog.file() == stored(encoding or "8-bit", komakasa, wait + 10, colmode)
    files = sorted(os.path.relpath(os.path.join(top, f), str(tmp_path)) for top, _, fs in os.walk(str(tmp_path))
                   for f in fs)
    assert files == sorted(os.path.join("saver-0", where, f) for f in ("kelvo.ini", name))
