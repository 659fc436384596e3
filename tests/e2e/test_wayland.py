"""Nimbrel in a Wayland session: the real program on a headless sway of its own (tests/support/private-sway),
driven as the user's other Wayland applications would drive it."""

import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

from harness import BINARY, TARGET_TOOL, Home, Nimbrel, history

WAYLAND_TOOL = os.environ.get("NIMBREL_WAYLAND_TOOL", "nimbrel-wayland")
UNAVAILABLE = os.environ.get("NIMBREL_SWAY_UNAVAILABLE")


def session_env():
    return dict(WAYLAND_DISPLAY=os.environ.get("WAYLAND_DISPLAY", ""), SWAYSOCK=os.environ.get("SWAYSOCK", ""),
                XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="sway", DISPLAY="", QT_QPA_PLATFORM="",
                NIMBREL_NO_LAUNCH_REPORT="1", NIMBREL_NO_UPDATE_CHECK="1")


def png(width, height):
    """A small opaque PNG, as an image editor would copy it."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(
        b"\x00" + b"".join(bytes((x * 40 % 256, y * 40 % 256, 128)) for x in range(width)) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def wait_for(predicate, what, timeout=10):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def read_text(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def sway_tree():
    out = subprocess.run(["swaymsg", "-t", "get_tree", "--raw"], capture_output=True, text=True, timeout=10,
                         check=True).stdout
    return json.loads(out)


def windows(node=None):
    """Every window sway shows: (app id, name, focused)."""
    node = node or sway_tree()
    found = []
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        if child.get("app_id") is not None or child.get("window") is not None:
            found.append((child.get("app_id"), child.get("name"), child.get("focused")))
        found.extend(windows(child))
    return found


def screenshot():
    """The whole output as (width, height, RGB bytes), taken by grim through the compositor."""
    data = subprocess.run(["grim", "-t", "ppm", "-"], capture_output=True, timeout=10, check=True).stdout
    magic, size, depth, pixels = data.split(b"\n", 3)
    width, height = (int(n) for n in size.split())
    assert magic == b"P6" and depth == b"255"
    return width, height, pixels


def changed_box(before, after, step=4):
    """The bounding box (left, top, right, bottom) of what differs between two screenshots, or None."""
    width, height, old = before
    _, _, new = after
    box = None
    for y in range(0, height, step):
        row = y * width * 3
        for x in range(0, width, step):
            i = row + x * 3
            if abs(old[i] - new[i]) + abs(old[i + 1] - new[i + 1]) + abs(old[i + 2] - new[i + 2]) > 24:
                box = (x, y, x, y) if box is None else (min(box[0], x), min(box[1], y), max(box[2], x),
                                                         max(box[3], y))
    return box


def panel_box(before, what, timeout=10):
    """Where the panel shows, once two screenshots in a row agree on it."""
    last = None

    def settled():
        nonlocal last
        box = changed_box(before, screenshot())
        agreed = box is not None and box == last
        last = box
        return box if agreed else None

    return wait_for(settled, what, timeout)


def focused_app():
    return next((app for app, _, focused in windows() if focused), None)


class Keyboard:
    """One virtual keyboard, kept open for the test (the first key after a new keymap can be lost)."""

    def __init__(self):
        self.process = subprocess.Popen([WAYLAND_TOOL, "keys"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        if self.process.stdout.readline().strip() != "ready":
            raise AssertionError("the virtual keyboard did not start")

    def type(self, chord):
        self.process.stdin.write(chord + "\n")
        self.process.stdin.flush()
        if self.process.stdout.readline().strip() != "typed":
            raise AssertionError(f"{chord} was not typed")

    def close(self):
        self.process.stdin.close()
        self.process.wait(5)


@unittest.skipIf(UNAVAILABLE, f"no headless sway here: {UNAVAILABLE}")
class WaylandSession(unittest.TestCase):
    def setUp(self):
        self.home = Home()
        self.work = tempfile.mkdtemp(prefix="nimbrel-wayland-")
        self.processes = []
        self.copies = []

    def tearDown(self):
        for p in self.copies:
            p.kill()
            p.wait(5)
        for p in self.processes:
            p.stop()
        self.home.remove()

    def start(self, placement="bottom"):
        # A headless sway has no tray; the settings window that explains that once would take the focus.
        self.home.write_defaults({"Nimbrel.noTrayExplained": True, "Nimbrel.panelMode": placement})
        nimbrel = Nimbrel(self.home, **session_env())
        self.processes.append(nimbrel)
        nimbrel.wait_ready()
        return nimbrel

    def copy(self, *representations):
        """Copies these (type, bytes) together, replacing the clipboard, and serves them as a copying
        application does."""
        arguments = []
        for index, (kind, data) in enumerate(representations):
            path = os.path.join(self.work, f"copy-{len(self.copies)}-{index}")
            with open(path, "wb") as f:
                f.write(data)
            arguments.append(f"{kind}={path}")
        process = subprocess.Popen([WAYLAND_TOOL, "copy", *arguments], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True)
        self.copies.append(process)
        self.assertEqual(process.stdout.readline().strip(), "ready")

    def records(self):
        return history(self.home)

    def start_target(self):
        target_file = os.path.join(self.work, "target.txt")
        target = subprocess.Popen([TARGET_TOOL, target_file],
                                  env=dict(os.environ, QT_QPA_PLATFORM="wayland", DISPLAY=""),
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.processes.append(_Process(target))
        self.assertEqual(target.stdout.readline().strip(), "ready")
        wait_for(lambda: focused_app() == "nimbrel-target", "the target application in front")
        return target_file

    def test_copies_made_elsewhere_become_records_and_secrets_never_do(self):
        self.start()
        target_file = self.start_target()
        del target_file
        image = png(6, 4)
        cases = [
            ("text", [("text/plain", b"hello from wayland")], "text", "hello from wayland"),
            ("link", [("text/plain;charset=utf-8", b"https://example.org/wayland")], "link",
             "https://example.org/wayland"),
            ("image", [("image/png", image)], "image", None),
        ]
        for name, representations, kind, text in cases:
            with self.subTest(name):
                count = len(self.records())
                self.copy(*representations)
                records = wait_for(lambda: len(self.records()) > count and self.records(), f"the {name} record")
                newest = records[0]
                self.assertEqual(newest["kind"], kind)
                if text is not None:
                    self.assertEqual(newest["text"], text)
                else:
                    self.assertEqual((newest["imageWidth"], newest["imageHeight"]), (6, 4))
                # The application in front when the copy was made names the record's source.
                self.assertEqual(newest["sourceBundleID"], "nimbrel-target")

        # A password manager's copy: its bytes are never read, so nothing is recorded; a copy after it is.
        count = len(self.records())
        self.copy(("text/plain", b"hunter2-secret"), ("x-kde-passwordManagerHint", b"secret"))
        self.copy(("text/plain", b"after the secret"))
        records = wait_for(lambda: len(self.records()) > count and self.records(), "the copy after the secret")
        self.assertEqual(records[0]["text"], "after the secret")
        self.assertEqual(len(records), count + 1)
        for path in (self.home.store, self.home.store + "-wal"):
            if os.path.exists(path):
                with open(path, "rb") as f:
                    self.assertNotIn(b"hunter2-secret", f.read())

    def test_the_shortcut_opens_the_panel_and_a_chosen_record_lands_in_the_application_behind(self):
        nimbrel = self.start()
        self.copy(("text/plain", b"pasted through wayland"))
        wait_for(lambda: self.records(), "the first record")
        self.copy(("text/plain", b"a newer record"))
        wait_for(lambda: len(self.records()) == 2, "the second record")
        target_file = self.start_target()
        keyboard = Keyboard()
        try:
            before = screenshot()
            # The shortcut is a binding Nimbrel gave sway: Shift+Super+V shows the panel, over the application.
            keyboard.type("Meta+Shift+V")
            panel_box(before, "the panel")
            # Typing filters (the newest record does not match), Tab leaves the field, Return chooses.
            for key in ("P", "A", "S", "T", "E", "D"):
                keyboard.type(key)
            keyboard.type("Tab")
            keyboard.type("Return")
            try:
                wait_for(lambda: read_text(target_file) == "pasted through wayland",
                         "the paste in the target application")
            except AssertionError:
                clipboard = subprocess.run(["wl-paste", "--list-types"], capture_output=True, text=True, timeout=10)
                raise AssertionError(f"no paste: field {read_text(target_file)!r}, windows {windows()}, clipboard "
                                     f"{clipboard.stdout!r}, Nimbrel said {nimbrel.lines}")
            self.assertEqual(focused_app(), "nimbrel-target")
        finally:
            keyboard.close()

    def test_the_panel_is_a_layer_at_its_placement_and_closes_on_escape_or_the_shortcut(self):
        # A click elsewhere is taken by the catcher under the panel (a widget test): the headless sway has no
        # pointer to click with.
        shots = os.environ.get("NIMBREL_SCREENSHOT_DIR")
        for placement in ("bottom", "left", "right"):
            with self.subTest(placement):
                nimbrel = self.start(placement)
                self.copy(("text/plain", f"shown at the {placement}".encode()))
                wait_for(lambda: self.records(), "the record")
                self.start_target()
                keyboard = Keyboard()
                try:
                    before = screenshot()
                    width, height, _ = before

                    def opened():
                        subprocess.run([BINARY, "--toggle"], env=self.home.env(**session_env()), timeout=20,
                                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                        return panel_box(before, f"the panel at the {placement}")

                    left, top, right, bottom = opened()
                    # On the placement's edge, centred along it, as on X11 (the shadow blurs the box's edges).
                    if placement == "bottom":
                        self.assertGreater(bottom, height - 40)
                        self.assertLess(abs((left + right) / 2 - width / 2), 24)
                        self.assertLess(bottom - top, height / 2)
                    else:
                        self.assertLess(abs((top + bottom) / 2 - height / 2), 24)
                        self.assertLess(right - left, width / 2)
                        if placement == "left":
                            self.assertLess(left, 40)
                        else:
                            self.assertGreater(right, width - 40)
                    if shots:
                        subprocess.run(["grim", os.path.join(shots, f"panel-sway-{placement}.png")], check=True,
                                       timeout=10)

                    gone = lambda: changed_box(before, screenshot(), step=8) is None
                    keyboard.type("Escape")
                    wait_for(gone, "the panel closed by Escape")
                    wait_for(lambda: focused_app() == "nimbrel-target", "the keyboard back with the application")

                    opened()
                    keyboard.type("Meta+Shift+V")
                    wait_for(gone, "the panel closed by the shortcut")
                finally:
                    keyboard.close()
                    nimbrel.stop()
                    for p in self.processes:
                        p.stop()
                    self.processes.clear()

    def test_idle_nimbrel_uses_no_processor_time(self):
        nimbrel = self.start()
        pid = nimbrel.process.pid

        def ticks():
            with open(f"/proc/{pid}/stat", encoding="ascii") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return int(fields[11]) + int(fields[12])  # utime + stime

        before = ticks()
        time.sleep(30)  # the measurement itself: idle time is what is measured
        used = (ticks() - before) / os.sysconf("SC_CLK_TCK")
        print(f"idle Nimbrel on sway: {used:.2f} s of processor time in 30 s", file=sys.stderr)
        self.assertLess(used, 0.3, f"{used:.2f} s of processor time in 30 s idle")


class _Process:
    """Adapts a plain subprocess to the tests' clean-up."""

    def __init__(self, process):
        self.process = process

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(5)
        self.process.stdout.close()


if __name__ == "__main__":
    unittest.main()
