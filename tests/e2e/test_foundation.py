"""The program starts with a private store, ends by the rules, and applies the launch-at-login setting.
What it does with a file at the store path it cannot use is proven by the store and shell unit tests."""

import os
import signal
import stat
import subprocess
import time
import unittest

from harness import BINARY, E2ETestCase


class Foundation(E2ETestCase):
    def test_help_version_and_unknown_options_need_no_display_and_touch_nothing(self):
        cases = [
            (["--help"], 0, "usage: nimbrel", "stdout"),
            (["--version"], 0, "Nimbrel ", "stdout"),
            (["--bogus"], 2, "unknown option --bogus", "stderr"),
            (["--toggle", "--verbose"], 2, "usage: nimbrel", "stderr"),
        ]
        for args, status, text, stream in cases:
            with self.subTest(args=args):
                done = subprocess.run([BINARY, *args], env=self.home.env(DISPLAY="", QT_QPA_PLATFORM=""),
                                      capture_output=True, text=True, timeout=10, stdin=subprocess.DEVNULL)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn(text, getattr(done, stream))
                self.assertEqual(os.listdir(self.home.path), ["run"], "nothing was created")

    def test_private_store_and_every_termination_signal_ends_cleanly_at_once(self):
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig):
                nimbrel = self.start()
                nimbrel.wait_ready()
                for suffix in ("", "-wal", "-shm"):
                    if os.path.exists(self.home.store + suffix):
                        self.assertEqual(stat.S_IMODE(os.stat(self.home.store + suffix).st_mode), 0o600, suffix)
                self.assertTrue(os.path.exists(self.home.store))
                started = time.monotonic()
                self.assertEqual(nimbrel.terminate(sig), 0)
                self.assertLess(time.monotonic() - started, 1.0)
                self.assertEqual(nimbrel.lines, [])

    def test_launch_at_login_writes_and_removes_the_autostart_entry(self):
        for enabled in (True, False):
            with self.subTest(enabled=enabled):
                self.home.write_defaults({"Nimbrel.launchAtLogin": enabled})
                nimbrel = self.start()
                nimbrel.wait_ready()
                self.assertEqual(nimbrel.terminate(), 0)
                self.assertEqual(os.path.exists(self.home.autostart_file), enabled)
                self.assertIs(self.home.read_defaults()["Nimbrel.launchAtLogin"], enabled)
                if enabled:
                    with open(self.home.autostart_file, encoding="utf-8") as f:
                        self.assertIn(os.path.realpath(BINARY), f.read())


if __name__ == "__main__":
    unittest.main()
