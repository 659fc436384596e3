"""What Nimbrel does for the clipboard beyond recording it: keeping it alive when its application exits,
mouse selections, formatted text, and pasting links and formatted text into GTK and Qt applications."""

import os
import subprocess
import time
import unittest

from harness import DISPLAY, Clipboard, E2ETestCase, TargetApp, active_window, history, nimbrel_windows, x11

OWNER_TOOL = os.environ.get("NIMBREL_OWNER", "nimbrel-owner")
COPY_TOOL = os.environ.get("NIMBREL_COPY", "nimbrel-copy")
GTK_TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gtk_field.py")
ENV = dict(os.environ, DISPLAY=DISPLAY or "", QT_QPA_PLATFORM="xcb")


def clipboard_data(mime, selection="clipboard"):
    """What the selection holds in that type now, or None when nobody offers it."""
    result = subprocess.run(["xclip", "-o", "-selection", selection, "-t", mime], env=ENV, capture_output=True,
                            timeout=10)
    return result.stdout if result.returncode == 0 else None


def clipboard_targets():
    data = clipboard_data("TARGETS")
    return data.decode().split() if data else []


def launch(*command):
    process = subprocess.Popen(list(command), env=ENV, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    ready = process.stdout.readline().strip() == "ready"
    process.stdout.close()
    if not ready:
        process.kill()
        process.wait(5)
        raise AssertionError(f"{command[0]} did not start")
    return process


class GtkField(TargetApp):
    """A GTK text view in front; its text is written to a file on every change."""

    def __init__(self, workdir):  # its own program, the rest as TargetApp
        self.file = os.path.join(workdir, f"gtk-{time.monotonic_ns()}.txt")
        self.process = launch("/usr/bin/python3", GTK_TOOL, self.file)
        window = x11("xdotool", "search", "--sync", "--onlyvisible", "--name", "^nimbrel-gtk-field$").stdout.split()[0]
        x11("xdotool", "windowactivate", "--sync", window, check=False)
        time.sleep(0.2)
        self.window = window


class ClipboardCase(E2ETestCase):
    def setUp(self):
        super().setUp()
        self.clipboard = Clipboard(self.home.path)
        self.addCleanup(self.clipboard.close)

    def file(self, data):
        path = os.path.join(self.home.path, f"data-{time.monotonic_ns()}")
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())
        return path

    def wait_for_texts(self, nimbrel, texts, what="the records"):
        nimbrel.wait_until(lambda: [r["text"] for r in history(self.home)] == texts, what=what)

    def settle(self):
        # Past the read deadline and the selection's settling time: anything to be recorded is by now.
        time.sleep(1.5)


class KeepAlive(ClipboardCase):
    def test_what_an_application_copied_stays_pasteable_after_it_exits(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        html = b"<b>Bold</b> words"
        owners = [
            # A plain X client: its window goes, nothing is handed over.
            ("xcb owner", "plain words", lambda text: launch(OWNER_TOOL, "--seconds", "1", "serve",
                                                             f"UTF8_STRING={self.file(text)}")),
            # Qt and GTK hand their clipboard to the clipboard manager as they exit, and wait for its answer.
            ("Qt application", "Bold words", lambda text: launch(COPY_TOOL, "--exit-after", "700",
                                                                 f"text/plain={self.file(text)}",
                                                                 f"text/html={self.file(html)}")),
            ("GTK application", "gtk words", lambda text: launch("/usr/bin/python3", GTK_TOOL, "--copy", text, "700")),
        ]
        texts = []
        for name, text, copy in owners:
            with self.subTest(name):
                started = time.monotonic()
                owner = copy(text)
                texts.insert(0, text)
                self.wait_for_texts(nimbrel, texts, f"the record of the {name}")
                owner.wait(10)
                self.assertLess(time.monotonic() - started, 4, "the clipboard manager answered at once")
                nimbrel.wait_until(lambda: clipboard_data("UTF8_STRING") == text.encode(),
                                   what=f"the {name}'s copy to stay on the clipboard")
                self.assertIn("org.nimbrel.internal", clipboard_targets())
                if name == "Qt application":
                    self.assertEqual(clipboard_data("text/html"), html, "offered with all its representations")
        self.settle()
        self.assertEqual([r["text"] for r in history(self.home)], texts, "keeping it alive records nothing")

        # A secret is never offered again, and neither is an older record in its place.
        secret = launch(OWNER_TOOL, "--seconds", "1", "serve", f"UTF8_STRING={self.file('hunter2')}",
                        f"x-kde-passwordManagerHint={self.file('secret')}")
        secret.wait(10)
        self.settle()
        self.assertIsNone(clipboard_data("UTF8_STRING"))
        self.assertEqual(len(history(self.home)), len(texts))

    def test_nimbrel_ends_at_once_while_it_holds_the_clipboard(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        owner = launch(OWNER_TOOL, "--seconds", "1", "serve", f"UTF8_STRING={self.file('kept')}")
        owner.wait(10)
        nimbrel.wait_until(lambda: clipboard_data("UTF8_STRING") == b"kept", what="the copy kept alive")
        started = time.monotonic()
        nimbrel.terminate()
        self.assertLess(time.monotonic() - started, 2, "no clipboard manager left to wait for")


class PrimarySelection(ClipboardCase):
    def select(self, text):
        """Selects text with the mouse, as a terminal does: the selection is owned while the button is held."""
        x11("xdotool", "mousedown", "1")
        try:
            subprocess.run(["xclip", "-selection", "primary", "-i", self.file(text)], env=ENV, check=True, timeout=10,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)
        finally:
            x11("xdotool", "mouseup", "1")

    def test_off_by_default(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.select("selected, not copied")
        self.settle()
        self.clipboard.xclip("text/plain", "copied")
        self.wait_for_texts(nimbrel, ["copied"])

    def test_when_on_a_settled_selection_is_recorded_and_grows_into_one_record(self):
        self.home.write_defaults({"Nimbrel.recordPrimarySelection": True})
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.select("selected")
        self.wait_for_texts(nimbrel, ["selected"], "the selection once the button is up")
        self.select("selected further")
        self.wait_for_texts(nimbrel, ["selected further"], "the grown selection in place of the first")
        # A password manager's secret on the clipboard keeps selections out.
        self.clipboard.copy(("text/plain", "hunter2"), ("x-kde-passwordManagerHint", "secret"))
        self.select("the secret shown")
        self.settle()
        self.assertEqual([r["text"] for r in history(self.home)], ["selected further"])


class Pasting(ClipboardCase):
    def open_panel_and_choose_the_newest(self, nimbrel):
        x11("xdotool", "key", "super+shift+v")
        nimbrel.wait_until(lambda: any(w[1] >= 300 and w[2] >= 200 for w in nimbrel_windows()), what="the panel")
        time.sleep(0.4)
        x11("xdotool", "key", "Tab", "Return")

    def test_a_link_pastes_as_its_text_into_gtk_and_qt_fields(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        link = "https://example.org/a?b=1"
        self.clipboard.xclip("text/uri-list", link + "\r\n")
        self.wait_for_texts(nimbrel, [link])
        for name, make in (("GTK", GtkField), ("Qt", TargetApp)):
            with self.subTest(name):
                field = make(self.home.path)
                self.addCleanup(field.close)
                self.open_panel_and_choose_the_newest(nimbrel)
                nimbrel.wait_until(lambda: field.text() == link, what=f"the link pasted into the {name} field")
                targets = clipboard_targets()
                self.assertNotIn("text/uri-list", targets)
                self.assertNotIn("text/x-moz-url", targets)
                field.close()

    def test_formatted_text_keeps_its_formatting_on_the_way_back(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        html = b"<meta charset=\"utf-8\"><b>Bold</b> and <i>italic</i>"
        self.clipboard.copy(("text/plain", "Bold and italic"), ("text/html", html))
        self.wait_for_texts(nimbrel, ["Bold and italic"])
        self.assertEqual(history(self.home)[0]["representations"], ["text/plain", "text/html"])
        self.clipboard.xclip("text/plain", "something else")  # the formatted text is no longer on the clipboard
        self.wait_for_texts(nimbrel, ["something else", "Bold and italic"])
        target = TargetApp(self.home.path)
        self.addCleanup(target.close)
        x11("xdotool", "key", "super+shift+v")
        nimbrel.wait_until(lambda: any(w[1] >= 300 and w[2] >= 200 for w in nimbrel_windows()), what="the panel")
        time.sleep(0.4)
        x11("xdotool", "key", "Tab", "Down", "Return")
        nimbrel.wait_until(lambda: target.text() == "Bold and italic", what="the paste into the Qt field")
        self.assertEqual(clipboard_data("text/html"), html)
        self.assertEqual(active_window(), int(target.window))


if __name__ == "__main__":
    unittest.main()
