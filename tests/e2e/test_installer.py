"""Kelvo's installer under Wine, silently: what it installs and registers, the installed saver running,
what its uninstaller takes away, leaves and gives back, its Start-menu entry, and an install into a
folder outside the ANSI code page. Wine has no desk.cpl: what would open it is read back or traced.

The installer users get is build/package/Kelvo-<version>-setup.exe (tools/package.sh), a 32-bit
program: in the 64-bit prefix it must install the x64 build, in a 32-bit prefix the x86 build. Where
Wine runs no 32-bit programs those cases skip, and only the third variant runs: the same script built
as a 64-bit program (makensis -DTARGET_AMD64) in the 64-bit prefix. It exercises the script's logic,
not the installer that ships.
"""

import filecmp
import os
import re
import subprocess

import pytest

import bench
from bench import DIALOG_CLASS, IDOK, SAVER_CLASS, WM_COMMAND, windows_path

DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvo"
OTHER_SAVER = r"C:\windows\system32\other.scr"
VERSION = re.search(r"project\(Kelvo VERSION ([0-9.]+)", open(os.path.join(bench.ROOT, "CMakeLists.txt")).read())[1]
SETUP = os.path.join(bench.ROOT, "build", "package", "Kelvo-%s-setup.exe" % VERSION)
# The name of the value that names the screen saver in use, as the installer script writes it.
SAVER_VALUE = re.search(r'^!define SaverValue "([^"]+)"', open(os.path.join(bench.ROOT, "installer", "kelvo.nsi"),
                                                                 encoding="utf-8").read(), re.MULTILINE)[1]

# The installer, the prefix it runs in, the build it must install there, and its native system folder.
VARIANTS = {
    "setup-on-64-bit-windows": ("setup", "prefix", "x64", r"C:\windows\Sysnative"),
    "setup-on-32-bit-windows": ("setup", "prefix32", "x86", r"C:\windows\system32"),
    "64-bit-build-of-the-script": ("amd64", "prefix", "x64", r"C:\windows\system32"),
}


@pytest.fixture(scope="session")
def amd64_setup():
    """The installer's script built as a 64-bit program, for a Wine without a 32-bit side."""
    out = os.path.join(bench.ROOT, "build", "installer-test", "Kelvo-%s-setup-amd64.exe" % VERSION)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    builds = {name: os.path.join(bench.ROOT, "build", "windows-" + name, "kelvo.scr") for name in ("x64", "x86")}
    subprocess.run(["makensis", "-V1", "-DTARGET_AMD64", "-DVERSION=" + VERSION, "-DX64=" + builds["x64"],
                    "-DX86=" + builds["x86"], "-DOUTFILE=" + out, os.path.join(bench.ROOT, "installer", "kelvo.nsi")],
                   check=True)
    return out


class Installation:
    def __init__(self, prefix, harness, setup, build, native):
        self.prefix, self.harness, self.setup, self.build, self.native = prefix, harness, setup, build, native
        echoed = self.output("wine", "cmd", "/c", "echo", "%LOCALAPPDATA%*%APPDATA%").strip().splitlines()[-1]
        local, roaming = echoed.split("*")
        self.windows_folder = local + r"\Programs\Kelvo"
        self.programs = self.output("winepath", "-u", local).strip().rstrip("/") + "/Programs"
        self.folder = self.programs + "/Kelvo"
        self.windows_link = roaming + r"\Microsoft\Windows\Start Menu\Programs\Kelvo.lnk"
        self.link = self.output("winepath", "-u", self.windows_link).strip()
        self.programs_existed = os.path.isdir(self.programs)

    def output(self, *argv):
        return subprocess.run(argv, env=self.prefix.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=60).stdout.decode("utf-8", errors="replace")

    def values(self, key):
        """The string values of a registry key, name -> text; None when the key is absent. An export,
        since reg query prints in a code page that lacks most names."""
        exported = os.path.join(self.prefix.path, "kelvo-export.reg")
        if subprocess.run(["wine", "reg", "export", key, windows_path(exported), "/y"], env=self.prefix.env(),
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode != 0:
            return None
        with open(exported, encoding="utf-16") as export:
            found = re.findall(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"$', export.read(), re.MULTILINE)
        return {re.sub(r"\\(.)", r"\1", name): re.sub(r"\\(.)", r"\1", text) for name, text in found}

    def saver_in_use(self):
        return (self.values(DESKTOP_KEY) or {}).get(SAVER_VALUE, "")

    def set_saver(self, path):
        if path:
            self.output("wine", "reg", "add", DESKTOP_KEY, "/v", SAVER_VALUE, "/t", "REG_SZ", "/d", path, "/f")
        else:
            self.output("wine", "reg", "delete", DESKTOP_KEY, "/v", SAVER_VALUE, "/f")

    def run(self, name, exe, tail, ms=60000):
        ended = self.harness.run(name, exe, tail, ms)
        assert ended is not None, "%s %s still runs after %d s" % (exe, tail, ms // 1000)
        return ended["code"]

    def install(self, folder=None, option=""):
        # /D= must come last and unquoted, blanks and all; the wide start carries any name.
        tail = ("/S " + option).strip() + ("" if folder is None else " /D=" + windows_path(folder))
        self.harness.command("startw", "setup", bench.quote(windows_path(self.setup), "utf-8"),
                             bench.quote(tail, "utf-8"))
        ended = self.harness.wait("setup", 60000)
        assert ended is not None and ended["code"] == 0, "the silent install ended with %s, not 0" % ended

    def install_through_pages(self):
        """Installs as a user does (Install, Close), Wine tracing processes; returns the command lines started."""
        trace = os.path.join(self.prefix.path, "setup-trace.txt")
        with open(trace, "w") as log:
            setup = subprocess.Popen(["wine", self.setup], env=self.prefix.env(WINEDEBUG="+process"), stderr=log)

            def clicked_through():
                for page in ("Installation Options", "Completed"):
                    window = self.harness.find(DIALOG_CLASS, "Kelvo %s Setup: %s" % (VERSION, page))
                    if window:
                        self.harness.command("post", window["hwnd"], WM_COMMAND, IDOK, 0)
                return setup.poll() is not None or bench.Not("the installer still runs")
            bench.wait_until("Install and Close on the installer's pages", clicked_through, 60)
        with open(trace, errors="replace") as log:
            started = re.findall(r"CreateProcessInternalW app .* cmdline L\"(.*)\"$", log.read(), re.MULTILINE)
        return [re.sub(r"\\(.)", r"\1", line) for line in started]

    def uninstall(self, folder):
        """Runs the registered uninstaller silently, as the system's list of programs would, and waits
        for the copy of itself that it starts (so that it can delete itself) to finish."""
        command = (self.values(UNINSTALL_KEY) or {}).get("UninstallString", "").strip('"')
        assert command, "no uninstall command is registered"
        assert self.run("uninstall", command, "/S") == 0, "the silent uninstall did not end with 0"
        def finished():
            if os.path.exists(folder):
                return bench.Not("the uninstall left %s in %s" % (sorted(os.listdir(folder)), folder))
            return self.values(UNINSTALL_KEY) is None or bench.Not("the uninstall key is still there")
        bench.wait_until("the uninstall", finished, 60)
        assert not os.path.exists(self.link), "the uninstall left the Start-menu entry"

    def check_installed(self, folder):
        """The files in the folder, the build that suits the system, and the registered saver and uninstaller."""
        assert sorted(os.listdir(folder)) == ["kelvo.scr", "uninstall.exe"]
        installed = os.path.join(folder, "kelvo.scr")
        assert filecmp.cmp(installed, os.path.join(self.build, "kelvo.scr"), shallow=False), \
            "the installed kelvo.scr is not the build of %s" % self.build
        saver = self.saver_in_use()
        assert saver and os.path.samefile(self.output("winepath", "-u", saver).strip(), installed), \
            "%s is %r, not the installed kelvo.scr" % (SAVER_VALUE, saver)
        assert (self.values(DESKTOP_KEY) or {}).get("ScreenSaveActive") == "1"
        registered = self.values(UNINSTALL_KEY) or {}
        assert registered.get("DisplayName") == "Kelvo"
        assert registered.get("DisplayVersion") == VERSION
        command = registered.get("UninstallString", "").strip('"')
        uninstaller = os.path.join(folder, "uninstall.exe")
        assert command and os.path.samefile(self.output("winepath", "-u", command).strip(), uninstaller), \
            "the uninstall command is %r" % command
        self.check_shortcut(folder)
        return saver

    def check_shortcut(self, folder):
        """The Start-menu entry, read back with IShellLinkW: the system's Install verb on the installed kelvo.scr."""
        _, link = self.harness.one("shortcut", bench.quote(self.windows_link, "utf-8"))
        installed = (self.windows_folder if folder == self.folder else windows_path(folder)) + r"\kelvo.scr"
        assert (link["target"].lower(), link["arguments"]) == (
            r"c:\windows\system32\rundll32.exe", "desk.cpl,InstallScreenSaver " + installed), link


@pytest.fixture(params=VARIANTS)
def kelvo(request, prefix64):
    setup, prefix_name, build_name, native = VARIANTS[request.param]
    # As in conftest's build fixture: a prefix has a 32-bit side only when Wine had one when it was made.
    if setup == "setup" and not os.path.exists(os.path.join(prefix64.path, "drive_c/windows/syswow64/kernel32.dll")):
        pytest.skip("the installer is a 32-bit program, and this Wine runs no 32-bit programs")
    prefix = request.getfixturevalue(prefix_name)
    build = os.path.join(bench.ROOT, "build", "windows-" + build_name)
    harness = prefix.harness(os.path.join(build, "kelvo-harness.exe"))
    request.node.kelvo_transcript = (harness, len(harness.transcript))
    made = Installation(prefix, harness, SETUP if setup == "setup" else request.getfixturevalue("amd64_setup"), build,
                        native)
    assert os.path.exists(made.setup), "%s is missing: tools/package.sh" % made.setup
    yield made
    # What a failed case left must not meet the next one in the same prefix.
    left = (made.values(UNINSTALL_KEY) or {}).get("UninstallString")
    if left:
        harness.run("cleanup", left.strip('"'), "/S")
    made.output("wine", "reg", "delete", DESKTOP_KEY, "/v", SAVER_VALUE, "/f")
    harness.reset()


def test_install_runs_as_the_screen_saver_and_uninstall_leaves_nothing(kelvo, display):
    assert not os.path.exists(kelvo.folder), "%s exists before the install" % kelvo.folder
    started = kelvo.install_through_pages()
    saver = kelvo.check_installed(kelvo.folder)
    # It opened the native screen-saver settings (where Wine, without desk.cpl, shows none).
    assert '"%s\\control.exe" desk.cpl,,@screensaver' % kelvo.native in started, started
    # Started as the system starts the saver in use: its registered path and /s.
    kelvo.harness.start("saver", saver, "/s")
    window = kelvo.harness.wait_window("saver", SAVER_CLASS, 15000)
    assert window is not None, "the installed saver made no window"
    display.wait_keyboard(kelvo.harness, window)
    display.key("space")
    ended = kelvo.harness.wait("saver", 15000)
    assert ended is not None and ended["code"] == 0, "the installed saver did not end with 0 after a key"
    # Settings saved beside the saver, as its dialog's OK does.
    with open(os.path.join(kelvo.folder, "kelvo.ini"), "w") as ini:
        ini.write("[TestScreenSaver]\r\nwait=20\r\n")
    kelvo.uninstall(kelvo.folder)
    if not kelvo.programs_existed:
        assert not os.path.exists(kelvo.programs), "%s, made by the install, is still there" % kelvo.programs
    assert not kelvo.saver_in_use(), "Kelvo, gone, is still the screen saver"


@pytest.mark.parametrize("before, option, since, after", [
    (OTHER_SAVER, "", None, OTHER_SAVER),
    (OTHER_SAVER, "", "deleted", ""),
    ("", "", None, ""),
    (OTHER_SAVER, "", r"C:\windows\system32\another.scr", r"C:\windows\system32\another.scr"),
    (OTHER_SAVER, "/KEEPSAVER", None, OTHER_SAVER),
], ids=["comes-back", "its-file-deleted", "none-before", "another-chosen-since", "kelvo-not-chosen"])
def test_uninstall_gives_back_the_screen_saver_kelvo_replaced(kelvo, before, option, since, after):
    other = os.path.join(kelvo.prefix.path, "drive_c", "windows", "system32", "other.scr")
    open(other, "wb").close()
    kelvo.set_saver(before)
    kelvo.install(option=option)
    kelvo.check_shortcut(kelvo.folder)
    assert (kelvo.saver_in_use() == before) == (option == "/KEEPSAVER"), kelvo.saver_in_use()
    if since == "deleted":
        os.remove(other)
    elif since:
        kelvo.set_saver(since)
    kelvo.uninstall(kelvo.folder)
    assert kelvo.saver_in_use() == after


def test_install_into_a_folder_outside_the_code_page_saves_settings_there(kelvo, tmp_path):
    folder = str(tmp_path / "Łódź 日本語")
    kelvo.install(folder)
    kelvo.check_installed(folder)
    dialog = kelvo.harness.open_dialog("settings", windows_path(os.path.join(folder, "kelvo.scr")), "/c")
    assert kelvo.harness.end_dialog("settings", dialog, IDOK) == IDOK, "OK did not end the dialog with 1"
    assert sorted(os.listdir(folder)) == ["kelvo.ini", "kelvo.scr", "uninstall.exe"], "OK saved no kelvo.ini there"
    with open(os.path.join(folder, "kelvo.ini"), "rb") as ini:
        assert b"[TestScreenSaver]" in ini.read()
    kelvo.uninstall(folder)
    assert not kelvo.saver_in_use(), "Kelvo, gone, is still the screen saver"
