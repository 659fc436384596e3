"""Copies made in other applications become classified, de-duplicated records within half a second."""

import os
import subprocess
import time
import unittest

from harness import Clipboard, E2ETestCase, history


def image_file(path, width, height, fmt):
    subprocess.run(["convert", "-size", f"{width}x{height}", "gradient:red-blue", f"{fmt}:{path}"], check=True,
                   timeout=60)
    with open(path, "rb") as f:
        return f.read()


class Capture(E2ETestCase):
    def setUp(self):
        super().setUp()
        self.clipboard = Clipboard(self.home.path)
        self.addCleanup(self.clipboard.close)

    def wait_for_records(self, nimbrel, count, timeout=5):
        records = []

        def enough():
            records[:] = history(self.home)
            return len(records) >= count

        nimbrel.wait_until(enough, timeout, f"{count} records")
        return records

    def settle(self):
        # Two polls: anything that would be recorded is recorded by now.
        time.sleep(1.2)

    def test_each_kind_of_copy_gives_the_right_record(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        png = image_file(os.path.join(self.home.path, "small.png"), 64, 48, "png")
        steps = [
            (lambda: self.clipboard.xclip("text/plain", "  hello world \n"), ("text", "  hello world \n")),
            (lambda: self.clipboard.xclip("text/plain", "  hello world \n"), None),
            (lambda: self.clipboard.xclip("text/uri-list", "https://example.org/a?b=1\r\n"),
             ("link", "https://example.org/a?b=1")),
            (lambda: self.clipboard.copy(("text/uri-list", "file:///etc/hostname\n"), ("text/plain", "hostname")), None),
            (lambda: self.clipboard.xclip("UTF8_STRING", "#FFF"), ("color", "#FFF")),
            (lambda: self.clipboard.xclip("image/png", png), ("image", None)),
            (lambda: self.clipboard.copy(("text/plain", "pasted by Nimbrel"), ("org.nimbrel.internal", b"\x01")), None),
            (lambda: self.clipboard.copy(("text/plain", "hunter2"), ("x-kde-passwordManagerHint", "secret")), None),
            (lambda: self.clipboard.copy(("text/plain", "otp 123456"), ("org.nspasteboard.ConcealedType", "")), None),
            (lambda: self.clipboard.xclip("text/plain", "hello world"), ("text", "hello world")),
        ]
        expected = []
        for copy, record in steps:
            copy()
            if record:
                expected.append(record)
                self.wait_for_records(nimbrel, len(expected))
            else:
                self.settle()
        records = history(self.home)
        self.assertEqual([(r["kind"], r.get("text")) for r in reversed(records)], expected)
        image = next(r for r in records if r["kind"] == "image")
        self.assertEqual((image["imageWidth"], image["imageHeight"], image["byteSize"]), (64, 48, len(png)))
        for r in records:
            if r["kind"] != "image":
                self.assertEqual(r["byteSize"], len(r["text"].encode("utf-8")))
        self.assertEqual(nimbrel.lines, [])

    def test_large_images_are_reduced_only_on_the_generic_path(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        bmp = image_file(os.path.join(self.home.path, "wide.bmp"), 4000, 1000, "bmp")
        self.clipboard.xclip("image/bmp", bmp)
        first = self.wait_for_records(nimbrel, 1, timeout=10)[0]
        self.assertEqual((first["kind"], first["imageWidth"], first["imageHeight"]), ("image", 1024, 256))
        png = image_file(os.path.join(self.home.path, "wide.png"), 4000, 1000, "png")
        self.clipboard.xclip("image/png", png)
        second = self.wait_for_records(nimbrel, 2, timeout=10)[0]
        self.assertEqual((second["imageWidth"], second["imageHeight"], second["byteSize"]), (4000, 1000, len(png)))

    def test_history_survives_a_restart_and_old_contents_are_not_recorded(self):
        self.clipboard.xclip("text/plain", "copied before Nimbrel started")
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.settle()
        self.assertEqual(history(self.home), [])
        self.clipboard.xclip("text/plain", "kept across a restart")
        self.wait_for_records(nimbrel, 1)
        self.assertEqual(nimbrel.terminate(), 0)

        again = self.start()
        again.wait_ready()
        self.settle()
        records = history(self.home)
        self.assertEqual([r["text"] for r in records], ["kept across a restart"])
        self.clipboard.xclip("text/plain", "after the restart")
        records = self.wait_for_records(again, 2)
        self.assertEqual(records[0]["text"], "after the restart")

    def test_history_command_without_a_store(self):
        from harness import run_once

        status, out = run_once(self.home, "--history")
        self.assertEqual(status, 1)
        self.assertEqual(out, "")


if __name__ == "__main__":
    unittest.main()
