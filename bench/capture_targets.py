#!/usr/bin/env python3
"""Capture figures of the real program, measured from outside on a private Xvfb + openbox desktop with a
temporary HOME for every scenario: what a frozen clipboard owner costs the panel and the next copy, rapid
copies, an oversized copy, peak memory, a large photo, termination with a hung owner, and kill -9 during
ingest. With --baseline, an older build is measured the same way in the same run and shown beside it.

    bench/capture_targets.py [--binary build/bin/nimbrel] [--baseline OLD_BINARY] [--kill-runs 100]

Needs the test tools: nimbrel-owner (built beside the binary, or --owner), xclip, xdotool, xwininfo,
ImageMagick's convert. Every wait is capped (--cap seconds); a figure past it prints as ">N s"."""

import argparse
import atexit
import json
import os
import random
import signal
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import uuid

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VIRTUAL_DISPLAY = os.path.join(ROOT, "scripts", "virtual-display")
MB = 1024 * 1024


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "bin", "nimbrel"))
    parser.add_argument("--baseline", help="an older nimbrel, measured the same way")
    parser.add_argument("--owner", default=os.path.join(ROOT, "build", "tests", "e2e", "nimbrel-owner"))
    parser.add_argument("--kill-runs", type=int, default=100, help="kill -9 runs (0 leaves them out)")
    parser.add_argument("--cap", type=float, default=20.0, help="the longest any one wait lasts, in seconds")
    parser.add_argument("--only", help="comma-separated scenario names, to run a few of them")
    return parser.parse_args()


ARGS = parse_arguments()

# The private desktop comes first: the test helpers read its display when imported.
_state_dir = tempfile.mkdtemp(prefix="nimbrel-capture-")
STATE = os.path.join(_state_dir, "display.env")


def _display_of_state():
    try:
        with open(STATE, encoding="utf-8") as f:
            return next((line.strip().split("=", 1)[1] for line in f if line.startswith("DISPLAY=")), None)
    except OSError:
        return None


def our_processes(display):
    """Processes that carry this run's private display (xclip servers, owners, nimbrel, the window
    manager), by id."""
    mine = []
    wanted = f"DISPLAY={display}".encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                if wanted in f.read().split(b"\0"):
                    mine.append(int(entry))
        except OSError:
            pass
    return mine


def cleanup():
    display = _display_of_state()
    if display:
        pids = our_processes(display)
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    subprocess.run([VIRTUAL_DISPLAY, "stop", STATE], timeout=30, check=False)
    subprocess.run(["rm", "-rf", _state_dir], check=False)


atexit.register(cleanup)
# SIGTERM and SIGHUP end the run through the same cleanup as its normal end.
for _sig in (signal.SIGTERM, signal.SIGHUP):
    signal.signal(_sig, lambda *_: sys.exit(1))
subprocess.run([VIRTUAL_DISPLAY, "start", STATE], check=True, timeout=60)
os.environ["NIMBREL_DISPLAY_STATE"] = STATE
os.environ["NIMBREL_OWNER"] = ARGS.owner
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import harness  # noqa: E402
from harness import Home, Nimbrel, nimbrel_windows  # noqa: E402
from test_capture import Owner, peak_memory_kib, png_bomb  # noqa: E402

DISPLAY = harness.DISPLAY
CAP = ARGS.cap


class Timeout(Exception):
    pass


def wait_for(predicate, cap=None, interval=0.02):
    """Seconds until the predicate held; Timeout past the cap."""
    cap = CAP if cap is None else cap
    started = time.monotonic()
    while True:
        if predicate():
            return time.monotonic() - started
        if time.monotonic() - started > cap:
            raise Timeout()
        time.sleep(interval)


class Session:
    """Everything one scenario starts for one binary, ended by close() whatever happened."""

    def __init__(self, binary, defaults=None):
        self.binary = binary
        self.home = Home()
        if defaults:
            self.home.write_defaults(defaults)
        self.processes = []
        self.owners = []
        self.helpers = []
        self.files = 0

    def start(self):
        nimbrel = Nimbrel(self.home, program=self.binary)
        self.processes.append(nimbrel)
        nimbrel.wait_ready(timeout=CAP)
        return nimbrel

    def file(self, data):
        self.files += 1
        path = os.path.join(self.home.path, f"copy-{self.files}")
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return path

    def xclip(self, mime, data=None, path=None):
        """Copies as another application would; returns once xclip has taken the clipboard (it then serves
        the data from a process of its own until another owner takes over)."""
        subprocess.run(["xclip", "-selection", "clipboard", "-t", mime, "-i", path or self.file(data)],
                       env=dict(os.environ, DISPLAY=DISPLAY), check=True, timeout=CAP + 60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def owner(self, mode, *representations):
        owner = Owner(self.home.path, mode, *representations)
        self.owners.append(owner)
        return owner

    def spawn(self, *args):
        """Another nimbrel command (such as --toggle) that is not waited for."""
        process = subprocess.Popen([self.binary, *args], env=self.home.env(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.helpers.append(process)
        return process

    def history(self, limit=1000, plain=False):
        """The records, newest first, as `nimbrel --history --json` prints them ([] while there is no store)."""
        args = [self.binary, "--history", "--limit", str(limit)] + ([] if plain else ["--json"])
        done = subprocess.run(args, env=self.home.env(), capture_output=True, text=True, timeout=CAP + 60,
                              stdin=subprocess.DEVNULL)
        if done.returncode != 0:
            return []
        return done.stdout.splitlines() if plain else json.loads(done.stdout)

    def texts(self, limit=1000):
        return [r.get("text") for r in reversed(self.history(limit))]

    def newest_text(self):
        records = self.history(1)
        return records[0].get("text") if records else None

    def wait_recorded(self, text, cap=None):
        return wait_for(lambda: self.newest_text() == text, cap, interval=0.01)

    def close(self):
        for process in self.helpers:
            if process.poll() is None:
                process.kill()
                process.wait(5)
        for nimbrel in self.processes:
            nimbrel.stop()
        for owner in self.owners:
            owner.close()
        self.home.remove()


def panels():
    """Nimbrel's panels on screen; the tray icon, a window of the same class, is far smaller. None when the
    window tree could not be read (a window went away while it was listed): ask again."""
    try:
        return [w for w in nimbrel_windows() if w[1] >= 300 and w[2] >= 200]
    except subprocess.CalledProcessError:
        return None


def seconds(value):
    return f"{value:.2f} s"


def ms(value):
    return f"{value * 1000:.0f} ms"


def capped(cap=None):
    return f">{CAP if cap is None else cap:.0f} s"


def mib(kib):
    return f"{kib / 1024:.0f} MB"


# Each scenario runs on one binary and returns {figure: text}.

def hung_owner(s, mode):
    """The panel and the next copy while an owner in `mode` holds the clipboard and never hands its data
    over."""
    nimbrel = s.start()
    s.xclip("text/plain", "before the hung owner")
    try:
        s.wait_recorded("before the hung owner")
    except Timeout:
        return {f"{mode}: first copy (before the owner)": f"not recorded in {capped()}"}
    s.owner(mode, ("UTF8_STRING", "never handed over"))
    # Past the 500 ms poll of the builds that polled, within the 1 s read deadline of those that do not:
    # either way the read of the owner is under way.
    time.sleep(0.7)
    figures = {}
    started = time.monotonic()
    s.spawn("--toggle")
    try:
        wait_for(lambda: bool(panels()), interval=0)
        figures[f"{mode}: --toggle → panel viewable"] = ms(time.monotonic() - started)
        s.spawn("--toggle")
        try:
            figures[f"{mode}: second --toggle → panel hidden"] = ms(wait_for(lambda: panels() == [], interval=0))
        except Timeout:
            figures[f"{mode}: second --toggle → panel hidden"] = capped()
    except Timeout:
        figures[f"{mode}: --toggle → panel viewable"] = capped()
    s.xclip("text/plain", "after the hung owner")
    try:
        figures[f"{mode}: next copy recorded"] = seconds(s.wait_recorded("after the hung owner"))
    except Timeout:
        figures[f"{mode}: next copy recorded"] = capped()
    figures[f"{mode}: still running"] = "yes" if nimbrel.process.poll() is None else "no"
    return figures


def frozen_owner(s):
    return hung_owner(s, "frozen")


def targets_only_owner(s):
    return hung_owner(s, "targets-only")


def rapid_copies(s):
    s.start()
    copied = [f"rapid copy {i}" for i in range(30)]
    for text in copied:
        started = time.monotonic()
        s.xclip("text/plain", text)
        time.sleep(max(0.0, 0.15 - (time.monotonic() - started)))
    # Done when all are there, or when nothing more has come for two seconds.
    last = [None, time.monotonic()]

    def settled():
        texts = s.texts()
        if len(texts) >= 30:
            return True
        if texts != last[0]:
            last[:] = [texts, time.monotonic()]
        return time.monotonic() - last[1] > 2

    try:
        wait_for(settled, interval=0.1)
    except Timeout:
        pass
    texts = [t for t in s.texts() if t in copied]
    ordered = texts == sorted(texts, key=copied.index) and len(set(texts)) == len(texts)
    return {"30 copies 150 ms apart: recorded": f"{len(texts)}/30",
            "30 copies: in order": "yes" if ordered else "no"}


def oversized_copy(s):
    nimbrel = s.start()
    earlier = [f"earlier {i}" for i in range(3)]
    for text in earlier:
        s.xclip("text/plain", text)
        s.wait_recorded(text)
    big = "x" * (30 * MB)
    s.xclip("text/plain", big)
    # Whatever becomes of it has happened once a later copy is recorded.
    time.sleep(0.5)
    s.xclip("text/plain", "the next copy")
    figures = {}
    try:
        s.wait_recorded("the next copy")
    except Timeout:
        figures["30 MB, 100 MB budget: next copy"] = f"not recorded in {capped()}"
    records = s.history()
    stored = any(r.get("byteSize", 0) >= 30 * MB for r in records)
    texts = [r.get("text") for r in records]
    figures["30 MB, 100 MB budget: refused"] = "no (stored)" if stored else "yes"
    figures["30 MB, 100 MB budget: earlier kept"] = f"{sum(t in texts for t in earlier)}/3"
    figures["30 MB, 100 MB budget: peak memory"] = mib(peak_memory_kib(nimbrel.process.pid))
    return figures


def png_bomb_memory(s):
    nimbrel = s.start()
    figures = {"peak memory when ready": mib(peak_memory_kib(nimbrel.process.pid))}
    s.xclip("image/png", png_bomb())
    time.sleep(0.5)
    s.xclip("text/plain", "after the bomb")
    try:
        s.wait_recorded("after the bomb")
        figures["PNG bomb: peak memory"] = mib(peak_memory_kib(nimbrel.process.pid))
    except Timeout:
        figures["PNG bomb: peak memory"] = f"{mib(peak_memory_kib(nimbrel.process.pid))} (next copy {capped()})"
    images = [r for r in s.history() if r.get("kind") == "image"]
    figures["PNG bomb: recorded as an image"] = "yes" if images else "no"
    return figures


def huge_text_memory(s):
    nimbrel = s.start()
    path = os.path.join(s.home.path, "huge.txt")
    with open(path, "wb") as f:
        chunk = b"0123456789abcdef" * (MB // 16)
        for _ in range(200):
            f.write(chunk)
    s.xclip("text/plain", path=path)
    time.sleep(0.5)
    s.xclip("text/plain", "after the huge text")
    figures = {}
    try:
        s.wait_recorded("after the huge text")
        figures["200 MB text: peak memory"] = mib(peak_memory_kib(nimbrel.process.pid))
    except Timeout:
        figures["200 MB text: peak memory"] = f"{mib(peak_memory_kib(nimbrel.process.pid))} (next copy {capped()})"
    stored = any(size_of(line) >= 200e6 for line in s.history(plain=True))
    figures["200 MB text: recorded"] = "yes" if stored else "no"
    return figures


def size_of(line):
    """The byte size in a line of `nimbrel --history` (kind, age, size such as "209.7 MB", source, text)."""
    fields = line.split("\t")
    if len(fields) < 5:
        return 0
    number, _, unit = fields[2].partition(" ")
    try:
        return float(number) * {"B": 1, "bytes": 1, "kB": 1e3, "MB": 1e6, "GB": 1e9}.get(unit, 0)
    except ValueError:
        return 0


def photo_file():
    path = os.path.join(_state_dir, "photo.png")
    if not os.path.exists(path):
        # A gradient under strong noise: a photograph's poor compression, 16 MB as PNG.
        subprocess.run(["convert", "-size", "4000x3000", "gradient:#1e5aa0-#dca03c", "-seed", "1", "-attenuate", "2",
                        "+noise", "Uniform", "-depth", "8", f"PNG24:{path}"], check=True, timeout=300)
    return path


def newest_byte_size(store):
    """The byte size of the newest record, read from the store file (None while there is none)."""
    try:
        db = sqlite3.connect(f"file:{store}?mode=ro", uri=True, timeout=1)
        try:
            row = db.execute("SELECT byteSize FROM clip ORDER BY createdAt DESC LIMIT 1").fetchone()
        finally:
            db.close()
    except sqlite3.Error:
        return None
    return row[0] if row else None


def photo_latency(s):
    s.start()
    path = photo_file()
    size = os.path.getsize(path)
    s.xclip("image/png", path=path)
    started = time.monotonic()
    name = f"4000×3000 PNG photo ({size / 1e6:.1f} MB)"
    figures = {}
    # The commit is seen at once in the store file; `--history` has to start and read the image, so it
    # sees the record only up to one of its polls later.
    try:
        figures[f"{name}: copy → committed in the store"] = ms(
            wait_for(lambda: newest_byte_size(s.home.store) == size, interval=0.005))
    except Timeout:
        figures[f"{name}: copy → committed in the store"] = capped()
    polls = []

    def there():
        polled = time.monotonic()
        records = s.history(1)
        polls.append(time.monotonic() - polled)
        return bool(records) and records[0].get("kind") == "image" and records[0].get("byteSize") == size

    try:
        wait_for(there, max(1.0, CAP - (time.monotonic() - started)), interval=0)
        figures[f"{name}: copy → in --history"] = f"{ms(time.monotonic() - started)} (one poll {ms(polls[-1])})"
    except Timeout:
        figures[f"{name}: copy → in --history"] = capped()
    return figures


def terminate_frozen(s):
    nimbrel = s.start()
    s.xclip("text/plain", "committed before the end")
    s.wait_recorded("committed before the end")
    s.owner("frozen", ("UTF8_STRING", "never handed over"))
    time.sleep(0.7)  # the read is under way, as above
    started = time.monotonic()
    nimbrel.process.send_signal(signal.SIGTERM)
    try:
        status = nimbrel.process.wait(CAP)
        return {"SIGTERM, owner frozen: exit": f"{ms(time.monotonic() - started)} (status {status})"}
    except subprocess.TimeoutExpired:
        return {"SIGTERM, owner frozen: exit": capped()}


def store_ids(path):
    """integrity_check's answer and the ids of the records, read straight from the store file."""
    db = sqlite3.connect(path, timeout=10)
    try:
        check = db.execute("PRAGMA integrity_check").fetchall()
        ids = {str(uuid.UUID(bytes=bytes(row[0]))) for row in db.execute("SELECT id FROM clip")}
    finally:
        db.close()
    return ", ".join(row[0] for row in check), ids


def kill_during_ingest(s):
    runs = ARGS.kill_runs
    rng = random.Random(1)
    committed = set()
    intact = 0
    lost = 0
    survived = 0
    problems = []
    for run in range(runs):
        try:
            nimbrel = s.start()
            for j in range(3):
                text = f"run {run} committed {j}"
                s.xclip("text/plain", text)
                s.wait_recorded(text)
            committed |= {r["id"] for r in s.history(100000)}
            # Rapid copies of 10 B to 256 KB, and kill -9 at a random moment among them.
            stop = threading.Event()

            def copy_rapidly():
                for k in range(12):
                    if stop.is_set():
                        return
                    size = int(10 * (2 ** (rng.random() * 15)))
                    try:
                        s.xclip("text/plain", f"run {run} rapid {k} " + "y" * size)
                    except (subprocess.SubprocessError, OSError):
                        return
                    time.sleep(rng.uniform(0.02, 0.08))

            copier = threading.Thread(target=copy_rapidly)
            killed_after = rng.uniform(0.05, 1.0)
            copier.start()
            time.sleep(killed_after)
            nimbrel.process.kill()
            nimbrel.process.wait(10)
            stop.set()
            copier.join(CAP)
            nimbrel.stop()
            check, ids = store_ids(s.home.store)
            missing = committed - ids
            survived += len(ids - committed)
            if check == "ok" and not missing:
                intact += 1
            else:
                lost += len(missing)
                problems.append(f"run {run}: integrity {check!r}, {len(missing)} committed records missing")
        except Exception as error:  # a failed run counts as not intact and is said
            problems.append(f"run {run}: {type(error).__name__} {error}")
    for line in problems[:10]:
        print(f"  [{os.path.basename(s.binary)}] {line}", file=sys.stderr)
    return {f"kill -9 ×{runs} during ingest: intact": f"{intact}/{runs}",
            f"kill -9 ×{runs}: committed records lost": f"{lost} of {len(committed)}",
            f"kill -9 ×{runs}: rapid copies committed before the kills": str(survived)}


SCENARIOS = [
    ("frozen", frozen_owner, None),
    ("targets-only", targets_only_owner, None),
    ("rapid", rapid_copies, None),
    ("oversized", oversized_copy, {"Nimbrel.maxStorageMB": 100}),
    ("bomb", png_bomb_memory, None),
    ("huge", huge_text_memory, None),
    ("photo", photo_latency, None),
    ("sigterm", terminate_frozen, None),
    ("kill", kill_during_ingest, {"Nimbrel.maxStorageMB": 1000}),
]


def run_scenario(function, binary, defaults):
    session = Session(binary, defaults)
    try:
        return function(session)
    except Timeout:
        return {f"{function.__name__}": f"a step took longer than {CAP:.0f} s"}
    except Exception as error:
        return {f"{function.__name__}": f"failed: {type(error).__name__} {error}"}
    finally:
        session.close()


def main():
    binaries = [("now", os.path.abspath(ARGS.binary))]
    if ARGS.baseline:
        binaries.append(("baseline", os.path.abspath(ARGS.baseline)))
    for _, binary in binaries:
        if not os.access(binary, os.X_OK):
            sys.exit(f"no program at {binary}")
    only = set(ARGS.only.split(",")) if ARGS.only else None
    rows = {}
    order = []
    for name, function, defaults in SCENARIOS:
        if (only and name not in only) or (name == "kill" and ARGS.kill_runs <= 0):
            continue
        for label, binary in binaries:
            print(f"{name} ({label}) ...", file=sys.stderr, flush=True)
            for figure, value in run_scenario(function, binary, defaults).items():
                if figure not in rows:
                    rows[figure] = {}
                    order.append(figure)
                rows[figure][label] = value
    labels = [label for label, _ in binaries]
    print(f"\nDisplay {DISPLAY}; every wait capped at {CAP:.0f} s.\n")
    print("| figure | " + " | ".join(labels) + " |")
    print("|---|" + "---|" * len(labels))
    for figure in order:
        print(f"| {figure} | " + " | ".join(rows[figure].get(label, "—") for label in labels) + " |")


if __name__ == "__main__":
    main()
