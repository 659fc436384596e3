"""A running Nimbrel in its application folder finds a newer signed release on its feed, stages it,
reports its first launch once, and swaps in the staged release when the user presses the settings
window's restart button; and packaging refuses a build number the program was not compiled as."""

import http.server
import json
import os
import subprocess
import threading
import unittest

from harness import BINARY, E2ETestCase, compiled_build, executable_of, stop_processes, x11

BUILD_DIR = os.path.dirname(os.path.dirname(os.path.abspath(BINARY)))
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TEST_KEY = os.path.join(SOURCE_DIR, "tests", "keys", "TEST-ONLY-update-signing-key.pem")
PACKAGE = os.path.join(SOURCE_DIR, "scripts", "package")
# This program compiled as the next build: the newer release.
NEXT_BUILD = os.environ.get("NIMBREL_NEXT_BUILD", "nimbrel-next-build")


class Handler(http.server.SimpleHTTPRequestHandler):
    """The update and report hosts on loopback: files from the server's folder, launch reports answered 204."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=args[2].folder, **kwargs)  # args[2]: the server

    def do_GET(self):
        self.server.fetched.append(self.path)
        super().do_GET()

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        self.server.reports.append((self.path, json.loads(body)))
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


class UpdateCheck(E2ETestCase):
    def serve(self):
        """A feed and report server on a folder of its own, for the length of the test."""
        host = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        host.folder, host.reports, host.fetched = os.path.join(self.home.path, "served"), [], []
        host.handle_error = lambda *args: None  # a client that hangs up early is not a test failure
        host.base = f"http://127.0.0.1:{host.server_address[1]}"
        os.makedirs(host.folder)
        threading.Thread(target=host.serve_forever, daemon=True).start()
        self.addCleanup(host.server_close)
        self.addCleanup(host.shutdown)
        return host

    def package(self, program, url_base, out):
        done = subprocess.run([PACKAGE, "--build-dir", BUILD_DIR, "--key", TEST_KEY, "--url-base", url_base,
                               "--program", program, "--output", out], capture_output=True, text=True, timeout=180)
        if done.returncode != 0 and "does not verify with this build's update key" in done.stderr:
            self.skipTest("this build verifies against a release key, not the test key")
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(out, "appcast.json"), encoding="utf-8") as f:
            feed = json.load(f)
        self.assertEqual([type(feed[k]) for k in ("version", "build", "minimumSystemVersion")], [str, int, str])
        return feed

    def test_a_newer_release_is_staged_the_launch_reported_once_and_the_restart_swaps_it_in(self):
        host = self.serve()
        # This build, installed as an application folder the updater may replace.
        running = self.package(BINARY, host.base, os.path.join(self.home.path, "v1"))
        applications = os.path.join(self.home.path, "Applications")
        os.makedirs(applications)
        subprocess.run(["tar", "-xzf", os.path.join(self.home.path, "v1", os.path.basename(running["url"])), "-C",
                        applications], check=True, timeout=120)
        target = os.path.join(applications, "Nimbrel.app")
        for part in ("bin/nimbrel", "share/nimbrel/translations/nimbrel_en.qm", "_signature/manifest"):
            self.assertTrue(os.path.exists(os.path.join(target, part)), part)
        self.assertFalse(os.path.exists(os.path.join(target, "libexec")), "no helper programs")
        program = os.path.join(target, "bin", "nimbrel")
        newer = self.package(NEXT_BUILD, host.base, host.folder)
        self.assertEqual(newer["build"], compiled_build(program) + 1)
        env = {"NIMBREL_FEED_URL": host.base + "/appcast.json", "NIMBREL_REPORT_URL": host.base + "/api/launch"}
        temporary = os.path.join(self.home.path, "tmp")
        os.makedirs(temporary)
        nimbrel = self.start(program=program, TMPDIR=temporary, **env)
        # Staging is over when the program has deleted the package it downloaded (into TMPDIR, before it
        # asked for it) and left nothing but the folder, moved into place in one rename.
        update = os.path.join(self.home.data_dir, "Update")
        staged = os.path.join(update, "Nimbrel.app")
        nimbrel.wait_until(lambda: any(p.endswith(".tar.gz") for p in host.fetched) and not os.listdir(temporary)
                           and os.path.isdir(update) and os.listdir(update) == ["Nimbrel.app"], 60,
                           "the newer release to be staged")
        with open(os.path.join(staged, "_signature", "manifest"), encoding="utf-8") as f:
            self.assertEqual(json.load(f)["build"], newer["build"])
        nimbrel.wait_until(lambda: self.home.read_defaults().get("Nimbrel.didReportLaunch") is True, 30,
                           "the launch report to be accepted")
        self.assertEqual([path for path, _ in host.reports], ["/api/launch"])
        self.assertEqual(host.reports[0][1]["install_id"], self.home.read_defaults()["Nimbrel.installID"])
        # The settings window offers the restart once the program counts the release as ready; pressing it
        # hands over to the apply helper and this process ends. Until the button shows, a click lands on the
        # empty header.
        self.assertEqual(subprocess.run([program, "--settings"], env=self.home.env(**env), capture_output=True,
                                        timeout=15, stdin=subprocess.DEVNULL).returncode, 0)
        window = nimbrel.wait_until(lambda: x11("xdotool", "search", "--onlyvisible", "--name", "^Nimbrel Settings$",
                                                check=False).stdout.split(), 15, "the settings window")

        def handed_over():
            x11("xdotool", "mousemove", "--window", window[0], "460", "50", "click", "1", check=False)
            try:
                return nimbrel.process.wait(0.5) is not None
            except subprocess.TimeoutExpired:
                return False
        nimbrel.wait_until(handed_over, 20, "the restart button to hand over to the apply helper")
        self.assertEqual(nimbrel.process.returncode, 0)
        # The helper removes the backup last, once the new release is in place; then it starts it.
        nimbrel.wait_until(lambda: not os.path.exists(staged) and not os.path.exists(target + ".bak"), 30,
                           "the staged release to be swapped in")
        with open(os.path.join(target, "_signature", "manifest"), encoding="utf-8") as f:
            self.assertEqual(json.load(f)["build"], newer["build"])
        self.assertEqual(compiled_build(program), newer["build"])
        executable = os.path.realpath(program)
        relaunched = nimbrel.wait_until(lambda: [int(p) for p in os.listdir("/proc")
                                                 if p.isdigit() and executable_of(p) == executable], 15,
                                        "the new release to start")
        self.addCleanup(stop_processes, relaunched)
        # Being the next start, it consumes the outcome record and then asks the feed, after it decided on
        # the launch report: no second report is sent.
        nimbrel.wait_until(lambda: not os.path.exists(os.path.join(update, "apply.json"))
                           and host.fetched.count("/appcast.json") >= 2, 15, "the new release's launch sequence")
        self.assertEqual(len(host.reports), 1)

    def test_packaging_refuses_a_build_number_the_program_was_not_compiled_as(self):
        out = os.path.join(self.home.path, "release")
        compiled = compiled_build(BINARY)
        packaged = subprocess.run([PACKAGE, "--build-dir", BUILD_DIR, "--key", TEST_KEY, "--url-base",
                                   "https://updates.example.org/releases", "--output", out,
                                   "--build-number", str(compiled + 1)], capture_output=True, text=True, timeout=120)
        self.assertEqual(packaged.returncode, 1)
        self.assertIn(f"is not the build {os.path.abspath(BINARY)} was compiled as ({compiled})", packaged.stderr)
        self.assertFalse(os.path.exists(out), "nothing is written")


if __name__ == "__main__":
    unittest.main()
