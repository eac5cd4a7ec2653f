#!/usr/bin/env python3
"""Measures kelvo.scr under Wine in Xvfb beside baselines of our own, measured in the same run.

    tools/benchmark.py [--rounds N] [--seconds S] [--repeats R] [--no-build] [--markdown FILE]

- First frame: the time from the process's start to its first frame on the screen, full screen
  (/s) and as a preview (/p), beside tools/bench/window.cpp, a minimal program that opens the
  same window and draws one coloured cell at the first tick of the same 40 ms timer. Both are
  started by tools/bench/driver.cpp inside Wine, which watches the screen for the first coloured
  pixel; the median of N rounds (after one warm-up round) is reported.
- CPU time per 100 frames at 1024 x 768 and 1920 x 1080 for komakasa 1, 8 and 64 at the default
  wait of 40 ms (x64), and for the x86 build at the default komakasa where Wine runs 32-bit
  programs (else it says why not): user and system time of the saver's process and of the X
  server, read from /proc before and after S seconds, over the frames counted meanwhile by a hook in the program's
  thread, R runs taken in turns with tools/bench/floor.cpp, which makes the same strip, band-copy
  and glyph calls per frame with nothing around them (the floor the design sets).

Each figure is reported with its ratio to its baseline. The benchmark is not a test: it fails only
when a measurement cannot be made.
"""

import argparse
import os
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import bench  # noqa: E402

SIZES = ((1024, 768), (1920, 1080))
KOMAKASA = (1, 8, 64)
DEFAULT_KOMAKASA = 8
WAIT = 40


def build_dir(build):
    return os.path.join(ROOT, "build", "windows-" + build)


def bench_program(build, name):
    return os.path.join(build_dir(build), "bench", name)


def build():
    for build_name in ("x64", "x86"):
        subprocess.run(["cmake", "--preset", "windows-" + build_name], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "windows-" + build_name, "--target", "kelvo", "kelvo-bench",
                        "kelvo-bench-window", "kelvo-bench-floor", "kelvo-bench-hook"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)


class Screen:
    """A bare Xvfb display of one size with a fresh Wine prefix on it. No window manager: the
    figures in the README were taken without one."""

    def __init__(self, width, height):
        self.temp = tempfile.mkdtemp(prefix="kelvo-benchmark-")
        self.display = self.prefix = None
        try:
            self.display = bench.Display(self.temp, width, height, window_manager=False)
            self.prefix = bench.Prefix(os.path.join(self.temp, "prefix"), self.display)
        except BaseException:
            self.close()
            raise

    def env(self):
        return self.prefix.env()

    def x_server_pid(self):
        return self.display.xvfb.pid

    def saver(self, build, name, ini=None):
        return bench.saver_copy(os.path.join(self.temp, name), build_dir(build), ini=ini)

    def why_no_x86(self):
        """None when the prefix runs 32-bit programs, else why not."""
        if not os.path.exists(os.path.join(self.prefix.path, "drive_c", "windows", "syswow64", "kernel32.dll")):
            return "this Wine runs no 32-bit programs (no wine32:i386, or a kernel without 32-bit support)"
        missing = [p for p in ("kelvo-bench.exe", "kelvo-bench-floor.exe", "kelvo-bench-hook.dll")
                   if not os.path.exists(bench_program("x86", p))]
        return "the x86 bench programs are missing: %s" % ", ".join(missing) if missing else None

    def close(self):
        if self.prefix is not None:
            self.prefix.stop()
        if self.display is not None:
            self.display.close()
        shutil.rmtree(self.temp, ignore_errors=True)


class Driver:
    """kelvo-bench.exe cpu: one program started, hooked and ended, answering marks with frame counts."""

    def __init__(self, screen, build, exe, tail):
        self.errors = open(os.path.join(screen.temp, "driver-errors.log"), "w+b")
        # The driver hooks the program's thread, so it is of the program's build.
        self.process = subprocess.Popen(["wine", bench_program(build, "kelvo-bench.exe"), "cpu", exe, tail],
                                        env=screen.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.errors, bufsize=0)
        self.pending = b""

    def error_text(self):
        self.errors.seek(0)
        return self.errors.read().decode(errors="replace").strip()[-400:]

    def line(self, timeout=30):
        deadline = time.time() + timeout
        while b"\n" not in self.pending:
            left = deadline - time.time()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                raise RuntimeError("the driver gave no answer within %d s" % timeout)
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                raise RuntimeError("the driver ended: %s" % self.error_text())
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode().strip()

    def send(self, word):
        self.process.stdin.write(word.encode() + b"\n")
        self.process.stdin.flush()

    def frames(self):
        self.send("mark")
        answer = self.line()
        if not answer.startswith("frames "):
            raise RuntimeError("the driver answered %r" % answer)
        return int(answer.split()[1])

    def end(self):
        try:
            if self.process.poll() is None:
                self.send("end")
                self.line(30)
        finally:
            self.process.wait(timeout=30)
            self.errors.close()


def cpu_run(screen, build, exe, tail, seconds):
    """Frames, seconds and CPU seconds of the program and of the X server over one measuring time.
    A run that fails is tried once more, saying why: once in a few dozen runs the driver ended
    without a word while starting."""
    try:
        return cpu_run_once(screen, build, exe, tail, seconds)
    except (RuntimeError, OSError) as error:
        print("    %s %s: %s; trying again" % (exe, tail, error), flush=True)
        return cpu_run_once(screen, build, exe, tail, seconds)


def cpu_run_once(screen, build, exe, tail, seconds):
    driver = Driver(screen, build, exe, tail)
    try:
        ready = driver.line()
        if not ready.startswith("ready"):
            raise RuntimeError("the driver could not start %s: %s" % (exe, ready))
        pid = bench.linux_pid(exe)
        if pid is None:
            raise RuntimeError("no Linux process runs %s" % exe)
        time.sleep(1.0)  # past the first paint and frames
        frames_before = driver.frames()
        program_before, x_before, began = bench.cpu_seconds(pid), bench.cpu_seconds(screen.x_server_pid()), time.time()
        time.sleep(seconds)
        frames_after = driver.frames()
        program_after, x_after, ended = bench.cpu_seconds(pid), bench.cpu_seconds(screen.x_server_pid()), time.time()
    finally:
        driver.end()
    return {"frames": frames_after - frames_before, "seconds": ended - began,
            "program": program_after - program_before, "x": x_after - x_before}


def per_hundred_frames(runs):
    """Frames per second, and CPU milliseconds per 100 frames of the program and of the X server."""
    frames = sum(run["frames"] for run in runs)
    if frames <= 0:
        raise RuntimeError("no frames were drawn")
    scale = 100.0 / frames * 1000.0
    return {"fps": frames / sum(run["seconds"] for run in runs),
            "program": sum(run["program"] for run in runs) * scale,
            "x": sum(run["x"] for run in runs) * scale}


def first_frames(screen, mode, rounds, programs):
    """Median milliseconds from start to the first coloured pixel, per program, after a warm-up round."""
    driver = bench_program("x64", "kelvo-bench.exe")
    done = subprocess.run(["wine", driver, "first", mode, str(rounds + 1)] + programs, env=screen.env(),
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60 + 40 * rounds)
    times = [[] for _ in programs]
    for line in done.stdout.decode().splitlines():
        words = line.split()
        if len(words) == 4 and words[0] == "first":
            if words[3] in ("timeout", "failed"):
                raise RuntimeError("%s %s: %s" % (programs[int(words[2])], mode, words[3]))
            if int(words[1]) > 0:
                times[int(words[2])].append(float(words[3]))
    if any(len(t) != rounds for t in times):
        raise RuntimeError("the driver measured %s" % done.stdout.decode())
    return [statistics.median(t) for t in times]


def copy_of(screen, name, source):
    """A copy of a program in a folder of its own, so that its process can be told from others'."""
    folder = os.path.join(screen.temp, name)
    os.makedirs(folder, exist_ok=True)
    shutil.copy(source, folder)
    return bench.windows_path(os.path.join(folder, os.path.basename(source)))


def cpu_row(screen, build, width, height, komakasa, options):
    """One row of the CPU table: kelvo.scr and the floor program of one build, taken in turns."""
    saver = screen.saver(build, "cpu-%s-%d-%d" % (build, width, komakasa),
                         "[TestScreenSaver]\r\nwait=%d\r\nkomakasa=%d\r\ncolmode=0\r\n" % (WAIT, komakasa))
    floor = copy_of(screen, "floor-%s-%d" % (build, komakasa), bench_program(build, "kelvo-bench-floor.exe"))
    kelvo_runs, base_runs = [], []
    for _ in range(options.repeats):
        kelvo_runs.append(cpu_run(screen, build, saver, "/s", options.seconds))
        base_runs.append(cpu_run(screen, build, floor, "%d %d" % (komakasa, WAIT), options.seconds))
    kelvo, base = per_hundred_frames(kelvo_runs), per_hundred_frames(base_runs)
    kelvo_total, base_total = kelvo["program"] + kelvo["x"], base["program"] + base["x"]
    return "| %d x %d | %s | %d | %.0f ms (%.0f + %.0f) | %.0f ms (%.0f + %.0f) | %.2f | %.1f, %.1f |" % (
        width, height, build, komakasa, kelvo_total, kelvo["program"], kelvo["x"], base_total, base["program"],
        base["x"], kelvo_total / base_total if base_total else float("nan"), kelvo["fps"], base["fps"])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7, help="first-frame rounds per program (default 7)")
    parser.add_argument("--seconds", type=float, default=4.0, help="CPU measuring time per run (default 4)")
    parser.add_argument("--repeats", type=int, default=2,
                        help="CPU runs per case and program, taken in turns (default 2)")
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--markdown", help="also write the tables to this file")
    options = parser.parse_args()
    if not options.no_build:
        build()
    began = time.time()
    lines, notes = [], []

    def out(text=""):
        print(text, flush=True)
        lines.append(text)

    for number, (width, height) in enumerate(SIZES):
        screen = Screen(width, height)
        try:
            if number == 0:
                window = copy_of(screen, "window", bench_program("x64", "kelvo-bench-window.exe"))
                saver = screen.saver("x64", "first-frame")
                out("First frame on the screen (median of %d starts, %d x %d):" % (options.rounds, width, height))
                out()
                out("| mode | kelvo.scr | minimal window program | ratio |")
                out("|---|---|---|---|")
                for mode, label in (("s", "full screen `/s`"), ("p", "preview `/p`")):
                    kelvo_ms, window_ms = first_frames(screen, mode, options.rounds, [saver, window])
                    out("| %s | %.0f ms | %.0f ms | %.2f |" % (label, kelvo_ms, window_ms, kelvo_ms / window_ms))
                out()
                out("CPU time (program + X server) per 100 frames, wait %d ms:" % WAIT)
                out()
                out("| screen | build | komakasa | kelvo.scr | floor program | ratio | frames/s (kelvo, floor) |")
                out("|---|---|---|---|---|---|---|")
            for komakasa in KOMAKASA:
                out(cpu_row(screen, "x64", width, height, komakasa, options))
            why_not = screen.why_no_x86()
            if why_not is None:
                out(cpu_row(screen, "x86", width, height, DEFAULT_KOMAKASA, options))
            else:
                notes.append("No x86 row at %d x %d: %s." % (width, height, why_not))
        finally:
            screen.close()
    out()
    for note in notes:
        out(note)
    out("Measured in %.0f s." % (time.time() - began))
    if options.markdown:
        with open(options.markdown, "w") as handle:
            handle.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
