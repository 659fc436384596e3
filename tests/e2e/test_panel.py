"""The panel comes up over the application in front without taking its focus; the user finds a record
by typing and arrowing, chooses it, and it is pasted into that application."""

import os
import sqlite3
import time
import unittest
import uuid
from collections import namedtuple

from harness import (Clipboard, E2ETestCase, TargetApp, active_window, click, history, nimbrel_windows, run_once,
                     x11)


# The layout of the first release's store, as it lies on users' disks: no search index, store version 0.
FIRST_RELEASE_SCHEMA = """
PRAGMA application_id = 1313686098;
CREATE TABLE meta (singleton INTEGER PRIMARY KEY CHECK (singleton = 1), schemaVersion TEXT NOT NULL,
  totalByteSize INTEGER NOT NULL DEFAULT 0, recordCount INTEGER NOT NULL DEFAULT 0);
CREATE TABLE clip (pk INTEGER PRIMARY KEY, id BLOB NOT NULL UNIQUE, kindRaw TEXT NOT NULL, contentText TEXT,
  sourceBundleID TEXT, sourceName TEXT, createdAt INTEGER NOT NULL, byteSize INTEGER NOT NULL,
  searchText TEXT NOT NULL, searchSource TEXT NOT NULL);
CREATE INDEX clip_createdAt ON clip (createdAt);
CREATE TABLE clip_image (clipPk INTEGER PRIMARY KEY REFERENCES clip (pk) ON DELETE CASCADE, thumbnailData BLOB,
  contentImage BLOB);
CREATE TRIGGER clip_inserted AFTER INSERT ON clip BEGIN
  UPDATE meta SET totalByteSize = totalByteSize + NEW.byteSize, recordCount = recordCount + 1; END;
CREATE TRIGGER clip_deleted AFTER DELETE ON clip BEGIN
  UPDATE meta SET totalByteSize = totalByteSize - OLD.byteSize, recordCount = recordCount - 1; END;
CREATE TRIGGER clip_resized AFTER UPDATE OF byteSize ON clip BEGIN
  UPDATE meta SET totalByteSize = totalByteSize - OLD.byteSize + NEW.byteSize; END;
INSERT INTO meta (singleton, schemaVersion) VALUES (1, '1.0.0');
"""


def write_first_release_store(path, records):
    """records: (kind, text, folded text, seconds ago), oldest first."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    db = sqlite3.connect(path)
    db.executescript(FIRST_RELEASE_SCHEMA)
    now_ms = int(time.time() * 1000)
    for kind, text, folded, ago in records:
        db.execute("INSERT INTO clip (id, kindRaw, contentText, createdAt, byteSize, searchText, searchSource)"
                   " VALUES (?, ?, ?, ?, ?, ?, '')",
                   (uuid.uuid4().bytes, kind, text, now_ms - ago * 1000, len(text.encode()), folded + "\n"))
    db.commit()
    db.close()
    os.chmod(path, 0o600)


def search_index_ready(path):
    db = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
    try:
        version = db.execute("PRAGMA user_version").fetchone()[0]
        above = db.execute("SELECT indexedAbove FROM search_state").fetchone()[0] if version >= 2 else None
        return version >= 2 and above == -(2 ** 63)
    finally:
        db.close()


def panel_windows():
    return [w for w in nimbrel_windows() if w[1] >= 300 and w[2] >= 200]


Monitor = namedtuple("Monitor", "x y width height")


def split_into_two_monitors():
    """Makes the test desktop's one screen two side-by-side RandR monitors, left and right; Qt builds its
    screens from them. The left one takes the output, so the whole-screen monitor it made is gone."""
    query = x11("xrandr", "--query").stdout
    output = next(line.split()[0] for line in query.splitlines() if " connected" in line)
    width, height = (int(v) for v in query.split(" current ", 1)[1].split(",", 1)[0].split(" x "))
    left = Monitor(0, 0, width // 2, height)
    right = Monitor(width // 2, 0, width - width // 2, height)
    for name, m, outputs in (("nimbrel-left", left, output), ("nimbrel-right", right, "none")):
        # Millimetres for 96 dots per inch, so that Qt scales neither.
        x11("xrandr", "--setmonitor", name,
            f"{m.width}/{m.width * 254 // 960}x{m.height}/{m.height * 254 // 960}+{m.x}+{m.y}", outputs)
    return left, right


def join_monitors():
    for name in ("nimbrel-left", "nimbrel-right"):
        x11("xrandr", "--delmonitor", name, check=False)


def no_window_in_front():
    """True when _NET_ACTIVE_WINDOW is unset, None, or names a window that is gone (openbox leaves the name
    of the last active window when it closes)."""
    out = x11("xprop", "-root", "_NET_ACTIVE_WINDOW").stdout
    if "not found" in out:
        return True
    window = out.rsplit(" ", 1)[-1].strip()
    return int(window, 16) == 0 or x11("xwininfo", "-id", window, check=False).returncode != 0


def window_origin(window):
    """The top-left corner of a window's own area on the root window."""
    info = x11("xwininfo", "-id", window).stdout
    return tuple(int(line.split(":")[1]) for line in info.splitlines()
                 if line.strip().startswith(("Absolute upper-left X", "Absolute upper-left Y")))


class PanelTestCase(E2ETestCase):
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


class Panel(PanelTestCase):
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
        # Ctrl+Backspace deletes the highlighted record (the newest; pasting moved nothing), through the writer.
        self.open_panel(nimbrel)
        x11("xdotool", "key", "ctrl+BackSpace")
        nimbrel.wait_until(lambda: [r["text"] for r in history(self.home)] == ["beta two", "alpha one"],
                           what="the deletion")

    def test_pinning_and_undoing_a_delete_from_the_panel(self):
        nimbrel = self.start_with_history("alpha one", "beta two")
        pinned = lambda: {r["text"]: r["pinned"] for r in history(self.home)}
        self.open_panel(nimbrel)
        # Ctrl+P pins the highlighted record (the newest); Ctrl+Backspace deletes it, Ctrl+Z brings it back,
        # pinned as it was.
        x11("xdotool", "key", "ctrl+p")
        nimbrel.wait_until(lambda: pinned() == {"beta two": True, "alpha one": False}, what="the pin")
        x11("xdotool", "key", "ctrl+BackSpace")
        nimbrel.wait_until(lambda: pinned() == {"alpha one": False}, what="the deletion")
        x11("xdotool", "key", "ctrl+z")
        nimbrel.wait_until(lambda: pinned() == {"beta two": True, "alpha one": False}, what="the undo")
        x11("xdotool", "key", "Escape")
        nimbrel.wait_until(lambda: panel_windows() == [], what="the panel to close")

    def test_a_store_of_the_first_release_is_indexed_and_searched_from_the_panel_and_the_command_line(self):
        write_first_release_store(self.home.store, [
            ("text", "Crème brûlée for four", "creme brulee for four", 300),
            ("link", "https://example.org/brulee", "https://example.org/brulee", 200),
            ("text", "shopping list", "shopping list", 100),
        ])
        nimbrel = self.start()
        nimbrel.wait_ready()
        nimbrel.wait_until(lambda: search_index_ready(self.home.store), what="the search index")
        self.clipboard.xclip("text/plain", "BRÛLÉE, second attempt")
        nimbrel.wait_until(lambda: len(history(self.home)) == 4, what="the new copy")

        found = history(self.home, "--search", "brulee")
        self.assertEqual([r["text"] for r in found],
                         ["BRÛLÉE, second attempt", "https://example.org/brulee", "Crème brûlée for four"])
        self.assertEqual([r["text"] for r in history(self.home, "--search", "BRÛL", "--kind", "text")],
                         ["BRÛLÉE, second attempt", "Crème brûlée for four"])
        self.assertEqual(history(self.home, "--search", "brulée pie"), [])

        target = TargetApp(self.home.path)
        self.addCleanup(target.close)
        self.open_panel(nimbrel)
        x11("xdotool", "type", "--delay", "40", "for fo")
        time.sleep(0.3)
        x11("xdotool", "key", "Tab", "Return")
        nimbrel.wait_until(lambda: target.text() == "Crème brûlée for four", what="the paste of the match")
        # Made before incremental vacuum, the store is rewritten once in the background.
        nimbrel.wait_for_line("rewritten once")
        self.assertEqual(nimbrel.lines, ["[Nimbrel] The history store was rewritten once so that deleted records give "
                                         "their space back"])

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


class PanelScreens(PanelTestCase):
    """With two monitors the panel opens on the one the user works on."""

    def setUp(self):
        super().setUp()
        self.addCleanup(join_monitors)
        self.left, self.right = split_into_two_monitors()

    def toggle_panel(self, nimbrel, shown):
        self.assertEqual(run_once(self.home, "--toggle"), (0, ""))
        nimbrel.wait_until(lambda: len(panel_windows()) == (1 if shown else 0),
                           what="the panel to " + ("open" if shown else "close"))

    def assert_panel_on(self, monitor, where):
        _, width, height, x, y = panel_windows()[0]
        # The window holds the panel and its shadow (8, 4, 8, 10 around it), which may reach past the edge.
        panel = (x + 8, y + 4, x + width - 8, y + height - 10)
        self.assertTrue(monitor.x <= panel[0] and panel[2] <= monitor.x + monitor.width
                        and monitor.y <= panel[1] and panel[3] <= monitor.y + monitor.height,
                        f"the panel at {panel} should lie on {monitor}, chosen by {where}")

    def test_the_panel_opens_on_the_monitor_of_the_window_in_front(self):
        nimbrel = self.start_with_history("one")
        target = TargetApp(self.home.path)
        self.addCleanup(target.close)
        for monitor, other in ((self.right, self.left), (self.left, self.right)):
            # The window manager places the frame there; the window's own area lies a border inside it.
            x11("xdotool", "windowmove", target.window, str(monitor.x + 100), str(monitor.y + 150))
            nimbrel.wait_until(lambda: monitor.x + 100 <= window_origin(target.window)[0] < monitor.x + 200,
                               what="the window to move")
            x11("xdotool", "windowactivate", "--sync", target.window)
            # The pointer on the other monitor: the window in front decides, not the pointer.
            x11("xdotool", "mousemove", str(other.x + other.width // 2), str(other.y + other.height // 2))
            self.toggle_panel(nimbrel, True)
            self.assert_panel_on(monitor, "the window in front")
            self.toggle_panel(nimbrel, False)

    def test_with_no_window_in_front_the_panel_opens_under_the_pointer(self):
        nimbrel = self.start_with_history("one")
        # The last application closes: no window is in front.
        TargetApp(self.home.path).close()
        nimbrel.wait_until(no_window_in_front, what="no window in front")
        for monitor in (self.right, self.left):
            x11("xdotool", "mousemove", str(monitor.x + monitor.width // 2), str(monitor.y + monitor.height // 3))
            self.toggle_panel(nimbrel, True)
            self.assert_panel_on(monitor, "the pointer")
            self.toggle_panel(nimbrel, False)


if __name__ == "__main__":
    unittest.main()
