#!/usr/bin/python3
"""Test helper: a GTK application, the toolkit's own clipboard handling included.

Usage: gtk_field.py FILE              a window with a text view whose text is written to FILE on every change
       gtk_field.py --copy TEXT MS    copies TEXT (storable, as GTK's text widgets make it) and exits after MS
Prints "ready" once the window is shown or the text is on the clipboard.
"""

import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def ready():
    print("ready", flush=True)
    return False


def field(path):
    window = Gtk.Window(title="nimbrel-gtk-field")
    window.set_default_size(600, 300)
    window.move(200, 150)
    view = Gtk.TextView()
    text = view.get_buffer()

    def changed(buffer):
        with open(path, "w", encoding="utf-8") as f:
            f.write(buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True))

    text.connect("changed", changed)
    window.add(view)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    window.present()
    GLib.timeout_add(300, ready)


def copy(text, exit_after_ms):
    clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
    clipboard.set_text(text, -1)
    # Leaving the main loop then hands the clipboard to the clipboard manager (SAVE_TARGETS).
    clipboard.set_can_store(None)
    GLib.idle_add(ready)
    GLib.timeout_add(exit_after_ms, Gtk.main_quit)


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--copy":
        copy(sys.argv[2], int(sys.argv[3]))
    elif len(sys.argv) == 2:
        field(sys.argv[1])
    else:
        sys.exit(__doc__)
    GLib.timeout_add_seconds(120, Gtk.main_quit)
    Gtk.main()
