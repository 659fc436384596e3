"""Nimbrel in a Wayland session: the real program on a headless sway of its own (tests/support/private-sway),
driven as the user's other Wayland applications would drive it."""

import json
import os
import subprocess
import tempfile
import threading
import unittest

from harness import TARGET_TOOL, Home, Nimbrel, history, png, read_text, wait_for

WAYLAND_TOOL = os.environ.get("NIMBREL_WAYLAND_TOOL", "nimbrel-wayland")
UNAVAILABLE = os.environ.get("NIMBREL_SWAY_UNAVAILABLE")


def session_env():
    return dict(WAYLAND_DISPLAY=os.environ.get("WAYLAND_DISPLAY", ""), SWAYSOCK=os.environ.get("SWAYSOCK", ""),
                XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="sway", DISPLAY="", QT_QPA_PLATFORM="",
                NIMBREL_NO_LAUNCH_REPORT="1", NIMBREL_NO_UPDATE_CHECK="1")


def focused_app(node=None):
    """The app id of the window sway has focused, from its tree."""
    node = node or json.loads(subprocess.run(["swaymsg", "-t", "get_tree", "--raw"], capture_output=True, text=True,
                                             timeout=10, check=True).stdout)
    if node.get("focused") and node.get("app_id"):
        return node["app_id"]
    return next(filter(None, (focused_app(n) for n in node.get("nodes", []) + node.get("floating_nodes", []))), None)


def screenshot():
    """The whole output's pixels, taken by grim through the compositor."""
    return subprocess.run(["grim", "-t", "ppm", "-"], capture_output=True, timeout=10, check=True).stdout


def shown_and_settled(before):
    """A condition: the screen differs from `before` and two screenshots in a row agree (the panel is drawn)."""
    last = [None]

    def check():
        now = screenshot()
        settled, last[0] = now != before and now == last[0], now
        return settled

    return check


@unittest.skipIf(UNAVAILABLE, f"no headless sway here: {UNAVAILABLE}")
class WaylandSession(unittest.TestCase):
    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.remove)
        self.work = tempfile.mkdtemp(prefix="nimbrel-wayland-", dir=self.home.path)
        # A headless sway has no tray; the settings window that explains that once would take the focus.
        self.home.write_defaults({"Nimbrel.noTrayExplained": True})
        self.nimbrel = Nimbrel(self.home, **session_env())
        self.addCleanup(self.nimbrel.stop)
        self.nimbrel.wait_ready()

    def spawn(self, *command, **env):
        process = subprocess.Popen(list(command), env=dict(os.environ, **env), stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(lambda: (process.kill(), process.wait(5), process.stdin.close(), process.stdout.close()))
        self.assertEqual(process.stdout.readline().strip(), "ready")
        return process

    def copy(self, *representations):
        """Copies these (type, bytes) together, replacing the clipboard, as a copying application does."""
        arguments = []
        for index, (kind, data) in enumerate(representations):
            path = os.path.join(self.work, f"copy-{os.urandom(4).hex()}-{index}")
            with open(path, "wb") as f:
                f.write(data)
            arguments.append(f"{kind}={path}")
        self.spawn(WAYLAND_TOOL, "copy", *arguments)

    def copy_and_wait(self, *representations):
        count = len(history(self.home))
        self.copy(*representations)
        return wait_for(lambda: len(history(self.home)) > count and history(self.home), "the record")

    def start_target(self):
        """The target application in front; returns its file and the list of what it says, filled as it does."""
        target_file, said = os.path.join(self.work, "target.txt"), []
        target = self.spawn(TARGET_TOOL, target_file, QT_QPA_PLATFORM="wayland", DISPLAY="")

        def listen():
            try:
                for line in target.stdout:
                    said.append(line.strip())
            except ValueError:  # closed at the end of the test
                pass

        threading.Thread(target=listen, daemon=True).start()
        wait_for(lambda: focused_app() == "nimbrel-target", "the target application in front")
        return target_file, said

    def test_copies_made_elsewhere_become_records_and_secrets_never_do(self):
        self.start_target()
        cases = [
            ([("text/plain", b"hello from wayland")], ("text", "hello from wayland")),
            ([("text/plain;charset=utf-8", b"https://example.org/wayland")], ("link", "https://example.org/wayland")),
            ([("image/png", png(6, 4))], ("image", None)),
        ]
        for representations, (kind, text) in cases:
            with self.subTest(kind):
                newest = self.copy_and_wait(*representations)[0]
                self.assertEqual((newest["kind"], newest.get("text")), (kind, text))
                if kind == "image":
                    self.assertEqual((newest["imageWidth"], newest["imageHeight"]), (6, 4))
                # The application in front when the copy was made names the record's source.
                self.assertEqual(newest["sourceBundleID"], "nimbrel-target")

        # A password manager's copy is never read; the copy after it is recorded, and only that one.
        self.copy(("text/plain", b"hunter2-secret"), ("x-kde-passwordManagerHint", b"secret"))
        records = self.copy_and_wait(("text/plain", b"after the secret"))
        self.assertEqual([r.get("text") for r in records],
                         ["after the secret", None, "https://example.org/wayland", "hello from wayland"])
        for path in (self.home.store, self.home.store + "-wal"):
            if os.path.exists(path):
                with open(path, "rb") as f:
                    self.assertNotIn(b"hunter2-secret", f.read())

    def test_the_shortcut_opens_the_panel_and_a_chosen_record_lands_in_the_application_behind(self):
        self.copy_and_wait(("text/plain", b"pasted through wayland"))
        self.copy_and_wait(("text/plain", b"a newer record"))
        target_file, target_said = self.start_target()
        keyboard = self.spawn(WAYLAND_TOOL, "keys")

        def press(chord):
            keyboard.stdin.write(chord + "\n")
            keyboard.stdin.flush()
            self.assertEqual(keyboard.stdout.readline().strip(), "typed", chord)

        before = screenshot()
        # The shortcut is a binding Nimbrel gave sway: Shift+Super+V shows the panel over the application.
        press("Meta+Shift+V")
        wait_for(lambda: "focus out" in target_said, "the panel to take the keyboard from the application")
        wait_for(shown_and_settled(before), "the panel")
        for chord in ("Tab", "Down", "Return"):
            press(chord)
        wait_for(lambda: read_text(target_file) == "pasted through wayland",
                 lambda: f"the paste in the target application, which has {read_text(target_file)!r}",
                 lines=self.nimbrel.lines)
        self.assertEqual(focused_app(), "nimbrel-target")


if __name__ == "__main__":
    unittest.main()
