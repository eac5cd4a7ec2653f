#!/usr/bin/env python3
"""Kelvo's installer under Wine, silently: what it installs and registers, the installed saver
running, and what its uninstaller takes away and leaves.

    python3 tests/e2e/installer/test_installer.py --setup EXE --version X.Y.Z --build DIR --artifacts DIR

Prints PASS or FAIL per test and exits nonzero when any fails. The tests run in order on one Wine
prefix: each starts from what the one before left.
"""

import argparse
import filecmp
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

from e2e import ROOT, Bench, Failure, check, windows_path  # noqa: E402

SAVER_CLASS = "WindowsScreenSaverClass"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvo"
OTHER_SAVER = r"C:\windows\system32\other.scr"


def saver_value_name():
    """The name of the value that names the screen saver in use, as the installer script writes it."""
    with open(os.path.join(ROOT, "installer", "kelvo.nsi"), encoding="utf-8") as handle:
        match = re.search(r'^!define SaverValue "([^"]+)"', handle.read(), re.MULTILINE)
    if not match:
        raise RuntimeError("installer/kelvo.nsi defines no SaverValue")
    return match.group(1)


class Installation:
    def __init__(self, bench, setup, version, build):
        self.bench = bench
        self.setup = setup
        self.version = version
        self.build = build
        self.harness = bench.harness()
        self.saver_value = saver_value_name()
        local = self.wine_output(["wine", "cmd", "/c", "echo", "%LOCALAPPDATA%"]).strip().splitlines()[-1]
        self.local = self.wine_output(["winepath", "-u", local]).strip().rstrip("/")
        self.programs = os.path.join(self.local, "Programs")
        self.folder = os.path.join(self.programs, "Kelvo")
        self.programs_existed = os.path.isdir(self.programs)
        self.runs = 0

    def wine_output(self, argv):
        done = subprocess.run(argv, env=self.bench.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=60)
        return done.stdout.decode("utf-8", errors="replace")

    def values(self, key):
        """The values of a registry key as a name -> (type, data) map; None when the key is absent."""
        done = subprocess.run(["wine", "reg", "query", key], env=self.bench.env(), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=60)
        if done.returncode != 0:
            return None
        result = {}
        for line in done.stdout.decode("utf-8", errors="replace").splitlines():
            parts = re.split(r"\s{4}", line.strip("\r\n").lstrip(" "))
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                result[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return result

    def set_value(self, key, name, data):
        subprocess.run(["wine", "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", data, "/f"],
                       env=self.bench.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60, check=True)

    def unix_path(self, path):
        return self.wine_output(["winepath", "-u", path]).strip()

    def run(self, exe, tail, ms=60000):
        self.runs += 1
        name = "run%d" % self.runs
        ended = self.harness.run(name, exe, tail, ms)
        check(ended is not None, "%s %s still runs after %d s" % (exe, tail, ms // 1000))
        return ended["code"]

    def install(self):
        code = self.run(windows_path(self.setup), "/S")
        check(code == 0, "the silent install ended with %d, not 0" % code)

    def uninstall(self):
        """Runs the registered uninstaller silently, as the system's list of programs would, and waits
        for the copy of itself that it starts (so that it can delete itself) to finish."""
        registered = self.values(UNINSTALL_KEY) or {}
        command = registered.get("UninstallString", ("", ""))[1].strip('"')
        check(command, "no uninstall command is registered")
        code = self.run(command, "/S")
        check(code == 0, "the silent uninstall ended with %d, not 0" % code)
        deadline = time.time() + 60
        while time.time() < deadline:
            if not os.path.exists(self.folder) and self.values(UNINSTALL_KEY) is None:
                return
            time.sleep(0.5)
        raise Failure("60 s after the uninstall, %s" % (
            "the folder still holds %s" % sorted(os.listdir(self.folder)) if os.path.exists(self.folder)
            else "the uninstall key is still there"))


TESTS = []


def test(name):
    def register(function):
        TESTS.append((name, function))
        return function
    return register


@test("install-puts-the-saver-in-the-users-programs-and-makes-it-current")
def install_puts_and_registers(kelvo):
    check(not os.path.exists(kelvo.folder), "%s exists before the install" % kelvo.folder)
    kelvo.install()

    check(os.path.isdir(kelvo.folder), "no folder %s" % kelvo.folder)
    files = sorted(os.listdir(kelvo.folder))
    check(files == ["kelvo.scr", "uninstall.exe"], "the folder holds %s" % files)
    installed = os.path.join(kelvo.folder, "kelvo.scr")
    # This Wine is a 64-bit system: the installer must choose the x64 build.
    check(filecmp.cmp(installed, os.path.join(kelvo.build, "kelvo.scr"), shallow=False),
          "the installed kelvo.scr is not the x64 build")

    desktop = kelvo.values(DESKTOP_KEY) or {}
    saver = desktop.get(kelvo.saver_value)
    check(saver is not None and saver[0] == "REG_SZ", "no string value %s: %s" % (kelvo.saver_value, saver))
    check(os.path.exists(kelvo.unix_path(saver[1])) and os.path.samefile(kelvo.unix_path(saver[1]), installed),
          "%s is %r, which is not the installed kelvo.scr" % (kelvo.saver_value, saver[1]))
    check(desktop.get("ScreenSaveActive") == ("REG_SZ", "1"),
          "ScreenSaveActive is %r, not \"1\"" % (desktop.get("ScreenSaveActive"),))

    registered = kelvo.values(UNINSTALL_KEY)
    check(registered is not None, "no uninstall key")
    for name, wanted in (("DisplayName", "Kelvo"), ("DisplayVersion", kelvo.version)):
        check(registered.get(name, ("", ""))[1] == wanted,
              "the uninstall key's %s is %r, not %r" % (name, registered.get(name), wanted))
    command = registered.get("UninstallString", ("", ""))[1].strip('"')
    check(command and os.path.samefile(kelvo.unix_path(command), os.path.join(kelvo.folder, "uninstall.exe")),
          "the uninstall command %r is not the installed uninstall.exe" % command)
    print("    installed in %s; %s = %s" % (kelvo.folder, kelvo.saver_value, saver[1]), flush=True)


@test("installed-saver-runs-full-screen-and-a-key-ends-it-with-0")
def installed_saver_runs(kelvo):
    desktop = kelvo.values(DESKTOP_KEY) or {}
    command = desktop.get(kelvo.saver_value, ("", ""))[1]
    check(command, "no screen saver is set")
    # Started as the system starts the saver in use: its registered path and /s.
    kelvo.harness.start("saver", command, "/s")
    window = kelvo.harness.wait_window("saver", SAVER_CLASS, 15000)
    check(window is not None, "the installed saver made no window")
    time.sleep(1)
    kelvo.bench.screenshot("installed-saver")
    kelvo.bench.xdotool("key", "space")
    ended = kelvo.harness.wait("saver", 15000)
    check(ended is not None, "the installed saver still runs 15 s after a key")
    check(ended["code"] == 0, "the installed saver ended with %d after a key, not 0" % ended["code"])


@test("uninstall-leaves-nothing-and-restores-no-saver")
def uninstall_leaves_nothing(kelvo):
    # Settings saved beside the saver, as its dialog's OK does.
    with open(os.path.join(kelvo.folder, "kelvo.ini"), "w") as handle:
        handle.write("[TestScreenSaver]\r\nwait=20\r\n")
    kelvo.uninstall()
    check(not os.path.exists(kelvo.folder), "%s is still there" % kelvo.folder)
    if not kelvo.programs_existed:
        check(not os.path.exists(kelvo.programs), "%s, made by the install, is still there" % kelvo.programs)
    desktop = kelvo.values(DESKTOP_KEY) or {}
    check(kelvo.saver_value not in desktop,
          "%s is still %r: Kelvo, gone, is still the screen saver" % (kelvo.saver_value, desktop.get(kelvo.saver_value)))
    check(kelvo.values(UNINSTALL_KEY) is None, "the uninstall key is still there")


@test("uninstall-keeps-a-screen-saver-chosen-since")
def uninstall_keeps_another_choice(kelvo):
    kelvo.install()
    check(os.path.isfile(os.path.join(kelvo.folder, "kelvo.scr")), "the second install put no kelvo.scr")
    kelvo.set_value(DESKTOP_KEY, kelvo.saver_value, OTHER_SAVER)
    kelvo.uninstall()
    desktop = kelvo.values(DESKTOP_KEY) or {}
    check(desktop.get(kelvo.saver_value, ("", ""))[1] == OTHER_SAVER,
          "%s is %r after the uninstall, not the other saver %r" % (
              kelvo.saver_value, desktop.get(kelvo.saver_value), OTHER_SAVER))
    check(not os.path.exists(kelvo.folder), "%s is still there" % kelvo.folder)
    check(kelvo.values(UNINSTALL_KEY) is None, "the uninstall key is still there")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--setup", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--artifacts", required=True)
    options = parser.parse_args()

    bench = Bench(os.path.abspath(options.artifacts), os.path.abspath(options.build))
    bench.start()
    kelvo = Installation(bench, os.path.abspath(options.setup), options.version, os.path.abspath(options.build))
    failed = 0
    for name, function in TESTS:
        began = time.time()
        try:
            function(kelvo)
            print("PASS %s (%.1f s)" % (name, time.time() - began), flush=True)
        except Failure as failure:
            failed += 1
            print("FAIL %s: %s" % (name, failure), flush=True)
            with open(os.path.join(bench.artifacts, name + ".log"), "w") as log:
                log.write("\n".join(kelvo.harness.transcript) + "\n")
    bench.close()
    print("%d of %d installer tests passed" % (len(TESTS) - failed, len(TESTS)), flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
