"""Copies made in other applications become classified, de-duplicated records that outlive a restart; secrets
and Nimbrel's own copies are never read, and what was on the clipboard before the start is not recorded."""

import unittest

from harness import E2ETestCase, history, png


class Capture(E2ETestCase):
    def test_each_kind_of_copy_gives_the_right_record_and_the_history_survives_a_restart(self):
        self.clipboard.copy(("text/plain", "copied before Nimbrel started"))
        nimbrel = self.start()
        nimbrel.wait_ready()
        image = png(64, 48)
        # (what is offered, the record it makes, or else what its owner is asked for before the next copy and
        # whether its bytes may be read at all)
        steps = [
            ([("text/plain", "  hello world \n")], ("text", "  hello world \n"), None, True),
            ([("text/plain", "  hello world \n")], None, "data", True),
            ([("text/uri-list", "https://example.org/a?b=1\r\n")], ("link", "https://example.org/a?b=1"), None, True),
            ([("text/uri-list", "file:///etc/hostname\n"), ("text/plain", "hostname")], None, "types", True),
            ([("UTF8_STRING", "#FFF")], ("color", "#FFF"), None, True),
            ([("image/png", image)], ("image", None), None, True),
            ([("text/plain", "pasted by Nimbrel"), ("org.nimbrel.internal", b"\x01")], None, "types", False),
            ([("text/plain", "hunter2"), ("x-kde-passwordManagerHint", "secret")], None, "types", False),
            ([("text/plain", "otp 123456"), ("org.nspasteboard.ConcealedType", "")], None, "types", False),
            ([("text/plain", "hello world")], ("text", "hello world"), None, True),
        ]
        expected, unread = [], []
        for representations, record, awaited, readable in steps:
            with self.subTest(representations[0]):
                if awaited:
                    asked = self.clipboard.copy(*representations)
                    nimbrel.wait_until(lambda: any(a.startswith(awaited) for a in asked), what=f"a look at {awaited}")
                    if not readable:
                        unread.append(asked)
                else:
                    self.clipboard.xclip(*representations[0])
                    expected.insert(0, record)
                    nimbrel.wait_until(lambda: len(history(self.home)) == len(expected), what=f"the record {record}")
        # A password manager's hint is read to be sure of it; the text it marks never is.
        self.assertEqual([a for asked in unread for a in asked if a.startswith("data text/")], [], "never read")
        records = history(self.home)
        self.assertEqual([(r["kind"], r.get("text")) for r in records], expected)
        shown = next(r for r in records if r["kind"] == "image")
        self.assertEqual((shown["imageWidth"], shown["imageHeight"], shown["byteSize"]), (64, 48, len(image)))
        for r in records:
            if r["kind"] != "image":
                self.assertEqual(r["byteSize"], len(r["text"].encode("utf-8")))
        self.assertEqual(nimbrel.lines, [])

        self.assertEqual(nimbrel.terminate(), 0)
        again = self.start()
        again.wait_ready()
        self.copy_and_wait(again, "after the restart")
        self.assertEqual(self.texts(), ["after the restart"] + [text for _, text in expected])


if __name__ == "__main__":
    unittest.main()
