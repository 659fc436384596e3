"""Managing the history from outside: clearing, pinning, pausing, excluded applications, and the command line
that acts on the running Nimbrel or, when none runs, on the store itself."""

import os
import sqlite3
import subprocess
import time
import unittest
import uuid

from harness import (BINARY, DISPLAY, Clipboard, E2ETestCase, TargetApp, click, executable_of, history,
                     nimbrel_windows, run_once, stop_processes, tray_icon, x11)


def run(home, *args, timeout=30):
    """Runs nimbrel to completion: (status, stdout, stderr)."""
    done = subprocess.run([BINARY, *args], env=home.env(), capture_output=True, text=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout, done.stderr


def clipboard_text():
    return x11("xclip", "-selection", "clipboard", "-o", check=False).stdout


def nimbrels_of(home):
    """The nimbrel processes running with this home (also those the command line started in the background)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or executable_of(int(entry)) != os.path.realpath(BINARY):
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                if f"HOME={home.path}".encode() in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            pass
    return found


class HistoryCase(E2ETestCase):
    def setUp(self):
        super().setUp()
        self.clipboard = Clipboard(self.home.path)
        self.addCleanup(self.clipboard.close)
        self.addCleanup(lambda: stop_processes(nimbrels_of(self.home)))

    def copy_and_wait(self, nimbrel, text):
        before = len(history(self.home))
        self.clipboard.xclip("text/plain", text)
        nimbrel.wait_until(lambda: len(history(self.home)) > before, what=f"the record of {text!r}")
        return next(r["id"] for r in history(self.home) if r.get("text") == text)

    def texts(self):
        return [r.get("text") for r in history(self.home)]

    def tray_entry(self, nimbrel, downs):
        """Opens the tray menu and chooses its entry `downs` down from the top."""
        nimbrel.wait_until(lambda: tray_icon() is not None, what="the tray icon")
        icon = next(w for w in nimbrel_windows() if w[0] == tray_icon())
        before = {w[0] for w in nimbrel_windows()}
        _, width, height, x, y = icon
        click(x + width // 2, y + height // 2)
        nimbrel.wait_until(lambda: any(w[0] not in before for w in nimbrel_windows()), what="the tray menu")
        x11("xdotool", "key", *["Down"] * downs, "Return")

    def store_bytes(self):
        data = b""
        for suffix in ("", "-wal"):
            try:
                with open(self.home.store + suffix, "rb") as f:
                    data += f.read()
            except FileNotFoundError:
                pass
        return data


class Clearing(HistoryCase):
    def test_clear_keeps_pinned_records_and_leaves_no_trace_in_the_file(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        kept = self.copy_and_wait(nimbrel, "kept because it is pinned")
        self.copy_and_wait(nimbrel, "MARKER-9f3a-forgotten after the clear")
        self.copy_and_wait(nimbrel, "another record to clear")
        self.assertEqual(run(self.home, "--pin", kept)[:2], (0, f"Pinned {kept}\n"))
        self.assertIn(b"MARKER-9f3a", self.store_bytes())

        status, out, _ = run(self.home, "--clear")
        self.assertEqual(status, 0)
        self.assertTrue(out.startswith("Deleted 2 records"), out)
        records = history(self.home)
        self.assertEqual([(r["text"], r["pinned"]) for r in records], [("kept because it is pinned", True)])
        nimbrel.wait_until(lambda: b"MARKER-9f3a" not in self.store_bytes(), what="the cleared text to leave the file")

        status, out, _ = run(self.home, "--clear", "--include-pinned")
        self.assertEqual((status, out.split(" (")[0]), (0, "Deleted 1 record"))
        self.assertEqual(history(self.home), [])
        nimbrel.wait_until(lambda: b"kept because it is pinned" not in self.store_bytes(),
                           what="the pinned text to leave the file")


    def test_the_tray_entry_clears_only_once_confirmed(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.copy_and_wait(nimbrel, "MARKER-5c1e cleared from the tray")
        self.copy_and_wait(nimbrel, "another one")

        def confirmation():
            # The entry after pausing; the question is a window of its own, its Cancel button the default.
            self.tray_entry(nimbrel, 4)
            nimbrel.wait_until(lambda: dialog_shown(), what="the confirmation")

        def dialog_shown():
            return x11("xdotool", "search", "--onlyvisible", "--name", "^Clear History$", check=False).stdout.strip()

        confirmation()
        x11("xdotool", "key", "Escape")
        nimbrel.wait_until(lambda: not dialog_shown(), what="the confirmation to close")
        self.assertEqual(len(history(self.home)), 2)
        confirmation()
        x11("xdotool", "key", "Tab", "Return")  # to the Clear button
        nimbrel.wait_until(lambda: history(self.home) == [], what="the history to be cleared")
        nimbrel.wait_for_line("[Nimbrel] History cleared: 2 records deleted")
        nimbrel.wait_until(lambda: b"MARKER-5c1e" not in self.store_bytes(), what="the cleared text to leave the file")


class CommandLine(HistoryCase):
    def test_the_verbs_act_through_the_running_nimbrel(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        alpha = self.copy_and_wait(nimbrel, "alpha")
        beta = self.copy_and_wait(nimbrel, "beta")
        unknown = str(uuid.uuid4())
        cases = [
            (("--pin", alpha), 0, lambda: {r["id"]: r["pinned"] for r in history(self.home)}[alpha]),
            (("--unpin", alpha), 0, lambda: not {r["id"]: r["pinned"] for r in history(self.home)}[alpha]),
            (("--delete", beta), 0, lambda: self.texts() == ["alpha"]),
            (("--delete", beta), 1, lambda: self.texts() == ["alpha"]),
            (("--pin", unknown), 1, lambda: True),
            (("--pin", "not-an-id"), 2, lambda: True),
            (("--pin",), 2, lambda: True),
            (("--clear", "--pause"), 2, lambda: True),
            (("--delete", alpha, "--include-pinned"), 2, lambda: self.texts() == ["alpha"]),
            (("--pause", "0"), 2, lambda: True),
        ]
        for args, status, holds in cases:
            with self.subTest(args=args):
                got, out, err = run(self.home, *args)
                self.assertEqual(got, status, (out, err))
                self.assertTrue(holds())
                if status:
                    self.assertTrue(err.startswith("nimbrel: "), err)

        # A record put back on the clipboard as a choice from the panel would, without being recorded again.
        self.clipboard.xclip("text/plain", "something else")
        nimbrel.wait_until(lambda: len(history(self.home)) == 2, what="the other copy")
        self.assertEqual(run(self.home, "--copy", alpha)[0], 0)
        nimbrel.wait_until(lambda: clipboard_text() == "alpha", what="alpha on the clipboard")
        self.copy_and_wait(nimbrel, "copied afterwards")
        self.assertEqual(self.texts(), ["copied afterwards", "something else", "alpha"])

    def test_without_a_running_nimbrel_the_store_is_changed_directly(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        alpha = self.copy_and_wait(nimbrel, "alpha")
        beta = self.copy_and_wait(nimbrel, "beta")
        self.assertEqual(nimbrel.terminate(), 0)

        self.assertEqual(run(self.home, "--pin", alpha)[0], 0)
        self.assertEqual(run(self.home, "--delete", beta)[0], 0)
        self.assertEqual(run(self.home, "--delete", beta)[0], 1)
        status, out, _ = run(self.home, "--clear")
        self.assertEqual((status, out.split(" (")[0]), (0, "Deleted 0 records"))
        self.assertEqual([(r["text"], r["pinned"]) for r in history(self.home)], [("alpha", True)])
        self.assertEqual(nimbrels_of(self.home), [], "no Nimbrel was started for these")

        # Something must hold the clipboard: --copy starts Nimbrel in the background and hands it the record.
        started = time.monotonic()
        self.assertEqual(run(self.home, "--copy", alpha)[:2], (0, f"The record {alpha} is on the clipboard\n"))
        self.assertLess(time.monotonic() - started, 20)
        self.assertEqual(len(nimbrels_of(self.home)), 1)
        nimbrel.wait_until(lambda: clipboard_text() == "alpha", what="alpha on the clipboard")


class Pinning(HistoryCase):
    def test_a_pinned_record_survives_the_budget_prune(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        pinned = self.copy_and_wait(nimbrel, "the oldest record, pinned")
        older = self.copy_and_wait(nimbrel, "older, pruned first")
        newer = self.copy_and_wait(nimbrel, "newer, kept")
        self.assertEqual(run(self.home, "--pin", pinned)[0], 0)
        self.assertEqual(nimbrel.terminate(), 0)
        # The budget counts byteSize: the records are made to weigh 60, 30 and 14 MB of a 100 MiB budget.
        db = sqlite3.connect(self.home.store)
        for record, size in ((pinned, 60_000_000), (older, 30_000_000), (newer, 14_000_000)):
            db.execute("UPDATE clip SET byteSize = ? WHERE id = ?", (size, uuid.UUID(record).bytes))
        db.commit()
        db.close()
        self.home.write_defaults(dict(self.home.read_defaults(), **{"Nimbrel.maxStorageMB": 100}))

        nimbrel = self.start()
        nimbrel.wait_ready()
        self.clipboard.xclip("text/plain", "x" * 1_000_000)
        nimbrel.wait_until(lambda: "older, pruned first" not in self.texts(), what="the prune")
        self.assertEqual(self.texts(), ["x" * 1_000_000, "newer, kept", "the oldest record, pinned"])


class Pausing(HistoryCase):
    def test_a_pause_ignores_copies_until_resumed_and_only_an_endless_one_outlives_a_restart(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.assertEqual(run(self.home, "--pause")[:2], (0, "Recording paused until `nimbrel --resume`\n"))
        nimbrel.wait_for_line("[Nimbrel] Recording paused")
        self.clipboard.xclip("text/plain", "copied while paused")
        self.assertEqual(nimbrel.terminate(), 0)

        nimbrel = self.start()
        nimbrel.wait_ready()
        nimbrel.wait_for_line("Recording is paused")
        self.clipboard.xclip("text/plain", "copied while paused after a restart")
        self.assertEqual(run(self.home, "--resume")[0], 0)
        # Copies are recorded in the order made: once this one is, the paused ones would have been.
        self.copy_and_wait(nimbrel, "recorded again")
        self.assertEqual(self.texts(), ["recorded again"])

        self.assertEqual(run(self.home, "--pause", "5")[:2], (0, "Recording paused for 5 minutes\n"))
        self.clipboard.xclip("text/plain", "copied during a pause of minutes")
        self.assertEqual(run(self.home, "--resume")[0], 0)
        self.copy_and_wait(nimbrel, "recorded after the pause of minutes")
        self.assertEqual(self.texts(), ["recorded after the pause of minutes", "recorded again"])
        self.assertEqual(run(self.home, "--pause", "5")[0], 0)
        self.assertEqual(nimbrel.terminate(), 0)
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.copy_and_wait(nimbrel, "a pause of minutes ended with the process")

    def test_the_tray_entry_pauses_and_resumes(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        # The menu: the panel, the settings, then pausing.
        self.tray_entry(nimbrel, 3)
        nimbrel.wait_for_line("[Nimbrel] Recording paused")
        self.clipboard.xclip("text/plain", "copied while paused from the tray")
        self.tray_entry(nimbrel, 3)
        nimbrel.wait_for_line("[Nimbrel] Recording resumed")
        self.copy_and_wait(nimbrel, "recorded after resuming from the tray")
        self.assertEqual(self.texts(), ["recorded after resuming from the tray"])


class Excluding(HistoryCase):
    def test_copies_made_while_an_excluded_application_is_in_front_are_never_read(self):
        self.home.write_defaults({"Nimbrel.excludedApplications": ["Nimbrel-Target"]})
        nimbrel = self.start()
        nimbrel.wait_ready()
        target = TargetApp(self.home.path)
        self.addCleanup(target.close)
        self.clipboard.xclip("text/plain", "copied in the excluded application")
        target.close()
        self.copy_and_wait(nimbrel, "copied with nothing excluded in front")
        self.assertEqual(self.texts(), ["copied with nothing excluded in front"])


if __name__ == "__main__":
    unittest.main()
