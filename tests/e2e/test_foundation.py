"""The program starts, keeps its store and settings, stays single, and ends only by the rules."""

import json
import os
import signal
import stat
import subprocess
import time
import unittest

from harness import BINARY, E2ETestCase, click, nimbrel_windows, run_once, x11


class CommandLine(E2ETestCase):
    def test_help_version_and_unknown_options_need_no_display_and_touch_nothing(self):
        cases = [
            (["--help"], 0, "usage: nimbrel", "stdout"),
            (["-h"], 0, "--settings", "stdout"),
            (["--version"], 0, "Nimbrel ", "stdout"),
            (["--toggle", "--help"], 0, "usage: nimbrel", "stdout"),
            (["--bogus"], 2, "unknown option --bogus", "stderr"),
            (["--toggle", "--verbose"], 2, "usage: nimbrel", "stderr"),
        ]
        before = sorted(os.listdir(self.home.path))
        for args, status, text, stream in cases:
            with self.subTest(args=args):
                done = subprocess.run([BINARY, *args], env=self.home.env(DISPLAY="", QT_QPA_PLATFORM=""),
                                      capture_output=True, text=True, timeout=10, stdin=subprocess.DEVNULL)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn(text, getattr(done, stream))
                self.assertEqual(sorted(os.listdir(self.home.path)), before, "nothing was created")


class StartAndStop(E2ETestCase):
    def test_first_start_creates_private_store_and_defaults(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.assertTrue(os.path.exists(self.home.store))
        for suffix in ("", "-wal", "-shm"):
            path = self.home.store + suffix
            if os.path.exists(path):
                self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600, path)
        defaults = self.home.read_defaults()
        self.assertIs(defaults["Nimbrel.launchAtLogin"], False)
        self.assertNotIn("AppleLanguages", defaults)
        self.assertEqual(nimbrel.lines, [])

    def test_sigterm_ends_cleanly_within_a_second(self):
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig):
                nimbrel = self.start()
                nimbrel.wait_ready()
                started = time.monotonic()
                self.assertEqual(nimbrel.terminate(sig), 0)
                self.assertLess(time.monotonic() - started, 1.0)

    def test_unwritable_data_folder_falls_back_to_memory(self):
        # A file where the data folder should be cannot be replaced by a folder, not even by root.
        os.makedirs(os.path.join(self.home.path, ".local"))
        with open(os.path.join(self.home.path, ".local", "share"), "w") as f:
            f.write("not a folder")
        nimbrel = self.start()
        nimbrel.wait_ready()
        memory_lines = [l for l in nimbrel.lines if "ModelContainer init failed, using in-memory store: " in l]
        self.assertEqual(len(memory_lines), 1, nimbrel.lines)
        self.assertTrue(memory_lines[0].startswith("[Nimbrel] StoreOpening init failed, using in-memory store: "))
        self.assertFalse(any("Clipboard watcher disabled" in l for l in nimbrel.lines))
        self.assertIsNone(nimbrel.process.poll())
        self.assertEqual(nimbrel.terminate(), 0)

    def test_unreadable_store_is_left_untouched(self):
        os.makedirs(self.home.data_dir)
        garbage = b"this is not a history store\n" * 100
        with open(self.home.store, "wb") as f:
            f.write(garbage)
        nimbrel = self.start()
        nimbrel.wait_ready()
        nimbrel.wait_for_line("[Nimbrel] StoreOpening init failed, using in-memory store: ")
        self.assertEqual(nimbrel.terminate(), 0)
        with open(self.home.store, "rb") as f:
            self.assertEqual(f.read(), garbage)

    def test_apply_update_mode_starts_nothing(self):
        # Without --target and --staged the mode records the failure and ends; no store, no settings, no UI.
        status, out = run_once(self.home, "--apply-update", "--pid", "1")
        self.assertEqual((status, out), (1, ""))
        record = os.path.join(self.home.data_dir, "Update", "apply.json")
        with open(record, encoding="utf-8") as f:
            self.assertEqual(json.load(f)["result"], "missingOptions")
        self.assertFalse(os.path.exists(self.home.store))
        self.assertFalse(os.path.exists(self.home.defaults_file))
        self.assertEqual(nimbrel_windows(), [])

    def test_second_start_opens_no_second_store(self):
        first = self.start()
        first.wait_ready()
        status, out = run_once(self.home)
        self.assertEqual((status, out), (0, ""))
        self.assertIsNone(first.process.poll())
        self.assertEqual(first.terminate(), 0)


class Tray(E2ETestCase):
    def tray_icon(self, nimbrel):
        found = []
        nimbrel.wait_until(lambda: found.extend(w for w in nimbrel_windows() if w[1] <= 64 and w[2] <= 64) or found,
                           what="the tray icon")
        return found[0]

    def test_tray_icon_shows_and_its_quit_entry_ends_nimbrel(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        _, width, height, x, y = self.tray_icon(nimbrel)
        before = {w[0] for w in nimbrel_windows()}
        click(x + width // 2, y + height // 2)
        menus = []
        nimbrel.wait_until(lambda: menus.extend(w for w in nimbrel_windows() if w[0] not in before) or menus,
                           what="the tray menu")
        _, mw, mh, mx, my = menus[0]
        # The quit entry is the menu's last.
        click(mx + mw // 2, my + mh - 12)
        self.assertEqual(nimbrel.process.wait(5), 0)


class Settings(E2ETestCase):
    def test_settings_survive_a_restart_with_their_types(self):
        self.home.write_defaults({
            "Nimbrel.maxStorageMB": "300",
            "Nimbrel.panelMode": "sideways",
            "Nimbrel.language": "ja",
            "Nimbrel.launchAtLogin": True,
        })
        for _ in range(2):
            nimbrel = self.start()
            nimbrel.wait_ready()
            self.assertEqual(nimbrel.terminate(), 0)
            defaults = self.home.read_defaults()
            # Loading never rewrites a stored value; the string stays a string.
            self.assertEqual(defaults["Nimbrel.maxStorageMB"], "300")
            self.assertEqual(defaults["Nimbrel.panelMode"], "sideways")
            self.assertEqual(defaults["AppleLanguages"], ["ja"])
            self.assertIs(defaults["Nimbrel.launchAtLogin"], True)
            self.assertTrue(os.path.exists(self.home.autostart_file))

    def test_switching_login_off_removes_the_autostart_entry(self):
        self.home.write_defaults({"Nimbrel.launchAtLogin": False})
        os.makedirs(os.path.dirname(self.home.autostart_file))
        with open(self.home.autostart_file, "w") as f:
            f.write("[Desktop Entry]\nType=Application\nExec=nimbrel\n")
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.assertEqual(nimbrel.terminate(), 0)
        self.assertFalse(os.path.exists(self.home.autostart_file))
        self.assertIs(self.home.read_defaults()["Nimbrel.launchAtLogin"], False)

    def test_unparsable_defaults_are_kept_aside(self):
        os.makedirs(os.path.dirname(self.home.defaults_file))
        with open(self.home.defaults_file, "w") as f:
            f.write("{ this is not json")
        nimbrel = self.start()
        nimbrel.wait_until(lambda: os.path.exists(self.home.defaults_file + ".bad"), what="defaults.json.bad")
        nimbrel.wait_ready()
        with open(self.home.defaults_file + ".bad") as f:
            self.assertEqual(f.read(), "{ this is not json")
        self.assertEqual(len([l for l in nimbrel.lines if "defaults.json.bad" in l]), 1, nimbrel.lines)
        self.assertIs(self.home.read_defaults()["Nimbrel.launchAtLogin"], False)
        self.assertEqual(nimbrel.terminate(), 0)


if __name__ == "__main__":
    unittest.main()
