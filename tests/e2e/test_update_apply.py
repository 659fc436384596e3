"""The apply-update helper waits for the old process, swaps the folders with a way back, records the
outcome in apply.json, and the next normal start consumes the record."""

import json
import os
import resource
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from harness import BINARY, E2ETestCase, compiled_build, executable_of, stop_processes

BUILD_DIR = os.path.dirname(os.path.dirname(os.path.abspath(BINARY)))
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIGN_TOOL = os.path.join(BUILD_DIR, "tools", "nimbrel-sign")
TEST_KEY = os.path.join(SOURCE_DIR, "tests", "keys", "TEST-ONLY-update-signing-key.pem")
PACKAGE = os.path.join(SOURCE_DIR, "scripts", "package")
# Started applications must not reach out to the real update and report hosts.
QUIET_NETWORK = {"NIMBREL_FEED_URL": "http://127.0.0.1:9/appcast.json",
                 "NIMBREL_REPORT_URL": "http://127.0.0.1:9/launch"}


def write(path, data, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
    os.chmod(path, mode)


def tree(root):
    """Everything below root (kind, mode, content or link text), for "nothing was touched"."""
    entries = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            key = os.path.relpath(path, root)
            if os.path.islink(path):
                entries[key] = ("link", os.readlink(path))
            elif os.path.isdir(path):
                entries[key] = ("folder", oct(info.st_mode & 0o7777))
            else:
                with open(path, "rb") as f:
                    entries[key] = ("file", oct(info.st_mode & 0o7777), f.read())
    return entries


def other_device_folder(near):
    """A fresh folder on another file system than `near` (moves there cannot be renames), or None."""
    try:
        if os.stat("/dev/shm").st_dev == os.stat(near).st_dev or not os.access("/dev/shm", os.W_OK):
            return None
    except OSError:
        return None
    return tempfile.mkdtemp(prefix="nimbrel-e2e-", dir="/dev/shm")


class ApplyUpdate(E2ETestCase):
    def setUp(self):
        super().setUp()
        self.target = os.path.join(self.home.path, "Applications", "Nimbrel.app")
        self.update_dir = os.path.join(self.home.data_dir, "Update")
        self.record_path = os.path.join(self.update_dir, "apply.json")
        self.marker = os.path.join(self.home.path, "new-program-started")
        self.make_install_folder(self.target, "old", sign=False)

    def make_install_folder(self, path, flavour, sign=True, extra=None):
        # The program notes that it was started, so the test sees the launcher work.
        write(os.path.join(path, "bin", "nimbrel"),
              f"#!/bin/sh\necho {flavour} > '{self.marker}'\n", 0o755)
        write(os.path.join(path, "share", "readme"), f"{flavour} folder\n", 0o444)
        os.makedirs(os.path.join(path, "lib"), exist_ok=True)
        write(os.path.join(path, "lib", "libx.so.1"), f"{flavour} library")
        os.symlink("libx.so.1", os.path.join(path, "lib", "libx.so"))
        for name, data in (extra or {}).items():
            write(os.path.join(path, name), data)
        if sign:
            subprocess.run([SIGN_TOOL, "--key", TEST_KEY, "--build", "2", path], check=True, capture_output=True,
                           timeout=30)
        return path

    def apply(self, *arguments, preexec_fn=None, timeout=60):
        return subprocess.run([BINARY, "--apply-update", *arguments], env=self.home.env(**QUIET_NETWORK),
                              capture_output=True, text=True, timeout=timeout, stdin=subprocess.DEVNULL,
                              preexec_fn=preexec_fn)

    def record(self):
        with open(self.record_path, encoding="utf-8") as f:
            return json.load(f)

    def sleeper(self):
        process = subprocess.Popen(["sleep", "60"])
        self.addCleanup(lambda: (process.kill(), process.wait()))
        return process

    def wait_for(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        while not predicate():
            if time.monotonic() > deadline:
                self.fail(f"timed out waiting for {what}")
            time.sleep(0.05)

    def test_waits_for_the_old_process_swaps_and_the_next_start_consumes_the_record(self):
        staged = self.make_install_folder(os.path.join(self.update_dir, "Nimbrel.app"), "new")
        new_tree = tree(staged)
        old = self.sleeper()
        helper = subprocess.Popen([BINARY, "--apply-update", "--pid", str(old.pid), "--target", self.target,
                                   "--staged", staged], env=self.home.env(**QUIET_NETWORK),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        self.addCleanup(lambda: helper.poll() is None and helper.kill())

        time.sleep(1.0)
        self.assertIsNone(helper.poll(), "the helper must wait while the old process runs")
        self.assertEqual(tree(self.target)["bin/nimbrel"][2], f"#!/bin/sh\necho old > '{self.marker}'\n".encode())
        self.assertFalse(os.path.exists(self.target + ".bak"))

        old.kill()
        self.assertEqual(helper.wait(timeout=20), 0)
        self.assertEqual(tree(self.target), new_tree)
        self.assertFalse(os.path.exists(staged))
        self.assertFalse(os.path.exists(self.target + ".bak"))
        record = self.record()
        self.assertEqual(record["result"], "success")
        self.assertNotIn("note", record)
        # Seconds since 2001-01-01 UTC: now, give or take a minute.
        self.assertAlmostEqual(record["timestamp"], time.time() - 978307200, delta=60)
        self.wait_for(lambda: os.path.exists(self.marker), 10, "the new program to be started")
        with open(self.marker, encoding="utf-8") as f:
            self.assertEqual(f.read().strip(), "new")

        nimbrel = self.start(**QUIET_NETWORK)
        nimbrel.wait_ready()
        self.wait_for(lambda: not os.path.exists(self.record_path), 10, "the record to be consumed")
        self.assertEqual(nimbrel.lines, [], "a success is consumed silently")
        self.assertEqual(nimbrel.terminate(), 0)

    def test_failed_copy_restores_the_backup_and_records_install_failed(self):
        remote = other_device_folder(self.home.path)
        if not remote:
            self.skipTest("no second file system for a move that must be copied")
        self.addCleanup(shutil.rmtree, remote, True)
        staged = self.make_install_folder(os.path.join(remote, "Nimbrel.app"), "new", extra={"share/big": b"x" * 262144})
        old_tree, staged_tree = tree(self.target), tree(staged)

        def small_files():
            # The copy fails writing the 256 KiB file (EFBIG, the signal being ignored); the helper's own
            # record is far smaller.
            resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        done = self.apply("--pid", "0", "--target", self.target, "--staged", staged, preexec_fn=small_files)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(tree(self.target), old_tree, "the backup is back in place")
        self.assertFalse(os.path.exists(self.target + ".bak"))
        self.assertEqual(tree(staged), staged_tree)
        self.assertEqual({k: v for k, v in self.record().items() if k != "timestamp"},
                         {"result": "replaceFailed", "note": "installFailed"})
        self.assertFalse(os.path.exists(self.marker), "nothing is started after a failure")

        # The next start consumes the failure record too (and reports it in the system log).
        nimbrel = self.start(**QUIET_NETWORK)
        nimbrel.wait_ready()
        self.wait_for(lambda: not os.path.exists(self.record_path), 10, "the record to be consumed")
        self.assertEqual(nimbrel.terminate(), 0)

    def test_copy_across_file_systems_installs(self):
        remote = other_device_folder(self.home.path)
        if not remote:
            self.skipTest("no second file system for a move that must be copied")
        self.addCleanup(shutil.rmtree, remote, True)
        staged = self.make_install_folder(os.path.join(remote, "Nimbrel.app"), "new")
        new_tree = tree(staged)
        done = self.apply("--pid", "0", "--target", self.target, "--staged", staged)
        self.assertEqual(done.returncode, 0)
        self.assertEqual(tree(self.target), new_tree)
        self.assertFalse(os.path.exists(staged))
        self.assertEqual(self.record()["result"], "success")

    def test_tampered_folder_is_refused_and_nothing_changes(self):
        staged = self.make_install_folder(os.path.join(self.update_dir, "Nimbrel.app"), "new")
        write(os.path.join(staged, "bin", "nimbrel"), "#!/bin/sh\necho evil\n", 0o755)
        old_tree, staged_tree = tree(self.target), tree(staged)
        done = self.apply("--pid", "0", "--target", self.target, "--staged", staged)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(tree(self.target), old_tree)
        self.assertEqual(tree(staged), staged_tree)
        record = self.record()
        self.assertEqual((record["result"], record["note"]), ("signatureInvalid", staged))

    def test_missing_location_records_a_failure_without_waiting_or_touching_anything(self):
        staged = self.make_install_folder(os.path.join(self.update_dir, "Nimbrel.app"), "new")
        old_tree, staged_tree = tree(self.target), tree(staged)
        running = self.sleeper()
        started = time.monotonic()
        done = self.apply("--pid", str(running.pid), "--target", self.target, "--staged")
        self.assertEqual(done.returncode, 1)
        self.assertLess(time.monotonic() - started, 10, "no thirty-second wait without both locations")
        self.assertEqual(tree(self.target), old_tree)
        self.assertEqual(tree(staged), staged_tree)
        self.assertEqual({k: v for k, v in self.record().items() if k != "timestamp"},
                         {"result": "missingOptions", "note": "--staged"})

    def test_packaging_refuses_a_build_number_the_program_was_not_compiled_as(self):
        out = os.path.join(self.home.path, "release")
        compiled = compiled_build(BINARY)
        packaged = subprocess.run([PACKAGE, "--build-dir", BUILD_DIR, "--key", TEST_KEY, "--url-base",
                                   "https://updates.example.org/releases", "--output", out,
                                   "--build-number", str(compiled + 1)], capture_output=True, text=True, timeout=120)
        self.assertEqual(packaged.returncode, 1)
        self.assertIn(f"is not the build {os.path.abspath(BINARY)} was compiled as ({compiled})", packaged.stderr)
        self.assertFalse(os.path.exists(out), "nothing is written")

    def test_packaged_release_installs_and_starts(self):
        out = os.path.join(self.home.path, "release")
        packaged = subprocess.run([PACKAGE, "--build-dir", BUILD_DIR, "--key", TEST_KEY, "--url-base",
                                   "https://updates.example.org/releases", "--output", out],
                                  capture_output=True, text=True, timeout=120)
        if packaged.returncode != 0 and "does not verify with this build's update key" in packaged.stderr:
            self.skipTest("this build verifies against a release key, not the test key")
        self.assertEqual(packaged.returncode, 0, packaged.stderr)
        with open(os.path.join(out, "appcast.json"), encoding="utf-8") as f:
            feed = json.load(f)
        self.assertIsInstance(feed["build"], int)
        self.assertIsInstance(feed["version"], str)
        self.assertIsInstance(feed["minimumSystemVersion"], str)
        package = os.path.join(out, os.path.basename(feed["url"]))
        self.assertTrue(feed["url"].startswith("https://updates.example.org/releases/Nimbrel-"))

        # Install it as the running version and unpack it once more as the staged copy, on another file
        # system where there is one, so the swap has to copy.
        shutil.rmtree(self.target)
        subprocess.run(["tar", "-xzf", package, "-C", os.path.dirname(self.target)], check=True, timeout=120)
        for part in ("bin/nimbrel", "share/nimbrel/translations/nimbrel_en.qm", "_signature/manifest"):
            self.assertTrue(os.path.exists(os.path.join(self.target, part)), part)
        self.assertFalse(os.path.exists(os.path.join(self.target, "libexec")), "no helper programs any more")
        remote = other_device_folder(self.home.path)
        if remote:
            self.addCleanup(shutil.rmtree, remote, True)
        staged_parent = remote or self.update_dir
        os.makedirs(staged_parent, exist_ok=True)
        subprocess.run(["tar", "-xzf", package, "-C", staged_parent], check=True, timeout=120)
        staged = os.path.join(staged_parent, "Nimbrel.app")

        # The installed program runs its own helper, as the relaunch does.
        installed = os.path.join(self.target, "bin", "nimbrel")
        done = subprocess.run([installed, "--apply-update", "--pid", "0", "--target", self.target, "--staged",
                               staged], env=self.home.env(**QUIET_NETWORK), capture_output=True, text=True,
                              timeout=60, stdin=subprocess.DEVNULL)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertFalse(os.path.exists(staged))
        self.assertFalse(os.path.exists(self.target + ".bak"))

        # The launcher started the installed program; being the next start, it consumes the record.
        program = os.path.realpath(installed)
        pids = []

        def started():
            pids[:] = [int(p) for p in os.listdir("/proc") if p.isdigit() and executable_of(p) == program]
            return bool(pids)

        self.wait_for(started, 15, "the installed program to run")
        self.addCleanup(stop_processes, pids)
        self.wait_for(lambda: not os.path.exists(self.record_path), 15, "the record to be consumed")


if __name__ == "__main__":
    unittest.main()
