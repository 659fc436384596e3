"""The settings window records a new shortcut that replaces the old one at once; a combination another client
holds is reported in the desktop's notation and the interface language."""

import unittest

from harness import E2ETestCase, Home, active_window, panel_windows, x11

SHORTCUT_KEY = "KeyboardShortcuts_togglePanel"
DEFAULT = '{"carbonKeyCode":9,"carbonModifiers":768}'
RECORDED = '{"carbonKeyCode":11,"carbonModifiers":768}'
CTRL_SHIFT_SPACE = '{"carbonKeyCode":49,"carbonModifiers":4608}'
# In a freshly opened window nothing has the focus yet; the launch-at-login and mouse-selection switches and the
# language menu come before the shortcut field in the focus chain. Tab rather than a click: the header's subtitle
# may wrap, which moves the field.
TABS_TO_RECORDER = 4


def settings_windows():
    return x11("xdotool", "search", "--onlyvisible", "--name", "^Nimbrel Settings$", check=False).stdout.split()


class Settings(E2ETestCase):
    def test_a_recorded_shortcut_replaces_the_old_one(self):
        nimbrel = self.start("--settings")
        nimbrel.wait_ready()
        window = nimbrel.wait_until(settings_windows, what="the settings window")[0]
        nimbrel.wait_until(lambda: active_window() == int(window), what="the settings window to be active")
        self.assertEqual(self.home.read_defaults()[SHORTCUT_KEY], DEFAULT)
        x11("xdotool", "key", *["Tab"] * TABS_TO_RECORDER, "super+shift+b")
        nimbrel.wait_until(lambda: self.home.read_defaults().get(SHORTCUT_KEY) == RECORDED,
                           what="the recorded shortcut in the defaults")
        x11("xdotool", "windowactivate", "--sync", window, "key", "ctrl+w")
        nimbrel.wait_until(lambda: not settings_windows(), what="the settings window to close")
        self.open_panel(nimbrel, "super+shift+b")
        x11("xdotool", "key", "super+shift+b")
        nimbrel.wait_until(lambda: panel_windows() == [], what="the new shortcut to close the panel")

    def test_a_combination_held_by_another_client_is_reported_in_the_desktops_notation_and_language(self):
        holder_home = Home()
        self.addCleanup(holder_home.remove)
        holder_home.write_defaults({SHORTCUT_KEY: CTRL_SHIFT_SPACE})
        holder = self.start(home=holder_home)
        holder.wait_ready()
        # The holder has the grab once the combination toggles its panel (held by the panel, the grab is let go).
        self.open_panel(holder, "ctrl+shift+space")
        x11("xdotool", "key", "ctrl+shift+space")
        holder.wait_until(lambda: panel_windows() == [], what="the holder's panel to close")
        self.home.write_defaults({SHORTCUT_KEY: CTRL_SHIFT_SPACE, "Nimbrel.language": "zh-Hans"})
        refused = self.start(XDG_CURRENT_DESKTOP="GNOME")
        refused.wait_for_line("Error registering hotkey Shift+Ctrl+空格: -9878")
        self.assertIsNone(refused.process.poll(), "Nimbrel keeps running")
        self.assertEqual(refused.terminate(), 0)


if __name__ == "__main__":
    unittest.main()
