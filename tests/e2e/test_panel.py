"""The panel comes up by the shortcut over the application in front without taking its focus; the record chosen
there is pasted into that application, and records are pinned, deleted and brought back from it."""

import unittest

from harness import E2ETestCase, active_window, history, panel_windows, run, x11


class Panel(E2ETestCase):
    def test_the_chosen_record_is_pasted_into_the_application_in_front_and_the_history_is_searchable(self):
        nimbrel = self.started("Crème brûlée for four", "beta two", "BRÛLÉE, second attempt")
        target = self.target()
        front = active_window()
        self.open_panel(nimbrel)
        self.assertEqual(active_window(), front, "the panel does not take the focus")
        # Tab hands the keyboard from the search field to the list, Down moves, Return chooses.
        x11("xdotool", "key", "Tab", "Down", "Return")
        nimbrel.wait_until(lambda: target.text() == "beta two", what="the paste into the application")
        nimbrel.wait_until(lambda: panel_windows() == [], what="the panel to close")
        self.assertEqual(active_window(), front)
        self.copy_and_wait(nimbrel, "copied after the paste")
        self.assertEqual(self.texts(), ["copied after the paste", "BRÛLÉE, second attempt", "beta two",
                                        "Crème brûlée for four"], "pasting creates no record")
        self.assertEqual(self.texts("--search", "brulee"), ["BRÛLÉE, second attempt", "Crème brûlée for four"])
        self.assertEqual(self.texts("--search", "brulée pie"), [])

    def test_pinning_deleting_and_undoing_from_the_panel(self):
        nimbrel = self.started("alpha one", "beta two")
        pinned = lambda: {r["text"]: r["pinned"] for r in history(self.home)}
        self.open_panel(nimbrel)
        # On the highlighted record (the newest): Ctrl+P pins, Ctrl+Backspace deletes, Ctrl+Z brings it back as
        # it was, pinned.
        x11("xdotool", "key", "ctrl+p")
        nimbrel.wait_until(lambda: pinned() == {"beta two": True, "alpha one": False}, what="the pin")
        x11("xdotool", "key", "ctrl+BackSpace")
        nimbrel.wait_until(lambda: pinned() == {"alpha one": False}, what="the deletion")
        x11("xdotool", "key", "ctrl+z")
        nimbrel.wait_until(lambda: pinned() == {"beta two": True, "alpha one": False}, what="the undo")
        x11("xdotool", "key", "Escape")
        nimbrel.wait_until(lambda: panel_windows() == [], what="the panel to close")

    def test_the_command_line_and_a_second_start_toggle_the_panel_and_start_nimbrel_when_none_runs(self):
        nimbrel = self.start("--toggle")
        nimbrel.wait_ready()
        nimbrel.wait_until(lambda: len(panel_windows()) == 1, what="the panel of the new instance")
        for command in (["--toggle"], [], ["--toggle"]):
            was_open = bool(panel_windows())
            self.assertEqual(run(self.home, *command)[:2], (0, ""))
            nimbrel.wait_until(lambda: bool(panel_windows()) != was_open, what=f"nimbrel {command} to toggle")
        self.assertEqual(nimbrel.lines, [])


if __name__ == "__main__":
    unittest.main()
