"""The demo: a release published with plovatek-release to a local website served by nginx, and
the launcher under Wine installing it, starting the player from a link, updating to a second
release and taking it all off again. ./dev demo runs it with its own Wine prefix."""

from __future__ import annotations

import os
import shutil
import socket
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import harness  # noqa: E402  (shares the UI driver, stand-in clients and Wine helpers with the tests)

BUILD = ROOT / "build"
DEMO = BUILD / "demo"
TOOL = BUILD / "native" / "tools" / "release" / "plovatek-release"
LAUNCHER = DEMO / "launcher-build" / "apps" / "launcher" / "PlovatekLauncher.exe"


def step(text: str) -> None:
    print(f"\n\033[1m{text}\033[0m", flush=True)


def show(label: str, value) -> None:
    print(f"  {label}: {value}")


def run(*command, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run([str(c) for c in command], check=True, **kwargs)


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def demo_key() -> str:
    keys = DEMO / "keys"
    if not (keys / "release_public.hex").exists():
        run(TOOL, "keygen", "--out", keys, stdout=subprocess.DEVNULL)
    return (keys / "release_public.hex").read_text().strip()


def build_launcher(key: str) -> None:
    """A launcher of its own, built with the demo's release key (the tests use the test key)."""
    out = DEMO / "launcher-build"
    run("cmake", "-S", ROOT, "-B", out, "-G", "Ninja", f"-DCMAKE_TOOLCHAIN_FILE={ROOT}/cmake/mingw-w64-x86_64.cmake",
        "-DCMAKE_BUILD_TYPE=Release", "-DPLOVATEK_TESTS=OFF", f"-DPLOVATEK_RELEASE_PUBLIC_KEY={key}",
        stdout=subprocess.DEVNULL)
    run("cmake", "--build", out, "-j2", "--target", "PlovatekLauncher", stdout=subprocess.DEVNULL)


def make_release(version: str, notes: str) -> Path:
    folder = DEMO / "releases" / version
    shutil.rmtree(folder, ignore_errors=True)
    (folder / "content").mkdir(parents=True)
    shutil.copy(harness.PLAYER, folder / "plovatek_player.exe")
    shutil.copy(harness.STUDIO, folder / "plovatek_studio.exe")
    (folder / "content" / "notes.txt").write_text(notes)
    (folder / "content" / "world.pak").write_bytes(os.urandom(2 * 1024 * 1024) if version == "1.0" else
                                                   (DEMO / "releases" / "1.0" / "content" / "world.pak").read_bytes())
    return folder


def publish(version: str, release: Path) -> None:
    run(TOOL, "publish", "--site", DEMO / "site", "--key", DEMO / "keys" / "release_private.pem",
        "--version", version, "--launcher", LAUNCHER, release)


def start_nginx(port: int) -> subprocess.Popen:
    conf = DEMO / "nginx" / "nginx.conf"
    (DEMO / "nginx" / "logs").mkdir(parents=True, exist_ok=True)
    user = "user root;\n" if os.geteuid() == 0 else ""
    conf.write_text(f"""{user}daemon off;
worker_processes 1;
error_log {DEMO}/nginx/logs/error.log;
pid {DEMO}/nginx/nginx.pid;
events {{ worker_connections 64; }}
http {{
  access_log {DEMO}/nginx/logs/access.log;
  client_body_temp_path {DEMO}/nginx/body; proxy_temp_path {DEMO}/nginx/proxy;
  fastcgi_temp_path {DEMO}/nginx/fastcgi; uwsgi_temp_path {DEMO}/nginx/uwsgi; scgi_temp_path {DEMO}/nginx/scgi;
  types {{ text/html html; application/json json; }}
  default_type application/octet-stream;
  gzip on; gzip_types application/json;
  server {{
    listen 127.0.0.1:{port};
    root {DEMO}/site;
    location = /games {{ default_type text/html; try_files /games.html =404; }}
  }}
}}
""")
    server = subprocess.Popen(["nginx", "-c", str(conf), "-p", str(DEMO / "nginx")], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.1).close()
            return server
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nginx did not start; see " + str(DEMO / "nginx" / "logs" / "error.log"))


def requests_since(mark: int) -> list[str]:
    lines = (DEMO / "nginx" / "logs" / "access.log").read_text().splitlines()[mark:]
    return [line.split('"')[1] + " -> " + line.split('"')[2].split()[0] for line in lines]


def log_length() -> int:
    log = DEMO / "nginx" / "logs" / "access.log"
    return len(log.read_text().splitlines()) if log.exists() else 0


def install_home() -> Path:
    drive_c = Path(os.environ["WINEPREFIX"]) / "drive_c" / "users"
    return next(drive_c.glob("*/AppData/Local")) / "Plovatek"


def describe(run_result: harness.ProgramRun) -> None:
    for box in run_result.boxes:
        show("box", box.text.replace("\n", " / "))
    states = [w.get("text") for w in run_result.window_states if w.get("text")]
    if states:
        show("progress window said", " | ".join(dict.fromkeys(states)))
    show("exit code", run_result.exit_code)


def main() -> int:
    step("Building the release tool and a launcher with a demo release key")
    key = demo_key()
    show("release public key", key[:16] + "...")
    build_launcher(key)
    shutil.rmtree(DEMO / "site", ignore_errors=True)
    shutil.rmtree(DEMO / "runs", ignore_errors=True)

    port = free_port()
    address = f"http://127.0.0.1:{port}"
    step(f"Publishing release 1.0 to the website {address}")
    publish("1.0", make_release("1.0", "first release"))
    (DEMO / "site" / "games.html").write_text(
        f'<h1>Plovatek games</h1><a href="plovatek:play?place=42&origin={address.replace(":", "%3A").replace("/", "%2F")}">Play</a>\n')
    (DEMO / "site" / "download").mkdir()
    download = DEMO / "site" / "download" / "PlovatekLauncher.exe"
    run(TOOL, "stamp", "--address", address, LAUNCHER, download)
    show("stamped download", download.relative_to(ROOT))
    server = start_nginx(port)
    # The demo's Windows has no browser: its web handler records what it was asked to open.
    harness.point_web_links_at(f'"{harness.windows_path(harness.URL_RECORDER)}" "%1"')
    runner = harness.ProgramRunner(DEMO / "runs")
    try:
        home = install_home()
        shutil.rmtree(home, ignore_errors=True)

        step("1. A user downloads the launcher and starts it: it installs the platform")
        mark = log_length()
        first = runner.run(download, answers=["ok"], timeout=120, expect_urls=1)
        describe(first)
        show("website requests", len(requests_since(mark)))
        show("install home", sorted(p.name for p in home.iterdir()))
        show("current.txt", (home / "current.txt").read_text().strip())
        show("website.txt", (home / "website.txt").read_text().strip())
        show("games page opened", first.urls()[0]["commandLine"] if first.urls() else "(none)")
        command = harness.read_key(r"HKCU\Software\Classes\plovatek\shell\open\command")
        show("plovatek: links start", (command or {}).get("", "(not registered)"))

        step("2. The browser opens a plovatek: link: the launcher copy starts the player")
        link = f"plovatek:play?place=42&origin={address.replace(':', '%3A').replace('/', '%2F')}"
        second = runner.run(home / "PlovatekLauncher.exe", [link], timeout=60, expect_clients=1)
        describe(second)
        client = second.clients()[0]
        show("player command line", client["commandLine"])
        show("player working folder", client["workingFolder"])

        step("3. Release 1.1 changes one file: the next start fetches just that one")
        publish("1.1", make_release("1.1", "second release"))
        mark = log_length()
        third = runner.run(home / "PlovatekLauncher.exe", ["--no-start"], timeout=60)
        describe(third)
        for request in requests_since(mark):
            show("request", request)
        show("versions kept", sorted(p.name for p in (home / "Versions").iterdir()))

        step("4. From the list of installed apps: --uninstall")
        fourth = runner.run(home / "PlovatekLauncher.exe", ["--uninstall"], answers=["yes", "ok"], timeout=60)
        describe(fourth)
        time.sleep(3.5)  # the launcher copies go two seconds after the launcher has ended
        show("install home afterwards", sorted(p.name for p in home.iterdir()) if home.exists() else "(gone)")
        show("plovatek: links registered", harness.Registry.exists(r"HKCU\Software\Classes\plovatek"))
    finally:
        server.terminate()
        server.wait()
    step("Done. Everything the demo made is under build/demo.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
