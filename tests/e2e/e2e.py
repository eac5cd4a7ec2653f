"""The bench of the older runners, on the bench of the pytest suite (bench.py): a bare Xvfb display
(no window manager, as their timings expect), a fresh Wine prefix, a folder per scenario.
It goes when the last runner has moved to pytest."""

import atexit
import os
import shutil
import signal
import tempfile
import time

from bench import (CONVERT, LOCALES, REFUSED, ROOT, Display, Failure, Harness, Picture, Prefix,  # noqa: F401
                   check, saver_copy, colour_census, fields, hue_bins, quote, windows_path)

# The hardening runner changes these before start().
SCREEN_WIDTH, SCREEN_HEIGHT = 1024, 768


def run_test(bench, name, function, log_path):
    """Runs one test on the bench, prints its PASS or FAIL line, and on failure writes the
    reason with the harnesses' transcripts to log_path. Returns "PASS" or "FAIL"."""
    started = time.time()
    try:
        function(bench)
        outcome, detail = "PASS", ""
    except Failure as failure:
        outcome, detail = "FAIL", str(failure)
    except Exception as error:  # a broken bench is a failure of the test too
        outcome, detail = "FAIL", "%s: %s" % (type(error).__name__, error)
    transcript = []
    for harness in bench.harnesses:
        transcript.extend(harness.transcript)
        harness.close()
    bench.harnesses = []
    if outcome == "FAIL":
        with open(log_path, "w") as log:
            log.write(detail + "\n\n" + "\n".join(transcript) + "\n")
    print("%s %s (%.1f s)%s" % (outcome, name, time.time() - started, (": " + detail) if detail else ""),
          flush=True)
    return outcome


class Bench:
    def __init__(self, artifacts, build):
        self.artifacts = artifacts
        self.build = build
        os.makedirs(artifacts, exist_ok=True)
        self.temp = tempfile.mkdtemp(prefix="kelvo-e2e-")
        self.display = self.prefix = None
        self.harnesses = []
        self.scenarios = 0
        atexit.register(self.close)
        for sig in (signal.SIGINT, signal.SIGTERM):
            signal.signal(sig, lambda *_: (self.close(), os._exit(130)))

    def start(self):
        self.display = Display(self.temp, SCREEN_WIDTH, SCREEN_HEIGHT, window_manager=False)
        self.prefix = Prefix(os.path.join(self.temp, "prefix"), self.display)
        print("bench: display %s, prefix ready in %.0f s" % (self.display.name, self.prefix.made_in), flush=True)

    @property
    def lang(self):
        return self.prefix.lang if self.prefix else None

    def env(self):
        return self.prefix.env()

    def wine_command(self, argv, timeout=60, check_status=True):
        return self.prefix.run(argv, timeout=timeout, check_status=check_status)

    def set_locale(self, lang):
        """Restarts Wine's server so that the next processes run in another locale (a LANG or None)."""
        for harness in self.harnesses:
            harness.close()
        self.harnesses = []
        self.prefix.set_locale({value: key for key, value in LOCALES.items()}[lang])

    def close(self):
        for harness in self.harnesses:
            harness.close()
        self.harnesses = []
        if self.prefix is not None:
            try:
                self.prefix.stop()
            except Exception:
                pass
            self.prefix = None
        if self.display is not None:
            self.display.close()
            self.display = None
        if self.temp and os.path.isdir(self.temp):
            shutil.rmtree(self.temp, ignore_errors=True)
            self.temp = None

    def scenario(self, name, ini=None):
        """A folder of its own with a copy of kelvo.scr, and the settings file text if given.
        Returns the Windows path of the copy."""
        self.scenarios += 1
        return saver_copy(os.path.join(self.temp, "scenario-%02d-%s" % (self.scenarios, name)), self.build, ini=ini)

    def harness(self):
        harness = Harness(os.path.join(self.build, "kelvo-harness.exe"), self.env())
        self.harnesses.append(harness)
        return harness

    def xdotool(self, *args):
        self.display.xdotool(*args)

    def pointer(self):
        return self.display.pointer()

    def screenshot(self, name):
        return self.display.screenshot(os.path.join(self.artifacts, name + ".png"))
