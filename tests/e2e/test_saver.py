"""kelvo.scr full screen and as a preview on a desktop with a window manager: what ends it, how fast."""

import subprocess
import time

import pytest

from bench import check_saver_picture, hue_bins

SAVER_CLASS = "WindowsScreenSaverClass"
START = (500, 500)


@pytest.fixture
def x_program(display):
    """Another program's X window on the desktop (xmessage); returns its X window id."""
    other = subprocess.Popen(["xmessage", "-geometry", "+40+40", "another program"], env=display.env(),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    found, deadline = [], time.time() + 10
    while not found and time.time() < deadline:
        time.sleep(0.05)
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "Xmessage"], env=display.env(),
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.split()
    try:
        assert found, "xmessage showed no window"
        yield found[-1].decode()
    finally:
        other.kill()
        other.wait()


def start_full_screen(harness, display, exe):
    display.move(*START)  # moves count from where the cursor is when the saver starts
    harness.start("saver", exe, "/s")
    window = harness.wait_window("saver", SAVER_CLASS, 15000)
    assert window is not None, "no saver window"
    return window


def assert_ends_within_a_second(harness, process, window, action, what):
    """From the action to the window gone and to the process ended with 0, each under a second."""
    began = time.monotonic()
    action()
    gone, _ = harness.wait_gone(window["hwnd"], 3000)
    gone_after = time.monotonic() - began
    ended = harness.wait(process, 3000)
    ended_after = time.monotonic() - began
    print("%s: window gone after %.0f ms, process ended after %.0f ms" % (what, 1000 * gone_after, 1000 * ended_after))
    assert gone, "the window outlived %s by 3 s" % what
    assert ended is not None, "the process outlived %s by 3 s" % what
    assert ended["code"] == 0, "exit code %d after %s" % (ended["code"], what)
    assert gone_after < 1 and ended_after < 1, "after %s the window went in %.0f ms, the process ended in %.0f ms" % (
        what, 1000 * gone_after, 1000 * ended_after)


# What the user does, after moves that must not end the saver: |dx| + |dy| = 4 from the start.
ENDINGS = {
    "key": ((), lambda display, harness, x_window: display.key("space")),
    "click": ((), lambda display, harness, x_window: display.click(1)),
    "right-click": ((), lambda display, harness, x_window: display.click(3)),
    "move-5-pixels": (((504, 500), (502, 502), (500, 496)), lambda display, harness, x_window: display.move(500, 495)),
    # Another program taking the foreground: a Windows one through the system, an X one through the
    # window manager, as a user switching with the task bar or Alt+Tab would.
    "windows-program-in-front": ((), lambda display, harness, x_window: harness.command("activate", "other")),
    "x-program-in-front": ((), lambda display, harness, x_window: display.xdotool("windowactivate", x_window)),
}


@pytest.mark.parametrize("ending", ENDINGS)
def test_input_ends_saver(display, harness, folder, x_program, ending):
    harmless_moves, action = ENDINGS[ending]
    harness.window("other", 300, 200, 400, 40)
    window = start_full_screen(harness, display, folder())
    time.sleep(0.5)
    assert harness.one("describe", window["hwnd"])[1]["foreground"] == "1", "the saver is not in front"
    for x, y in harmless_moves:
        display.move(x, y)
        gone, _ = harness.wait_gone(window["hwnd"], 700)
        assert not gone, "a move of 4 pixels to (%d, %d) ended the saver" % (x, y)
    assert_ends_within_a_second(harness, "saver", window, lambda: action(display, harness, x_program), ending)


def test_colour_mode_apart_spreads_hues(display, harness, folder, screenshot):
    start_full_screen(harness, display, folder(ini="[TestScreenSaver]\r\ncolmode=1\r\n"))
    time.sleep(1.0)
    census = check_saver_picture(screenshot("colmode-1-after-1s"), "colmode 1 after 1 s")
    assert hue_bins(census["colours"]) >= 3, "colmode 1 shows colours of only %d hue sectors" % hue_bins(
        census["colours"])


def test_preview_ends_with_its_parent(harness, folder):
    harness.window("monitor", 152, 112, 600, 400)
    harness.start("preview", folder(), "/p %monitor%")
    head, child = harness.one("waitchild", "monitor", SAVER_CLASS, 15000)
    assert head == "found", "no preview in the parent"
    assert_ends_within_a_second(harness, "preview", child, lambda: harness.command("destroy", "monitor"),
                                "the parent's end")
