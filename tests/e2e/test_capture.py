"""Copies made in other applications become classified, de-duplicated records within half a second."""

import os
import signal
import stat
import struct
import subprocess
import time
import unittest
import zlib

from harness import DISPLAY, Clipboard, E2ETestCase, history, nimbrel_windows, run_once

OWNER_TOOL = os.environ.get("NIMBREL_OWNER", "nimbrel-owner")


def image_file(path, width, height, fmt):
    subprocess.run(["convert", "-size", f"{width}x{height}", "gradient:red-blue", f"{fmt}:{path}"], check=True,
                   timeout=60)
    with open(path, "rb") as f:
        return f.read()


class CaptureCase(E2ETestCase):
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
        # Past the read deadline: anything that would be recorded is recorded by now.
        time.sleep(1.2)


class Capture(CaptureCase):
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


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def tiny_png():
    header = png_chunk(b"IHDR", struct.pack(">IIBBBBB", 2, 2, 8, 2, 0, 0, 0))
    pixels = png_chunk(b"IDAT", zlib.compress(b"\0" + b"\xff" * 6 + b"\0" + b"\x00" * 6))
    return b"\x89PNG\r\n\x1a\n" + header + pixels + png_chunk(b"IEND", b"")


def png_bomb():
    """A PNG of a few hundred bytes whose text chunk claims 2 GB."""
    png = tiny_png()
    claim = struct.pack(">I", 0x7FFFFFF0) + b"tEXtComment\0" + b"x" * 200
    return png[:33] + claim + png[33:]


class Owner:
    """A clipboard owner that misbehaves on purpose (tests/e2e/OwnerTool.c)."""

    def __init__(self, workdir, mode, *representations):
        args = []
        for i, (mime, data) in enumerate(representations):
            path = os.path.join(workdir, f"owner-{time.monotonic_ns()}-{i}")
            with open(path, "wb") as f:
                f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
            args.append(f"{mime}={path}")
        self.process = subprocess.Popen([OWNER_TOOL, mode, *args], env=dict(os.environ, DISPLAY=DISPLAY or ""),
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        if self.process.stdout.readline().strip() != "ready":
            raise AssertionError(f"nimbrel-owner {mode} could not take the clipboard")

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(5)


def panel_windows():
    return [w for w in nimbrel_windows() if w[1] >= 300 and w[2] >= 200]


def peak_memory_kib(pid):
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))


class UnreliableSources(CaptureCase):
    """What other applications put on the clipboard, or fail to hand over, never freezes Nimbrel and never
    costs the history more than that one copy."""

    def owner(self, mode, *representations):
        owner = Owner(self.home.path, mode, *representations)
        self.addCleanup(owner.close)
        return owner

    def texts(self):
        return [r.get("text") for r in reversed(history(self.home))]

    def test_a_frozen_owner_costs_only_its_own_copy(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.clipboard.xclip("text/plain", "before")
        self.wait_for_records(nimbrel, 1)
        for given_up, mode in enumerate(("frozen", "targets-only"), start=1):
            with self.subTest(mode=mode):
                self.owner(mode, ("UTF8_STRING", f"never handed over ({mode})"))
                # The panel answers while the read waits on the owner.
                status, _ = run_once(self.home, "--toggle")
                self.assertEqual(status, 0)
                nimbrel.wait_until(lambda: panel_windows(), 5, "the panel")
                run_once(self.home, "--toggle")
                nimbrel.wait_until(lambda: not panel_windows(), 5, "the panel to close")
                nimbrel.wait_until(lambda: sum("did not hand over" in line for line in nimbrel.lines) == given_up, 5,
                                   "the copy to be given up")
                self.clipboard.xclip("text/plain", f"after {mode}")
                nimbrel.wait_until(lambda: self.texts()[-1] == f"after {mode}", 5, "the next copy")
        self.assertEqual(self.texts(), ["before", "after frozen", "after targets-only"])
        self.assertEqual(sum("did not hand over" in line for line in nimbrel.lines), 2, nimbrel.lines)

    def test_a_slow_owner_within_the_deadline_is_recorded(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.owner("slow:400", ("UTF8_STRING", "answered after 0.4 s"))
        records = self.wait_for_records(nimbrel, 1)
        self.assertEqual(records[0]["text"], "answered after 0.4 s")

    def test_rapid_copies_are_all_recorded_in_order(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        copied = [f"rapid copy {i}" for i in range(30)]
        for text in copied:
            started = time.monotonic()
            self.clipboard.xclip("text/plain", text)
            time.sleep(max(0.0, 0.15 - (time.monotonic() - started)))
        nimbrel.wait_until(lambda: len(history(self.home)) >= 30, 10, "30 records")
        self.assertEqual(self.texts(), copied)

    def test_an_oversized_copy_is_refused_and_the_history_stays(self):
        self.home.write_defaults({"Nimbrel.maxStorageMB": 100})
        nimbrel = self.start()
        nimbrel.wait_ready()
        for i in range(3):
            self.clipboard.xclip("text/plain", f"earlier {i}")
            self.wait_for_records(nimbrel, i + 1)
        self.clipboard.xclip("text/plain", "x" * (30 * 1024 * 1024))
        # Refused at the cap (a quarter of the budget), or at the deadline should the transfer be slower.
        nimbrel.wait_for_line("is not recorded", timeout=10)
        self.clipboard.xclip("text/plain", "the next copy")
        nimbrel.wait_until(lambda: self.texts()[-1] == "the next copy", 5, "the next copy")
        self.assertEqual(self.texts(), ["earlier 0", "earlier 1", "earlier 2", "the next copy"])
        self.assertLess(peak_memory_kib(nimbrel.process.pid), 300 * 1024)

    def test_bytes_that_are_no_image_are_not_recorded_as_one(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        png = tiny_png()
        for name, data in (("random bytes", os.urandom(4096)), ("truncated PNG", png[: len(png) // 2]),
                           ("PNG bomb", png_bomb())):
            with self.subTest(name):
                self.clipboard.xclip("image/png", data)
        self.clipboard.xclip("image/png", png)
        records = self.wait_for_records(nimbrel, 1)
        self.assertEqual([(r["kind"], r["imageWidth"], r["imageHeight"]) for r in records], [("image", 2, 2)])
        self.assertLess(peak_memory_kib(nimbrel.process.pid), 300 * 1024)

    def test_termination_does_not_wait_for_a_hung_owner(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.clipboard.xclip("text/plain", "committed before the end")
        self.wait_for_records(nimbrel, 1)
        self.owner("frozen", ("UTF8_STRING", "never handed over"))
        time.sleep(0.2)  # the read is under way
        started = time.monotonic()
        self.assertEqual(nimbrel.terminate(signal.SIGTERM, timeout=5), 0)
        self.assertLess(time.monotonic() - started, 2.0)
        self.assertEqual(self.texts(), ["committed before the end"])


class StorePath(E2ETestCase):
    """Only a regular file is ever used as the store; anything else is left exactly as it is."""

    def test_a_link_or_a_pipe_at_the_store_path_is_left_untouched(self):
        for kind in ("symlink", "fifo"):
            with self.subTest(kind):
                os.makedirs(self.home.data_dir, exist_ok=True)
                target = os.path.join(self.home.path, f"elsewhere-{kind}")
                if kind == "symlink":
                    open(target, "wb").close()
                    os.chmod(target, 0o644)
                    os.symlink(target, self.home.store)
                else:
                    os.mkfifo(self.home.store)
                nimbrel = self.start()
                nimbrel.wait_for_line("using in-memory store", timeout=15)
                nimbrel.wait_ready()
                self.assertEqual(nimbrel.terminate(), 0)
                if kind == "symlink":
                    self.assertEqual((os.path.getsize(target), stat.S_IMODE(os.stat(target).st_mode)), (0, 0o644))
                    self.assertTrue(os.path.islink(self.home.store))
                else:
                    self.assertTrue(stat.S_ISFIFO(os.lstat(self.home.store).st_mode))
                status, _ = run_once(self.home, "--history", timeout=10)
                self.assertEqual(status, 1)
                os.remove(self.home.store)
