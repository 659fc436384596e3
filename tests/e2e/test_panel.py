"""The panel comes up over the application in front without taking its focus; the user finds a record
by typing and arrowing, chooses it, and it is pasted into that application."""

import time
import unittest

from harness import (Clipboard, E2ETestCase, TargetApp, active_window, click, history, nimbrel_windows, run_once,
                     x11)


def panel_windows():
    return [w for w in nimbrel_windows() if w[1] >= 300 and w[2] >= 200]


class Panel(E2ETestCase):
    def setUp(self):
        super().setUp()
        self.clipboard = Clipboard(self.home.path)
        self.addCleanup(self.clipboard.close)

    def start_with_history(self, *texts):
        nimbrel = self.start()
        nimbrel.wait_ready()
        for i, text in enumerate(texts, start=1):
            self.clipboard.xclip("text/plain", text)
            nimbrel.wait_until(lambda: len(history(self.home)) == i, what=f"record {i}")
        return nimbrel

    def open_panel(self, nimbrel):
        x11("xdotool", "key", "super+shift+v")
        nimbrel.wait_until(lambda: len(panel_windows()) == 1, what="the panel")
        time.sleep(0.4)

    def test_typing_choosing_and_pasting_into_the_application_in_front(self):
        nimbrel = self.start_with_history("alpha one", "beta two", "gamma three")
        target = TargetApp(self.home.path)
        self.addCleanup(target.close)
        front = active_window()
        self.open_panel(nimbrel)
        self.assertEqual(active_window(), front, "the panel does not take the focus")
        # The search field has the typing; Tab hands the keyboard to the list, Down moves, Return chooses.
        x11("xdotool", "type", "--delay", "40", "a")
        time.sleep(0.3)
        x11("xdotool", "key", "Tab", "Down")
        time.sleep(0.2)
        x11("xdotool", "key", "Return")
        nimbrel.wait_until(lambda: panel_windows() == [], what="the panel to close")
        nimbrel.wait_until(lambda: target.text() == "beta two", what="the paste into the application")
        self.assertEqual(active_window(), front)
        time.sleep(1.2)
        self.assertEqual(len(history(self.home)), 3, "pasting creates no record")

    def test_escape_and_outside_clicks_close_the_panel(self):
        nimbrel = self.start_with_history("one")
        target = TargetApp(self.home.path)
        self.addCleanup(target.close)
        self.open_panel(nimbrel)
        x11("xdotool", "key", "Escape")
        nimbrel.wait_until(lambda: panel_windows() == [], what="Escape to close the panel")
        time.sleep(0.3)
        self.assertEqual(target.text(), "", "Escape reaches no application")

        self.open_panel(nimbrel)
        geometry = x11("xdotool", "getwindowgeometry", target.window).stdout
        x, y = [int(v) for v in geometry.split("Position: ")[1].split(" ")[0].split(",")]
        click(x + 100, y + 60)
        nimbrel.wait_until(lambda: panel_windows() == [], what="the outside click to close the panel")
        self.assertEqual(active_window(), int(target.window), "the click still reached the window beneath")

    def test_the_command_line_and_a_second_start_toggle_the_running_panel(self):
        nimbrel = self.start_with_history("one")
        for command in (["--toggle"], [], ["--toggle"]):
            was_open = bool(panel_windows())
            status, out = run_once(self.home, *command)
            self.assertEqual((status, out), (0, ""))
            nimbrel.wait_until(lambda: bool(panel_windows()) != was_open, what=f"nimbrel {command} to toggle")

    def test_toggle_starts_nimbrel_when_it_is_not_running(self):
        nimbrel = self.start("--toggle")
        nimbrel.wait_ready()
        nimbrel.wait_until(lambda: len(panel_windows()) == 1, what="the panel of the new instance")
        self.assertEqual(nimbrel.lines, [])


if __name__ == "__main__":
    unittest.main()
