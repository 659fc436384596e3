"""Managing the history from outside: the command line that acts on the running Nimbrel or, when none runs, on
the store itself; clearing, pausing and excluded applications."""

import os
import time
import unittest

from harness import BINARY, E2ETestCase, executable_of, history, run, stop_processes, x11


def clipboard_text():
    return x11("xclip", "-selection", "clipboard", "-o", check=False).stdout


def nimbrels_of(home):
    """The nimbrel processes running with this home (also those the command line started in the background)."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        if executable_of(int(entry)) != os.path.realpath(BINARY):
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                if f"HOME={home.path}".encode() in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            pass
    return found


class HistoryManagement(E2ETestCase):
    def setUp(self):
        super().setUp()
        self.addCleanup(lambda: stop_processes(nimbrels_of(self.home)))

    def store_bytes(self):
        data = b""
        for suffix in ("", "-wal"):
            if os.path.exists(self.home.store + suffix):
                with open(self.home.store + suffix, "rb") as f:
                    data += f.read()
        return data

    def test_the_verbs_act_through_the_running_nimbrel_or_else_on_the_store(self):
        nimbrel = self.started()
        alpha = self.copy_and_wait(nimbrel, "alpha")
        beta = self.copy_and_wait(nimbrel, "beta")
        pinned = lambda: {r["id"]: r["pinned"] for r in history(self.home)}.get(alpha)
        cases = [
            (("--pin", alpha), 0, lambda: pinned() is True),
            (("--unpin", alpha), 0, lambda: pinned() is False),
            (("--delete", beta), 0, lambda: self.texts() == ["alpha"]),
            (("--delete", beta), 1, lambda: self.texts() == ["alpha"]),
            (("--pin", "not-an-id"), 2, lambda: True),
        ]
        for args, status, holds in cases:
            with self.subTest(args=args):
                got, out, err = run(self.home, *args)
                self.assertEqual(got, status, (out, err))
                self.assertTrue(holds())
                if status:
                    self.assertTrue(err.startswith("nimbrel: "), err)
        # Put back on the clipboard as a choice from the panel would, without being recorded again.
        self.copy_and_wait(nimbrel, "something else")
        self.assertEqual(run(self.home, "--copy", alpha)[0], 0)
        nimbrel.wait_until(lambda: clipboard_text() == "alpha", what="alpha on the clipboard")
        latest = self.copy_and_wait(nimbrel, "copied afterwards")
        self.assertEqual(self.texts(), ["copied afterwards", "something else", "alpha"])

        self.assertEqual(nimbrel.terminate(), 0)
        self.assertEqual(run(self.home, "--pin", alpha)[0], 0)
        self.assertEqual(run(self.home, "--delete", latest)[0], 0)
        self.assertEqual(run(self.home, "--delete", latest)[0], 1)
        status, out, _ = run(self.home, "--clear")
        self.assertEqual((status, out.split(" (")[0]), (0, "Deleted 1 record"))
        self.assertEqual([(r["text"], r["pinned"]) for r in history(self.home)], [("alpha", True)])
        self.assertEqual(nimbrels_of(self.home), [], "no Nimbrel was started for these")
        # Something must hold the clipboard: --copy starts Nimbrel in the background and hands it the record.
        started = time.monotonic()
        self.assertEqual(run(self.home, "--copy", alpha)[:2], (0, f"The record {alpha} is on the clipboard\n"))
        self.assertLess(time.monotonic() - started, 20)
        self.assertEqual(len(nimbrels_of(self.home)), 1)
        nimbrel.wait_until(lambda: clipboard_text() == "alpha", what="alpha on the clipboard")

    def test_clear_keeps_pinned_records_and_leaves_no_trace_in_the_file(self):
        nimbrel = self.started()
        kept = self.copy_and_wait(nimbrel, "kept because it is pinned")
        self.copy_and_wait(nimbrel, "MARKER-9f3a-forgotten after the clear")
        self.copy_and_wait(nimbrel, "another record to clear")
        self.assertEqual(run(self.home, "--pin", kept)[:2], (0, f"Pinned {kept}\n"))
        self.assertIn(b"MARKER-9f3a", self.store_bytes())

        status, out, _ = run(self.home, "--clear")
        self.assertEqual((status, out.split(" (")[0]), (0, "Deleted 2 records"))
        self.assertEqual([(r["text"], r["pinned"]) for r in history(self.home)], [("kept because it is pinned", True)])
        nimbrel.wait_until(lambda: b"MARKER-9f3a" not in self.store_bytes(), what="the cleared text to leave the file")
        status, out, _ = run(self.home, "--clear", "--include-pinned")
        self.assertEqual((status, out.split(" (")[0]), (0, "Deleted 1 record"))
        self.assertEqual(history(self.home), [])
        nimbrel.wait_until(lambda: b"kept because it is pinned" not in self.store_bytes(),
                           what="the pinned text to leave the file")

    def test_a_pause_from_the_tray_outlives_a_restart_until_resumed(self):
        nimbrel = self.started()
        self.tray_entry(nimbrel, 3)  # the entry after the panel's and the settings'
        nimbrel.wait_for_line("[Nimbrel] Recording paused")
        self.clipboard.xclip("text/plain", "copied while paused")
        self.assertEqual(nimbrel.terminate(), 0)

        nimbrel = self.started()
        nimbrel.wait_for_line("Recording is paused")
        self.clipboard.xclip("text/plain", "copied while paused after a restart")
        self.assertEqual(run(self.home, "--resume")[0], 0)
        # Copies are dealt with in the order made: once this one is recorded, the paused ones would have been.
        self.copy_and_wait(nimbrel, "recorded again")
        self.assertEqual(self.texts(), ["recorded again"])

    def test_copies_made_while_an_excluded_application_is_in_front_are_never_read(self):
        self.home.write_defaults({"Nimbrel.excludedApplications": ["Nimbrel-Target"]})
        nimbrel = self.started(capture_log=True)
        target = self.target()
        self.clipboard.xclip("text/plain", "copied in the excluded application")
        # The application stays in front until Nimbrel has dealt with the change.
        nimbrel.wait_for_line("clipboard change held back unread")
        target.close()
        self.copy_and_wait(nimbrel, "copied with nothing excluded in front")
        self.assertEqual(self.texts(), ["copied with nothing excluded in front"])
        self.assertFalse([line for line in nimbrel.lines if "copied" in line],
                         "the log says what became of each copy, never what it held")


if __name__ == "__main__":
    unittest.main()
