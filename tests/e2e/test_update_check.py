"""A running Nimbrel in its application folder finds a newer signed release on its feed, downloads,
verifies and stages it, reports its first launch once, and swaps in the staged release when the user
presses the settings window's restart button. A hostile package writes nothing anywhere. A package that
turns the launch report and the update check off keeps every request in, and a report declined so is
not sent by a later start."""

import gzip
import http.server
import json
import os
import subprocess
import threading
import time
import unittest

from harness import BINARY, E2ETestCase, compiled_build, executable_of, nimbrel_windows, run_once, stop_processes, x11

BUILD_DIR = os.path.dirname(os.path.dirname(os.path.abspath(BINARY)))
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TEST_KEY = os.path.join(SOURCE_DIR, "tests", "keys", "TEST-ONLY-update-signing-key.pem")
PACKAGE = os.path.join(SOURCE_DIR, "scripts", "package")
SIGN_TOOL = os.path.join(BUILD_DIR, "tools", "nimbrel-sign")
# This program compiled as the next build: the newer release.
NEXT_BUILD = os.environ.get("NIMBREL_NEXT_BUILD", "nimbrel-next-build")


def tar_header(name, size, typeflag=b"0", mode=0o644):
    header = bytearray(512)
    header[0:len(name)] = name
    header[100:108] = b"%07o\0" % mode
    header[108:124] = b"0000000\0" * 2
    header[124:136] = b"%011o\0" % size
    header[136:148] = b"%011o\0" % 0
    header[148:156] = b" " * 8
    header[156:157] = typeflag
    header[257:265] = b"ustar\x0000"
    header[148:156] = b"%06o\0 " % sum(header)
    return bytes(header)


def padded(data):
    return data + b"\0" * ((512 - len(data) % 512) % 512)


def hostile_package(folder):
    """The escape once reproduced with the first reader: a pax path whose ".." components carry a NUL,
    climbing from wherever the package is unpacked to an absolute folder."""
    path = b"..\0/" * 12 + folder.encode().lstrip(b"/") + b"/escaped.txt"
    body = b"path=" + path
    length = len(body) + 3
    while len(str(length)) + len(body) + 2 != length:
        length += 1
    record = str(length).encode() + b" " + body + b"\n"
    archive = (tar_header(b"PaxHeader/escaped", len(record), b"x") + padded(record) +
               tar_header(b"escaped.txt", 8) + padded(b"escaped\n") + b"\0" * 1024)
    return gzip.compress(archive)


class Host(http.server.ThreadingHTTPServer):
    """The update and report hosts on loopback: files from one folder, and launch reports answered 204."""

    def __init__(self, folder):
        self.folder = folder
        self.reports = []
        self.fetched = []
        super().__init__(("127.0.0.1", 0), Handler)

    def handle_error(self, request, client_address):
        pass  # a client that hangs up early (the download's size check) is not a test failure

    @property
    def base(self):
        return f"http://127.0.0.1:{self.server_address[1]}"


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        # The server is the third argument; BaseRequestHandler sets self.server only while handling.
        super().__init__(*args, directory=args[2].folder, **kwargs)

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
    def package(self, program, url_base, out):
        done = subprocess.run([PACKAGE, "--build-dir", BUILD_DIR, "--key", TEST_KEY, "--url-base", url_base,
                               "--program", program, "--output", out], capture_output=True, text=True, timeout=180)
        if done.returncode != 0 and "does not verify with this build's update key" in done.stderr:
            self.skipTest("this build verifies against a release key, not the test key")
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(out, "appcast.json"), encoding="utf-8") as f:
            return json.load(f)

    def serve(self):
        """A feed and report server on a folder of its own, for the length of the test; (server, folder)."""
        served = os.path.join(self.home.path, "served")
        os.makedirs(served, exist_ok=True)
        host = Host(served)
        threading.Thread(target=host.serve_forever, daemon=True).start()
        self.addCleanup(host.shutdown)
        return host, served

    def install_running_release(self, host):
        """This build, installed as an application folder the updater may replace; its program."""
        running = self.package(BINARY, host.base, os.path.join(self.home.path, "v1"))
        applications = os.path.join(self.home.path, "Applications")
        os.makedirs(applications)
        package = os.path.join(self.home.path, "v1", os.path.basename(running["url"]))
        subprocess.run(["tar", "-xzf", package, "-C", applications], check=True, timeout=120)
        return os.path.join(applications, "Nimbrel.app", "bin", "nimbrel")

    def test_a_hostile_package_writes_nothing_and_stages_nothing(self):
        host, served = self.serve()
        program = self.install_running_release(host)

        # Signed with the key this build trusts, as a compromised release machine could: the reader itself
        # must refuse it.
        outside = os.path.join(self.home.path, "outside")
        os.makedirs(outside)
        with open(os.path.join(served, "hostile.tar.gz"), "wb") as f:
            f.write(hostile_package(outside))
        signed = subprocess.run([SIGN_TOOL, "--key", TEST_KEY, "--package", os.path.join(served, "hostile.tar.gz")],
                                capture_output=True, text=True, timeout=30, check=True)
        feed = {"version": "2.0", "build": 2, "url": host.base + "/hostile.tar.gz", **json.loads(signed.stdout)}
        with open(os.path.join(served, "appcast.json"), "w", encoding="utf-8") as f:
            json.dump(feed, f)

        temporary = os.path.join(self.home.path, "tmp")
        os.makedirs(temporary)
        nimbrel = self.start(program=program, TMPDIR=temporary, NIMBREL_FEED_URL=host.base + "/appcast.json",
                             NIMBREL_REPORT_URL=host.base + "/api/launch")
        # The download lands in TMPDIR and is removed once staging gave up on it.
        nimbrel.wait_until(lambda: "/hostile.tar.gz" in host.fetched and not os.listdir(temporary), 60,
                           "the hostile package to be downloaded and dropped")
        self.assertEqual(os.listdir(outside), [])
        update = os.path.join(self.home.data_dir, "Update")
        self.assertEqual(os.listdir(update) if os.path.isdir(update) else [], [], "nothing staged, nothing left")
        self.assertEqual(nimbrel.terminate(), 0)

    def test_a_newer_release_is_staged_and_the_launch_is_reported_once(self):
        host, served = self.serve()

        program = self.install_running_release(host)
        applications = os.path.dirname(os.path.dirname(os.path.dirname(program)))
        newer = self.package(NEXT_BUILD, host.base, served)
        self.assertEqual(newer["build"], compiled_build(program) + 1)

        env = {"NIMBREL_FEED_URL": host.base + "/appcast.json", "NIMBREL_REPORT_URL": host.base + "/api/launch"}
        nimbrel = self.start(program=program, **env)

        staged = os.path.join(self.home.data_dir, "Update", "Nimbrel.app")
        manifest = os.path.join(staged, "_signature", "manifest")
        nimbrel.wait_until(lambda: os.path.exists(manifest) and os.path.exists(os.path.join(staged, "bin", "nimbrel")),
                           60, "the newer release to be staged")
        with open(manifest, encoding="utf-8") as f:
            self.assertEqual(json.load(f)["build"], newer["build"])

        nimbrel.wait_until(lambda: self.home.read_defaults().get("Nimbrel.didReportLaunch") is True, 30,
                           "the launch report to be accepted")
        self.assertEqual(len(host.reports), 1)
        path, body = host.reports[0]
        self.assertEqual(path, "/api/launch")
        self.assertEqual(body["install_id"], self.home.read_defaults()["Nimbrel.installID"])

        # The settings window now offers the restart. Pressing it hands over to the apply helper: this
        # process ends, the staged release replaces the installed one and starts.
        opened = subprocess.run([program, "--settings"], env=self.home.env(**env), capture_output=True, timeout=15,
                                stdin=subprocess.DEVNULL)
        self.assertEqual(opened.returncode, 0)
        window = []

        def settings_shown():
            found = x11("xdotool", "search", "--onlyvisible", "--name", "^Nimbrel Settings$", check=False)
            window[:] = found.stdout.split()
            return bool(window)

        nimbrel.wait_until(settings_shown, 15, "the settings window")
        # The button sits at the trailing end of the header, under the window's menu bar; it fades in.
        time.sleep(0.6)
        x11("xdotool", "mousemove", "--window", window[0], "460", "50", "click", "1")
        self.assertEqual(nimbrel.process.wait(20), 0)

        installed = os.path.join(applications, "Nimbrel.app", "_signature", "manifest")
        nimbrel.wait_until(lambda: not os.path.exists(staged), 30, "the staged release to be swapped in")
        with open(installed, encoding="utf-8") as f:
            self.assertEqual(json.load(f)["build"], newer["build"])
        # The program that now runs is that build, so the same feed offers it nothing more.
        self.assertEqual(compiled_build(program), newer["build"])
        executable = os.path.realpath(program)
        relaunched = []

        def running():
            relaunched[:] = [int(p) for p in os.listdir("/proc") if p.isdigit() and executable_of(p) == executable]
            return bool(relaunched)

        nimbrel.wait_until(running, 15, "the new release to start")
        self.addCleanup(stop_processes, relaunched)
        # Being the next start, it consumes the outcome record, and sends no second launch report.
        record = os.path.join(self.home.data_dir, "Update", "apply.json")
        nimbrel.wait_until(lambda: not os.path.exists(record), 15, "the apply record to be consumed")
        time.sleep(1)
        self.assertEqual(len(host.reports), 1)

    def test_the_package_switches_keep_every_request_in_and_a_declined_report_stays_unsent(self):
        host, served = self.serve()
        addresses = {"NIMBREL_FEED_URL": host.base + "/appcast.json", "NIMBREL_REPORT_URL": host.base + "/api/launch"}

        nimbrel = self.start(NIMBREL_NO_LAUNCH_REPORT="1", NIMBREL_NO_UPDATE_CHECK="1", **addresses)
        nimbrel.wait_for_line("[Nimbrel] NIMBREL_NO_LAUNCH_REPORT is set: no launch report is sent")
        nimbrel.wait_for_line("[Nimbrel] NIMBREL_NO_UPDATE_CHECK is set: no update check is made")
        nimbrel.wait_until(lambda: os.path.exists(self.home.defaults_file) and
                           self.home.read_defaults().get("Nimbrel.didDeclineLaunchReport") is True, 15,
                           "the launch report to be declined")
        # The launch sequence is over once the panel answers: both requests would have left by then.
        nimbrel.wait_ready()
        self.assertEqual(run_once(self.home, "--toggle", **addresses)[0], 0)
        nimbrel.wait_until(lambda: nimbrel_windows(), 15, "the panel")
        self.assertEqual(host.fetched, [])
        self.assertEqual(host.reports, [])
        self.assertNotIn("Nimbrel.installID", self.home.read_defaults())
        self.assertEqual(nimbrel.terminate(), 0)

        # Started again without them, the update check asks the feed; the declined report stays unsent.
        nimbrel = self.start(**addresses)
        nimbrel.wait_until(lambda: "/appcast.json" in host.fetched, 30, "the update check")
        nimbrel.wait_ready()
        self.assertEqual(run_once(self.home, "--toggle", **addresses)[0], 0)
        nimbrel.wait_until(lambda: nimbrel_windows(), 15, "the panel")
        self.assertEqual(host.reports, [])
        self.assertNotIn("Nimbrel.didReportLaunch", self.home.read_defaults())
        self.assertEqual(nimbrel.terminate(), 0)


if __name__ == "__main__":
    unittest.main()
