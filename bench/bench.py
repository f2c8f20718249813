"""The launcher against the plain baseline of the same work, side by side.

A release with one large file and a few hundred small ones is published with plovatek-release and
served by nginx on 127.0.0.1. Each phase runs once with the launcher under Wine and once with curl
(fetch, fingerprint, write), in turn, a few times; the table shows medians and their ratio.

Phases:
  install   a first install into a fresh home (every file downloaded)
  update    the next release, in which one small file changed (the rest is reused from disk)
  current   the release is installed already (two manifest requests)

Run through ./dev bench (which brings up Wine). Settings: --large-mib, --small-files, --repeats,
or BENCH_LARGE_MIB, BENCH_SMALL_FILES, BENCH_REPEATS; --compare EXE measures a second launcher
build in the same rounds.
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import random
import shutil
import socket
import statistics
import subprocess
import sys
import threading
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import harness  # noqa: E402  (the UI driver, stand-in clients and Wine helpers of the tests)

TOOL = harness.BUILD / "native" / "tools" / "release" / "plovatek-release"
TEST_KEY = ROOT / "tests" / "keys" / "test_release_private.pem"
WORK = harness.BUILD / "bench"
MIB = 1024 * 1024
LARGE_PATH = "content/world.pak"
CHANGED_PATH = "content/small/00/item-0000.dat"  # the one file release 1.1 changes
PHASES = ("install", "update", "current")


def run(*command, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run([str(c) for c in command], check=True, **kwargs)


# --- the release and the website -----------------------------------------------------------------

def write_release(folder: Path, version: str, large_mib: int, small_files: int) -> None:
    """Stand-in clients, one large file of random bytes and small files of 1-32 KiB, the same for
    every version except CHANGED_PATH."""
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name, source in {"plovatek_player.exe": harness.PLAYER, "plovatek_studio.exe": harness.STUDIO}.items():
        shutil.copy(source, folder / name)
    rng = random.Random(20240601)
    large = folder / LARGE_PATH
    large.parent.mkdir(parents=True, exist_ok=True)
    with open(large, "wb") as out:
        for _ in range(large_mib):
            out.write(rng.randbytes(MIB))
    for i in range(small_files):
        target = folder / f"content/small/{i % 16:02d}/item-{i:04d}.dat"
        target.parent.mkdir(parents=True, exist_ok=True)
        data = rng.randbytes(rng.randint(1024, 32 * 1024))
        if target.as_posix().endswith(CHANGED_PATH):
            data += version.encode()
        target.write_bytes(data)


class Site:
    """The published website: both releases' files, and the manifest pair of either release
    switched in place (exactly the bytes plovatek-release wrote for it)."""

    def __init__(self, folder: Path):
        self.folder = folder
        self.client = folder / "client"
        self.saved = folder.parent / "manifests"

    def publish(self, release: Path, version: str) -> None:
        run(TOOL, "publish", "--site", self.folder, "--key", TEST_KEY, "--version", version, release,
            stdout=subprocess.DEVNULL)
        keep = self.saved / version
        keep.mkdir(parents=True, exist_ok=True)
        for name in ("manifest.json", "manifest.sig"):
            shutil.copyfile(self.client / name, keep / name)

    def offer(self, version: str) -> None:
        for name in ("manifest.json", "manifest.sig"):
            shutil.copyfile(self.saved / version / name, self.client / name)

    def files(self, version: str) -> list[dict]:
        return json.loads((self.saved / version / "manifest.json").read_text())["files"]


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Nginx:
    def __init__(self, root: Path, folder: Path):
        self.folder = folder
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.log = folder / "access.log"
        self.process: subprocess.Popen | None = None
        folder.mkdir(parents=True, exist_ok=True)
        user = "user root;\n" if os.geteuid() == 0 else ""
        temp = " ".join(f"{kind}_temp_path {folder}/{kind};" for kind in ("proxy", "fastcgi", "uwsgi", "scgi"))
        (folder / "nginx.conf").write_text(f"""{user}daemon off;
worker_processes 1;
error_log {folder}/error.log;
pid {folder}/nginx.pid;
events {{ worker_connections 64; }}
http {{
  access_log {self.log};
  client_body_temp_path {folder}/body; {temp}
  types {{ application/json json; }}
  default_type application/octet-stream;
  sendfile on;
  server {{
    listen 127.0.0.1:{self.port};
    root {root};
  }}
}}
""")

    def __enter__(self) -> "Nginx":
        self.process = subprocess.Popen(["nginx", "-c", str(self.folder / "nginx.conf"), "-p", str(self.folder)],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.1).close()
                return self
            except OSError:
                time.sleep(0.05)
        self.__exit__()
        raise RuntimeError(f"nginx did not start; see {self.folder / 'error.log'}")

    def __exit__(self, *_) -> None:
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.process = None

    def request_count(self) -> int:
        return len(self.log.read_text().splitlines()) if self.log.exists() else 0


# --- the launcher ----------------------------------------------------------------------------------

class PeakMemory:
    """Samples VmHWM (the kernel's peak resident size) of the Wine process that runs the exe,
    found by its command line. VmHWM only grows, so the last sample before the process ends is
    its peak up to then; the samples are 10 ms apart."""

    def __init__(self, *needles: str):
        self.needles = [n.encode() for n in needles]
        self.peak_kib = 0
        self.pids: set[int] = set()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._sample, daemon=True)

    def __enter__(self) -> "PeakMemory":
        self._thread.start()
        return self

    def __exit__(self, *_) -> None:
        self._stop.set()
        self._thread.join()

    def _matching(self) -> list[int]:
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    command = f.read()
            except OSError:
                continue
            if all(n in command for n in self.needles):
                pids.append(int(entry))
        return pids

    def _sample(self) -> None:
        known: set[int] = set()
        last_scan = 0.0
        while not self._stop.is_set():
            if time.monotonic() - last_scan > 0.2 or not known:
                known |= set(self._matching())
                last_scan = time.monotonic()
            for pid in list(known):
                try:
                    with open(f"/proc/{pid}/status") as f:
                        for line in f:
                            if line.startswith("VmHWM:"):
                                self.peak_kib = max(self.peak_kib, int(line.split()[1]))
                                self.pids.add(pid)
                except OSError:
                    known.discard(pid)
            self._stop.wait(0.01)


@dataclass
class Measured:
    seconds: float
    peak_bytes: int | None = None


class Launcher:
    """One launcher exe, run by the tests' ProgramRunner (the UI driver beside it answers any box,
    which counts as a failure here)."""

    def __init__(self, exe: Path, site: Nginx, runner: harness.ProgramRunner):
        self.exe = exe
        self.site = site
        self.runner = runner
        self.last_home: Path | None = None

    def run(self, home: Path, expect_requests: int, expect_version: str) -> Measured:
        self.last_home = home
        before = self.site.request_count()
        # The home's folder name is unique per run: it tells this launcher's process apart.
        with PeakMemory(self.exe.name, home.name) as memory:
            result = self.runner.run(self.exe, ["--no-start", "--home", home, "--website", self.site.url],
                                     timeout=600)
        problems = []
        if result.exit_code != 0:
            problems.append(f"exit code {result.exit_code}")
        if result.boxes or result.other_dialogs:
            problems.append("boxes: " + "; ".join(str(b) for b in result.boxes))
        requests = self.site.request_count() - before
        if requests != expect_requests:
            problems.append(f"{requests} website requests, expected {expect_requests}")
        current = (home / harness.CURRENT).read_text().strip() if (home / harness.CURRENT).exists() else None
        if current != expect_version:
            problems.append(f"current.txt says {current!r}, expected {expect_version!r}")
        if not memory.pids:
            problems.append("the launcher's process was never seen, so its memory is unknown")
        if problems:
            raise RuntimeError("the launcher did not do the work: " + ", ".join(problems) + "\n" + result.summary())
        return Measured(result.seconds, memory.peak_kib * 1024)


# --- the baseline: curl, sha256sum, cp ---------------------------------------------------------------

class Baseline:
    """The same work without the launcher: fetch the two manifest files, fetch each needed file by
    its fingerprint with one curl (one connection), write it at its path, check every fingerprint
    with sha256sum. For an update the unchanged files are copied from the previous folder and
    checked like the fetched ones."""

    def __init__(self, url: str):
        self.url = url

    def _manifest(self, folder: Path) -> list[dict]:
        folder.mkdir(parents=True, exist_ok=True)
        run("curl", "-sS", "--fail", "-o", folder / "manifest.json", f"{self.url}/client/manifest.json",
            "-o", folder / "manifest.sig", f"{self.url}/client/manifest.sig")
        return json.loads((folder / "manifest.json").read_text())["files"]

    def _fetch_and_check(self, folder: Path, files: list[dict], fetch: list[dict]) -> None:
        if fetch:
            config = folder.parent / (folder.name + ".curl")
            config.write_text("".join(f'url = "{self.url}/client/files/{f["sha256"]}"\n'
                                      f'output = "{folder / f["path"]}"\n' for f in fetch))
            run("curl", "-sS", "--fail", "--create-dirs", "-K", config)
        check = folder.parent / (folder.name + ".sha256")
        check.write_text("".join(f'{f["sha256"]}  {f["path"]}\n' for f in files))
        run("sha256sum", "--quiet", "--strict", "-c", check, cwd=folder)

    def run(self, phase: str, folder: Path) -> Measured:
        """folder holds the versions: 1.0 after the install, 1.1 after the update."""
        if phase == "install":
            return self.install(folder / "1.0")
        if phase == "update":
            return self.update(folder / "1.0", folder / "1.1")
        return self.current(folder / "1.1")

    def install(self, folder: Path) -> Measured:
        started = time.monotonic()
        files = self._manifest(folder)
        self._fetch_and_check(folder, files, files)
        return Measured(time.monotonic() - started)

    def update(self, previous: Path, folder: Path) -> Measured:
        started = time.monotonic()
        files = self._manifest(folder)
        old = {f["sha256"]: f["path"] for f in json.loads((previous / "manifest.json").read_text())["files"]}
        reused = [f for f in files if f["sha256"] in old]
        # One cp for all reused files (they keep their paths here, as in the release).
        run("cp", "--reflink=never", "--parents", *[old[f["sha256"]] for f in reused], folder, cwd=previous)
        self._fetch_and_check(folder, files, [f for f in files if f["sha256"] not in old])
        return Measured(time.monotonic() - started)

    def current(self, folder: Path) -> Measured:
        started = time.monotonic()
        scratch = folder.parent / (folder.name + ".check")
        self._manifest(scratch)
        installed = (folder / "manifest.json").exists()
        elapsed = time.monotonic() - started
        if not installed:
            raise RuntimeError("the baseline's installed folder is missing")
        return Measured(elapsed)


# --- the run ----------------------------------------------------------------------------------------

def median(values: list[float]) -> float:
    return statistics.median(values) if values else float("nan")


def mb(count: int) -> float:
    return count / 1e6


def phases() -> dict[str, list[Measured]]:
    return {p: [] for p in PHASES}


def verify_install(home: Path, version: str, files: list[dict]) -> None:
    """Once: the launcher's version folder holds every file with its fingerprint."""
    folder = home / harness.VERSIONS / version
    for f in files:
        digest = hashlib.sha256()
        with open(folder / f["path"], "rb") as data:
            while chunk := data.read(4 * MIB):
                digest.update(chunk)
        if digest.hexdigest() != f["sha256"]:
            raise RuntimeError(f"{f['path']} in {folder} does not match its fingerprint")


def print_table(results: dict[str, dict[str, list[Measured]]], sizes: dict[str, int], largest: int,
                repeats: int) -> None:
    print(f"\nmedian of {repeats} run(s); launcher: the exe under Wine, wall clock of its process;"
          " baseline: curl + sha256sum (+ cp) on the same files")
    header = (f"{'phase':<8} {'who':<9} {'seconds':>8} {'x baseline':>10} {'MB/s':>7} {'peak MiB':>9}"
              f" {'peak/largest':>12}")
    print(header)
    print("-" * len(header))
    for phase in PHASES:
        base = median([m.seconds for m in results["baseline"][phase]])
        for who, runs in results.items():
            seconds = median([m.seconds for m in runs[phase]])
            rate = f"{mb(sizes[phase]) / seconds:7.1f}" if sizes[phase] else f"{'-':>7}"
            peaks = [m.peak_bytes for m in runs[phase] if m.peak_bytes is not None]
            memory = (f" {median(peaks) / MIB:9.0f} {median(peaks) / largest:12.2f}" if peaks
                      else f" {'-':>9} {'-':>12}")
            print(f"{phase if who == 'launcher' else '':<8} {who:<9} {seconds:8.2f} {seconds / base:10.1f} {rate}"
                  + memory)
    print(f"\nMB/s: bytes of the new version's files (install: all fetched; update: reused and fetched) per"
          f" second.\npeak: VmHWM of the launcher's Wine process; largest file {largest / MIB:.0f} MiB.")
    print("Every run, in seconds (" + " / ".join(results) + "):")
    for phase in PHASES:
        rounds = zip(*(runs[phase] for runs in results.values()))
        print(f"  {phase:<8} " + "  ".join("/".join(f"{m.seconds:.2f}" for m in r) for r in rounds))


def load() -> str:
    one, five, fifteen = os.getloadavg()
    return f"load average {one:.2f} {five:.2f} {fifteen:.2f} on {os.cpu_count()} cores"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--large-mib", type=int, default=int(os.environ.get("BENCH_LARGE_MIB", 256)),
                        help="size of the large file in MiB (default 256)")
    parser.add_argument("--small-files", type=int, default=int(os.environ.get("BENCH_SMALL_FILES", 300)),
                        help="number of small files, 1-32 KiB each (default 300)")
    parser.add_argument("--repeats", type=int, default=int(os.environ.get("BENCH_REPEATS", 3)),
                        help="runs of each phase; the table shows the median (default 3)")
    parser.add_argument("--compare", type=Path, metavar="EXE",
                        help="another launcher build (with the test key) measured in the same rounds,"
                             " e.g. a copy of the exe before a change; its file name must differ")
    options = parser.parse_args()
    if options.small_files < 1 or options.repeats < 1 or options.large_mib < 0:
        parser.error("need at least one small file and one run")
    if options.compare and (not options.compare.is_file() or options.compare.name == harness.LAUNCHER.name):
        parser.error("--compare needs an existing exe whose file name is not " + harness.LAUNCHER.name)
    missing = [str(p) for p in (TOOL, harness.LAUNCHER, harness.UI_DRIVER, harness.PLAYER) if not p.exists()]
    if missing:
        raise SystemExit("not built: " + ", ".join(missing))
    if not os.environ.get("DISPLAY"):
        raise SystemExit("no X display: run through ./dev bench")

    print(f"bench: {options.large_mib} MiB large file, {options.small_files} small files, {options.repeats} run(s);"
          f" {load()}", flush=True)
    site = Site(WORK / "site")
    # Publishing is slow with the sanitized debug build of the tool: a site made from the same
    # settings, tool and clients is kept for the next run.
    recipe = json.dumps([options.large_mib, options.small_files] +
                        [os.stat(p).st_mtime_ns for p in (TOOL, TEST_KEY, harness.PLAYER, harness.STUDIO)])
    stamp = WORK / "site-recipe.json"
    if stamp.exists() and stamp.read_text() == recipe and (site.saved / "1.1" / "manifest.sig").exists():
        for leftover in ("homes", "baseline", "nginx", "runs"):
            shutil.rmtree(WORK / leftover, ignore_errors=True)
        print("using the releases published by the last run with these settings", flush=True)
    else:
        shutil.rmtree(WORK, ignore_errors=True)
        WORK.mkdir(parents=True)
        started = time.monotonic()
        for version in ("1.0", "1.1"):
            write_release(WORK / "release" / version, version, options.large_mib, options.small_files)
            site.publish(WORK / "release" / version, version)
        shutil.rmtree(WORK / "release")
        stamp.write_text(recipe)
        print(f"published releases 1.0 and 1.1 in {time.monotonic() - started:.0f} s", flush=True)
    files = {v: site.files(v) for v in ("1.0", "1.1")}
    largest = max(f["size"] for f in files["1.0"])
    sizes = {"install": sum(f["size"] for f in files["1.0"]), "update": sum(f["size"] for f in files["1.1"]),
             "current": 0}
    print(f"release: {len(files['1.0'])} files, {mb(sizes['install']):.0f} MB; served by nginx", flush=True)

    results = {"launcher": phases(), **({"compare": phases()} if options.compare else {}), "baseline": phases()}
    with Nginx(site.folder, WORK / "nginx") as nginx:
        runner = harness.ProgramRunner(WORK / "runs")
        launchers = {"launcher": Launcher(harness.LAUNCHER, nginx, runner)}
        if options.compare:
            launchers["compare"] = Launcher(options.compare.resolve(), nginx, runner)
        baseline = Baseline(nginx.url)
        count = len(files["1.0"])
        try:
            for i in range(options.repeats):
                homes = {who: WORK / "homes" / f"{who}-{i}" for who in launchers}
                plain = WORK / "baseline" / f"run-{i}"
                for folder in [*homes.values(), plain]:
                    shutil.rmtree(folder, ignore_errors=True)
                    folder.mkdir(parents=True)

                # Each launcher and the baseline in turn, phase by phase, so that they share the
                # load; who goes first turns from round to round, since a run can slow the next
                # one down (the page cache writing back what the one before wrote).
                order = list(results)[i % len(results):] + list(results)[:i % len(results)]
                for phase, version, requests in (("install", "1.0", 2 + count), ("update", "1.1", 2 + 1),
                                                 ("current", "1.1", 2)):
                    site.offer(version)
                    for who in order:
                        if who == "baseline":
                            results[who][phase].append(baseline.run(phase, plain))
                            continue
                        results[who][phase].append(launchers[who].run(homes[who], requests, version))
                        if i == 0 and phase != "current":
                            verify_install(homes[who], version, files[version])

                print(f"run {i + 1}: " + ", ".join(
                    f"{p} " + "/".join(f"{results[who][p][-1].seconds:.2f}" for who in results) + " s"
                    for p in PHASES) + f"; {load()}", flush=True)
                shutil.rmtree(plain, ignore_errors=True)
                if i + 1 < options.repeats:
                    for home in homes.values():
                        shutil.rmtree(home, ignore_errors=True)
        finally:
            # Take the registration out of the Wine prefix again, as a user would.
            last = launchers["launcher"].last_home
            if last is not None:
                runner.run(last / "PlovatekLauncher.exe", ["--uninstall", "--home", last], answers=["yes", "ok"],
                           timeout=120)

    print_table(results, sizes, largest, options.repeats)
    print(f"\n{load()}")
    for leftover in ("homes", "baseline"):
        shutil.rmtree(WORK / leftover, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
