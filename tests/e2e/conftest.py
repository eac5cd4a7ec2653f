"""Fixtures of the end-to-end suite: the real kelvo.scr under Wine, on Xvfb with openbox.

Made once per run (session):
  display    bench.Display: Xvfb 1024x768x24 on a free number, openbox managing it (checked, or the
             session fails). .name (":N"), .env(), .key(*keys), .click(button), .move(x, y),
             .xdotool(*args) -> output, .screenshot(path) -> Picture, .wait_keyboard(harness, window)
             before keys: X shows the window with the focus, and Wine has it in front;
             .wait_pointer(harness, window) before clicks: that, the pointer over it for X and Wine,
             and a move of a pixel and back taken as input (bench.PointerLost if not);
             .pointer(harness) -> where each has the pointer.
  prefix64   bench.Prefix: the 64-bit prefix, which runs x64 and x86 programs. .path, .env(**extra),
             .run(argv, timeout=60, check_status=True, **extra_env) -> output, .harness(exe) -> Harness,
             .set_locale(locale), .stop().
  prefix32   bench.Prefix with WINEARCH=win32, made the first time a test asks for it.
  resizable  (display, prefix) of a second desktop whose screen size can change (Xorg's dummy driver),
             made the first time a test asks for it; skips where Xorg cannot start.
  monitors   (display, prefix, unbuilt) of a desktop of two monitors, one at negative coordinates, without a
             window manager, made the first time a test asks for it; unbuilt: {build: why its Xinerama is missing}.
  build      Build, parametrized "x64" and "x86" (build/windows-x64, build/windows-x86), so a case
             written once runs for both: test_x[x64], test_x[x86]. .name, .dir, .file(name) -> path.
             The x86 cases skip where Wine has no 32-bit side.
Per test:
  prefix     prefix64 switched to the test's locale. A test chooses one with
             @pytest.mark.parametrize("locale", bench.LOCALES) (ids "default", "ja"); without it, the
             default. Tests run grouped by locale, since a switch restarts Wine's server.
  harness    bench.Harness of the build under test, kept across tests: .start(name, exe, tail),
             .wait(name, ms), .run(...), .window(name, w, h, x, y), .wait_window(...), .wait_gone(...),
             .open_dialog(...), .end_dialog(...), .find(...), .command(*words), .one(*words). What a test
             started or made is ended after it; a harness whose reply timed out is replaced.
  folder     folder(name="kelvo.scr", ini=None, place="", signed=False) -> Windows path (Z:\\...) of a
             copy of the build's kelvo.scr in a private folder (in a subfolder of that name if place is
             given), with a kelvo.ini of the text or bytes given; signed: the copy tools/sign.sh signed
             with a throwaway certificate. Names outside ASCII start through the wide start.
  artifacts  build/e2e/<test id>/, made empty for every test.
  screenshot screenshot(label) -> Picture of the screen, kept as artifacts/<label>.png.
  x_program  the X window id of another program's window on the desktop (xmessage), for a test that
             gives it the foreground through the window manager.
A failing test leaves a screenshot (failure-call.png, or -setup/-teardown) and its harness transcript
(transcript.txt) in its artifacts folder, and its report names the folder. Every wait is
bench.wait_until on a condition with a deadline. Marker: slow (`pytest -m "not slow"` leaves those out).
"""

import os
import re
import shutil
import subprocess
import time

import pytest

import bench

HERE = os.path.dirname(os.path.abspath(__file__))
ARTIFACTS = os.path.join(bench.ROOT, "build", "e2e")
BUILDS = {"x64": "windows-x64", "x86": "windows-x86"}


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: the long runs, left out of the quick loop by -m 'not slow'")


@pytest.hookimpl(trylast=True)
def pytest_collection_modifyitems(items):
    # After pytest's own grouping by build: all of one locale together, the default first.
    order = list(bench.LOCALES)
    items.sort(key=lambda item: order.index(_locale_of(item)))


def _locale_of(item):
    callspec = getattr(item, "callspec", None)
    return callspec.params.get("locale", "default") if callspec else "default"


@pytest.fixture(scope="session")
def _workspace(tmp_path_factory):
    return tmp_path_factory.mktemp("wine")


@pytest.fixture(scope="session")
def display(_workspace):
    began = time.time()
    screen = bench.Display(str(_workspace))
    print("\ndisplay %s with openbox in %.1f s" % (screen.name, time.time() - began))
    yield screen
    screen.close()


def _prefix(workspace, display, name, arch=None, **extra_env):
    made = bench.Prefix(os.path.join(str(workspace), name), display, arch, **extra_env)
    print("\nprefix %s made in %.1f s" % (name, made.made_in))
    return made


@pytest.fixture(scope="session")
def prefix64(_workspace, display):
    made = _prefix(_workspace, display, "prefix64")
    yield made
    made.stop()


@pytest.fixture(scope="session")
def prefix32(_workspace, display):
    made = _prefix(_workspace, display, "prefix32", arch="win32")
    yield made
    made.stop()


@pytest.fixture(scope="session")
def resizable(_workspace):
    folder = os.path.join(str(_workspace), "resizable")
    os.makedirs(folder)
    try:
        screen = bench.Display(folder, resizable=True)
    except (OSError, RuntimeError) as error:
        pytest.skip("no display whose size can change (Xorg with the dummy driver): %s" % error)
    made = _prefix(_workspace, screen, "prefix-resizable")
    yield screen, made
    made.stop()
    screen.close()


@pytest.fixture(scope="session")
def monitors(_workspace):
    folder, unbuilt = os.path.join(str(_workspace), "monitors"), {}
    for build, flag in (("x64", "-m64"), ("x86", "-m32")):  # the loader skips a library of the other class
        os.makedirs(os.path.join(folder, build))
        made = subprocess.run(["gcc", flag, "-shared", "-fPIC", "-nostdlib", "-o", build + "/libXinerama.so.1",
                               os.path.join(HERE, "monitors", "xinerama.c")], cwd=folder, capture_output=True)
        if made.returncode:
            unbuilt[build] = "no %s libXinerama.so.1 of ours: %s" % (build, made.stderr.decode(errors="replace"))
    # No window manager: one would stretch the full-screen window over the whole X screen.
    screen = bench.Display(folder, 1824, 968, window_manager=False)
    # As X has them, the primary first; the other, left of it and higher, is at negative Windows coordinates.
    made = _prefix(_workspace, screen, "prefix-monitors", KELVO_MONITORS="1024x768+800+200 800x600+0+0",
                   LD_LIBRARY_PATH=":".join(os.path.join(folder, build) for build in BUILDS))
    # Wine's X driver asks Xinerama for the monitors only with XRandR off.
    made.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "UseXRandR", "/d", "N", "/f"])
    made.run(["wineserver", "-w"])
    yield screen, made, unbuilt
    made.stop()
    screen.close()


class Build:
    def __init__(self, name):
        self.name = name
        self.dir = os.path.join(bench.ROOT, "build", BUILDS[name])

    def file(self, name):
        return os.path.join(self.dir, name)


@pytest.fixture(scope="session", params=list(BUILDS))
def build(request):
    made = Build(request.param)
    for needed in ("kelvo.scr", "kelvo-harness.exe"):
        if not os.path.exists(made.file(needed)):
            pytest.fail("%s is missing: cmake --preset %s && cmake --build --preset %s"
                        % (made.file(needed), BUILDS[made.name], BUILDS[made.name]))
    if made.name == "x86":
        # A prefix has a 32-bit side only when Wine had one (wine32) when the prefix was made.
        wow = os.path.join(request.getfixturevalue("prefix64").path, "drive_c", "windows", "syswow64", "kernel32.dll")
        if not os.path.exists(wow):
            pytest.skip("this Wine runs no 32-bit programs (no wine32:i386, or a kernel without 32-bit support)")
    return made


@pytest.fixture
def prefix(request, prefix64):
    prefix64.set_locale(_locale_of(request.node))
    return prefix64


@pytest.fixture
def harness(request, prefix, build):
    served = prefix.harness(build.file("kelvo-harness.exe"))
    request.node.kelvo_transcript = (served, len(served.transcript))
    yield served
    served.reset()


@pytest.fixture(scope="session")
def _signed(tmp_path_factory):
    """signed(build) -> a folder with the build's kelvo.scr signed by tools/sign.sh, as tools/package.sh
    signs it, with a throwaway self-signed code-signing certificate; checked with osslsigncode."""
    work = tmp_path_factory.mktemp("signed")
    key, certificate = str(work / "key.pem"), str(work / "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", certificate,
                    "-days", "2", "-subj", "/CN=Kelvo test signer", "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True)
    environment = dict(os.environ, KELVO_SIGN_CERT=certificate, KELVO_SIGN_KEY=key)

    def sign(build):
        folder = work / build.name
        if not folder.exists():
            folder.mkdir()
            copy = str(folder / "kelvo.scr")
            shutil.copyfile(build.file("kelvo.scr"), copy)
            subprocess.run([os.path.join(bench.ROOT, "tools", "sign.sh"), copy], env=environment, check=True,
                           capture_output=True)
            subprocess.run(["osslsigncode", "verify", "-CAfile", certificate, "-in", copy], check=True,
                           capture_output=True)
        return str(folder)
    return sign


@pytest.fixture
def folder(request, tmp_path, build):
    made = []

    def make(name="kelvo.scr", ini=None, place="", signed=False):
        made.append(tmp_path / ("saver-%d" % len(made)) / place)
        source = request.getfixturevalue("_signed")(build) if signed else build.dir
        return bench.saver_copy(str(made[-1]), source, name, ini)
    return make


@pytest.fixture(autouse=True)
def artifacts(request):
    relative = os.path.relpath(str(request.node.path), HERE)
    path = os.path.join(ARTIFACTS, re.sub(r"[^A-Za-z0-9_.-]+", "-", relative + "-" + request.node.name).strip("-"))
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    request.node.kelvo_artifacts = path
    return path


@pytest.fixture
def screenshot(display, artifacts):
    return lambda label: display.screenshot(os.path.join(artifacts, label + ".png"))


@pytest.fixture
def x_program(display):
    other = subprocess.Popen(["xmessage", "-geometry", "+40+40", "another program"], env=display.env(),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        found = bench.wait_until("xmessage's window on the screen", lambda: subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--class", "Xmessage"], env=display.env(),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.split())
        yield found[-1].decode()
    finally:
        other.kill()
        other.wait()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    path = getattr(item, "kelvo_artifacts", None)
    if not report.failed or path is None:
        return
    served, start = getattr(item, "kelvo_transcript", (None, 0))
    if served is not None:
        with open(os.path.join(path, "transcript.txt"), "a") as log:
            log.write("# %s\n%s\n" % (report.when, "\n".join(served.transcript[start:])))
    screen = item.funcargs.get("display")
    if screen is not None and screen.xvfb is not None:
        try:
            screen.screenshot(os.path.join(path, "failure-%s.png" % report.when))
        except Exception as error:  # the report matters more than the picture
            report.sections.append(("kelvo artifacts", "no failure screenshot: %s" % error))
    report.sections.append(("kelvo artifacts", os.path.relpath(path, bench.ROOT)))


def _x86(report):
    params = report.nodeid.rpartition("[")[2].rstrip("]").split("-") if report.nodeid.endswith("]") else []
    return "x86" in params or "setup-on-32-bit-windows" in report.nodeid


# After pytest's own summary, before its last line: what the run says about the 32-bit build.
@pytest.hookimpl(hookwrapper=True, tryfirst=True)
def pytest_terminal_summary(terminalreporter):
    yield
    reports = [r for kind in ("passed", "failed", "error", "skipped") for r in terminalreporter.stats.get(kind, [])
               if getattr(r, "nodeid", None) and _x86(r) and (r.when == "call" or not r.passed)]
    ran, skipped = {r.nodeid for r in reports if r.when == "call" and not r.skipped}, {}
    for r in reports:
        if r.skipped and r.nodeid not in ran:
            reason = r.longrepr[2] if isinstance(r.longrepr, tuple) else str(r.longrepr)
            skipped.setdefault(reason.replace("Skipped: ", "", 1), set()).add(r.nodeid)
    count = sum(map(len, skipped.values()))
    terminalreporter.write_sep("=", "x86 (32-bit) build", bold=True)
    terminalreporter.write_line("x86 cases: %d ran, %d skipped" % (len(ran), count), bold=True, yellow=count > 0)
    for reason, ids in sorted(skipped.items()):
        terminalreporter.write_line("  %d skipped: %s" % (len(ids), reason), yellow=True)
    if len(ran) < count:
        terminalreporter.write_line("MOST x86 CASES DID NOT RUN: this run says little about the 32-bit build",
                                    yellow=True, bold=True)
