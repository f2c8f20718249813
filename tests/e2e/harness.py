"""Running the launcher and its helper programs under Wine, and reading back what they did.

The fixtures in conftest.py wrap this module; tests may also import it for paths and helpers.
Everything here expects the Wine set-up of ./dev (WINEPREFIX, DISPLAY, a persistent wineserver).
"""

from __future__ import annotations

import getpass
import json
import os
import re
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("PLOVATEK_BUILD", ROOT / "build")).resolve()
WINDOWS_BUILD = BUILD / "windows"
LAUNCHER = WINDOWS_BUILD / "apps" / "launcher" / "PlovatekLauncher.exe"
HELPERS = WINDOWS_BUILD / "tests" / "helpers"
UI_DRIVER = HELPERS / "ui_driver.exe"
PLAYER = HELPERS / "plovatek_player.exe"
STUDIO = HELPERS / "plovatek_studio.exe"
URL_RECORDER = HELPERS / "url_recorder.exe"
SHELL_OPEN = HELPERS / "shell_open.exe"
SHOW_BOX = HELPERS / "show_box.exe"
READ_SHORTCUT = HELPERS / "read_shortcut.exe"
WINEPREFIX = Path(os.environ.get("WINEPREFIX", BUILD / "wineprefix"))

# Names inside the install home.
VERSIONS = "Versions"
CURRENT = "current.txt"
WEBSITE_FILE = "website.txt"
MARKER = "plovatek-installed.txt"

# Box styles the launcher passes to MessageBoxW, and what the UI driver reads back from them.
ASK_YES_NO = {"buttons": ["Yes", "No"], "icon": "question", "default_button": 6}
WARNING = {"buttons": ["OK"], "icon": "exclamation", "default_button": 1}
INFORMATION = {"buttons": ["OK"], "icon": "information", "default_button": 1}

# Debian's wine script says this on every start; it is not the program's output.
_WINE_NOISE = re.compile(r"wine32 is missing|multiarch needs|dpkg --add-architecture|apt-get install wine32")


def windows_path(path) -> str:
    """The Windows name of a Unix path under Wine: drive Z: is the Unix root."""
    return "Z:" + str(Path(path).absolute()).replace("/", "\\")


def _argument(value) -> str:
    return windows_path(value) if isinstance(value, Path) else str(value)


def wine(program, *args, timeout: float = 60, env: dict | None = None, check: bool = True,
         cwd=None) -> subprocess.CompletedProcess:
    """Runs a Windows program (a Path or a name Wine knows, e.g. "reg") and waits for it.
    Path arguments are passed as Windows paths."""
    command = ["wine", str(program), *map(_argument, args)]
    environment = os.environ.copy()
    environment.update(env or {})
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout,
                            env=environment, cwd=cwd)
    if check and result.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} exited with {result.returncode}: {wine_said(result.stderr)}")
    return result


def wine_said(stderr: bytes | str) -> str:
    """What a Wine program wrote to stderr, without the wine script's own notes."""
    text = stderr.decode("utf-8", "replace") if isinstance(stderr, bytes) else stderr
    return "\n".join(line for line in text.splitlines() if line.strip() and not _WINE_NOISE.search(line))


# --- the install home ------------------------------------------------------------------------

def marker_text(version: str) -> bytes:
    """The marker file's content as the update engine writes it."""
    return (f"Plovatek {version}, installed by PlovatekLauncher.exe.\r\n"
            "Your own files (logins, settings, saves, places) are in the folder two up from here.\r\n").encode()


def install_version(home: Path, version: str = "1.0.0", *, current: bool = True, clients: bool = True,
                    marker: bool = True, files: dict[str, bytes] | None = None) -> Path:
    """Lays out an installed release in home: Versions/<version>/ with the stand-in player and
    studio (clients), the marker (marker) and any further files (relative path -> bytes);
    current.txt = version + LF (current). Returns the version folder."""
    folder = Path(home) / VERSIONS / version
    folder.mkdir(parents=True, exist_ok=True)
    if clients:
        shutil.copyfile(PLAYER, folder / "plovatek_player.exe")
        shutil.copyfile(STUDIO, folder / "plovatek_studio.exe")
    for relative, data in (files or {}).items():
        target = folder / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
    if marker:
        (folder / MARKER).write_bytes(marker_text(version))
    if current:
        (Path(home) / CURRENT).write_bytes(version.encode() + b"\n")
    return folder


def snapshot(folder: Path) -> dict[str, bytes | None]:
    """Every entry below folder: relative path ('/'-separated) -> bytes, or None for a folder."""
    folder = Path(folder)
    entries: dict[str, bytes | None] = {}
    for path in sorted(folder.rglob("*")):
        entries[path.relative_to(folder).as_posix()] = None if path.is_dir() else path.read_bytes()
    return entries


# --- what a run showed -------------------------------------------------------------------------

def _button_label(text: str) -> str:
    """A button's text as shown: '&' marks the access key, '&&' is a literal '&'."""
    return text.replace("&&", "\0").replace("&", "").replace("\0", "&")


@dataclass
class Box:
    """One message box the UI driver saw (and answered)."""

    title: str
    text: str
    buttons: list[str]  # labels left to right, access-key '&' removed: ["Yes", "No"]
    button_ids: list[int]  # IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7
    default_button: int  # id of the default button, 0 when none
    icon: str  # "question", "exclamation", "information", "error", "none" or "unknown"
    topmost: bool  # WS_EX_TOPMOST (Wine 8 never sets it for MB_TOPMOST)
    answer: str  # the button pressed: "yes", "no", "ok", ...
    record: dict  # everything the driver wrote about it

    @classmethod
    def from_record(cls, record: dict) -> "Box":
        return cls(
            title=record["title"],
            text=record["text"],
            buttons=[_button_label(b["text"]) for b in record["buttons"]],
            button_ids=[b["id"] for b in record["buttons"]],
            default_button=record["defaultButton"],
            icon=record["icon"],
            topmost=record["topmost"],
            answer=record["answer"],
            record=record,
        )

    def look(self) -> dict:
        """buttons, icon and default button, to compare with ASK_YES_NO, WARNING, INFORMATION."""
        return {"buttons": self.buttons, "icon": self.icon, "default_button": self.default_button}

    def __str__(self) -> str:
        return f"[{self.title!r}, {self.icon}, {'/'.join(self.buttons)} -> {self.answer}] {self.text!r}"


def read_records(path: Path) -> list[dict]:
    """The JSON lines a helper program wrote (none when the file is not there yet)."""
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line.strip()]


def wait_for_records(path: Path, count: int, timeout: float = 10.0) -> list[dict]:
    """Programs started by the launcher run on after it has gone: wait until count records have
    arrived, or timeout seconds (then returns what is there)."""
    deadline = time.monotonic() + timeout
    while True:
        records = read_records(path)
        if len(records) >= count or time.monotonic() > deadline:
            return records
        time.sleep(0.05)


def _command_text(command: list[str]) -> str:
    return " ".join(f'"{part}"' if " " in part or not part else part for part in command)


@dataclass(repr=False)
class ProgramRun:
    """What one run of the launcher (or another program) under the UI driver showed and did."""

    command: list[str]
    exit_code: int | None  # None when it was stopped after the timeout
    seconds: float
    boxes: list[Box]
    other_dialogs: list[dict]  # dialogs not titled "Plovatek" (a crash report, say): seen, not answered
    window_states: list[dict]  # the progress window, one entry per change ("window", "windowClose", "windowGone")
    stdout: str
    wine_output: str  # stderr without the wine script's notes
    client_record: Path
    url_record: Path
    driver_lines: list[dict] = field(repr=False, default_factory=list)

    @property
    def timed_out(self) -> bool:
        return self.exit_code is None

    @property
    def windows(self) -> list[dict]:
        """The progress window's states as the driver described them (kind "window")."""
        return [s for s in self.window_states if s["kind"] == "window"]

    def clients(self) -> list[dict]:
        """Records of the stand-in clients started so far: exe, commandLine, workingFolder, argv."""
        return read_records(self.client_record)

    def urls(self) -> list[dict]:
        """Records of the URL recorder (the shell's http handler): commandLine, argv."""
        return read_records(self.url_record)

    def wait_for_clients(self, count: int, timeout: float = 10.0) -> list[dict]:
        return wait_for_records(self.client_record, count, timeout)

    def wait_for_urls(self, count: int, timeout: float = 10.0) -> list[dict]:
        return wait_for_records(self.url_record, count, timeout)

    def summary(self) -> str:
        lines = [_command_text(self.command),
                 f"  exit code: {'none, stopped after the timeout' if self.timed_out else self.exit_code}"
                 f" after {self.seconds:.2f} s"]
        lines += [f"  box {i + 1}: {box}" for i, box in enumerate(self.boxes)] or ["  no message box"]
        lines += [f"  other dialog: {d.get('title')!r}: {d.get('text')!r}" for d in self.other_dialogs]
        for state in self.window_states:
            if state["kind"] == "windowGone":
                lines.append(f"  progress window gone at {state['ms']} ms")
            elif state["kind"] == "windowClose":
                lines.append(f"  progress window sent WM_CLOSE at {state['ms']} ms")
            else:
                lines.append(f"  progress window at {state['ms']} ms: {state['className']} {state['title']!r} "
                             f"client {state['client']['width']}x{state['client']['height']}"
                             f" style {state['style']:#010x} visible {state['visible']}"
                             + (f" bar row {state['barRow']} text ink {state['textInk']}" if "barRow" in state else ""))
        lines += [f"  client started: {c['commandLine']!r} in {c['workingFolder']!r}" for c in self.clients()]
        lines += [f"  URL opened: {u['commandLine']!r}" for u in self.urls()]
        if self.stdout.strip():
            lines.append("  stdout: " + self.stdout.strip().replace("\n", "\n          "))
        if self.wine_output:
            lines.append("  stderr: " + self.wine_output.replace("\n", "\n          "))
        return "\n".join(lines)

    def __str__(self) -> str:
        return self.summary()

    def __repr__(self) -> str:
        return f"<run of {_command_text(self.command)}: exit code {self.exit_code}, {len(self.boxes)} boxes>"


class ProgramRunner:
    """Runs programs under Wine with the UI driver beside them. Each run gets its own folder
    below folder for the driver's output and the client and URL records."""

    def __init__(self, folder: Path):
        self.folder = Path(folder)
        self.runs: list[ProgramRun] = []

    def run(self, exe: Path, args=(), *, answers=(), env: dict | None = None, timeout: float = 30,
            cwd: Path | None = None, expect_clients: int = 0, expect_urls: int = 0,
            close_window_after: float | None = None) -> ProgramRun:
        """Starts the UI driver, runs exe with args (Path arguments become Windows paths) and
        waits for it to end (at most timeout seconds, then it is killed), then stops the driver.

        answers   buttons to press, box by box in the order the boxes appear ("yes", "no", "ok",
                  "cancel", ... or a number); after the list the driver presses OK if the box has
                  it, else No, else Cancel, else its first button
        env       extra environment variables (None removes one); PLOVATEK_CLIENT_RECORD and
                  PLOVATEK_URL_RECORD are set to this run's record files
        cwd       the program's working folder (default: this run's folder)
        expect_clients, expect_urls   wait until that many records have arrived before returning
        close_window_after   seconds after the progress window shows, close it as the user would
                  (WM_CLOSE); recorded as a state of kind "windowClose"
        """
        folder = self.folder / f"run{len(self.runs) + 1}"
        folder.mkdir(parents=True)
        out, stop = folder / "driver.jsonl", folder / "driver.stop"
        client_record, url_record = folder / "clients.jsonl", folder / "urls.jsonl"

        environment = os.environ.copy()
        environment["PLOVATEK_CLIENT_RECORD"] = windows_path(client_record)
        environment["PLOVATEK_URL_RECORD"] = windows_path(url_record)
        for name, value in (env or {}).items():
            if value is None:
                environment.pop(name, None)
            else:
                environment[name] = str(value)

        driver_command = ["wine", str(UI_DRIVER), "--out", windows_path(out), "--stop", windows_path(stop),
                          "--timeout", str(timeout + 60)]
        if answers:
            driver_command += ["--answers", ",".join(answers)]
        if close_window_after is not None:
            driver_command += ["--close-window-after", str(close_window_after)]
        with open(folder / "driver.stderr", "wb") as driver_err:
            driver = subprocess.Popen(driver_command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=driver_err)
        try:
            self._wait_until_ready(driver, out, folder / "driver.stderr")
            command = [str(exe), *map(_argument, args)]
            started = time.monotonic()
            with open(folder / "stdout", "wb") as stdout, open(folder / "stderr", "wb") as stderr:
                program = subprocess.Popen(["wine", *command], stdin=subprocess.DEVNULL, stdout=stdout,
                                           stderr=stderr, env=environment, cwd=cwd or folder)
            try:
                exit_code = program.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                program.kill()
                program.wait()
                exit_code = None
            seconds = time.monotonic() - started
        finally:
            stop.touch()
            try:
                driver.wait(timeout=15)
            except subprocess.TimeoutExpired:
                driver.kill()
                driver.wait()

        lines = read_records(out)
        run = ProgramRun(
            command=[Path(command[0]).name, *command[1:]],
            exit_code=exit_code,
            seconds=seconds,
            boxes=[Box.from_record(line) for line in lines if line["kind"] == "box"],
            other_dialogs=[line for line in lines if line["kind"] == "otherDialog"],
            window_states=[line for line in lines if line["kind"] in ("window", "windowClose", "windowGone")],
            stdout=(folder / "stdout").read_text(encoding="utf-8", errors="replace"),
            wine_output=wine_said((folder / "stderr").read_bytes()),
            client_record=client_record,
            url_record=url_record,
            driver_lines=lines,
        )
        self.runs.append(run)
        if expect_clients:
            run.wait_for_clients(expect_clients)
        if expect_urls:
            run.wait_for_urls(expect_urls)
        return run

    @staticmethod
    def _wait_until_ready(driver: subprocess.Popen, out: Path, stderr: Path) -> None:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if out.exists() and out.read_bytes().startswith(b'{"kind":"ready"'):
                return
            if driver.poll() is not None:
                raise RuntimeError(f"the UI driver ended with {driver.returncode} before it was ready: "
                                   f"{wine_said(stderr.read_bytes())}")
            time.sleep(0.02)
        raise RuntimeError("the UI driver did not get ready within 30 s")

    def summary(self) -> str:
        return "\n".join(f"run {i + 1}: {run}" for i, run in enumerate(self.runs))


# --- the Wine user's folders and shortcuts ---------------------------------------------------------

def user_folder() -> Path:
    """The Wine user's profile folder in the prefix (C:\\users\\<name>); ./dev makes its Desktop and
    the like real folders, so shortcuts made under Wine land here."""
    return WINEPREFIX / "drive_c" / "users" / getpass.getuser()


def start_menu_programs() -> Path:
    """The Programs known folder of the Start menu."""
    return user_folder() / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / "Programs"


def desktop() -> Path:
    return user_folder() / "Desktop"


def read_shortcut(path: Path) -> dict | None:
    """A .lnk file read back through the shell link object: path, arguments, workingFolder,
    description, iconPath, iconIndex; None when it cannot be loaded."""
    result = wine(READ_SHORTCUT, Path(path), check=False)
    if result.returncode != 0:
        return None
    return json.loads(result.stdout.decode("utf-8").strip().splitlines()[-1])


# --- the registry, read and changed through Wine --------------------------------------------------

_ROOTS = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE", "HKCR": "HKEY_CLASSES_ROOT",
          "HKU": "HKEY_USERS"}


def full_key_name(key: str) -> str:
    """HKCU\\... -> HKEY_CURRENT_USER\\..., as .reg files name keys."""
    root, _, rest = key.partition("\\")
    root = _ROOTS.get(root.upper(), root)
    return root + ("\\" + rest if rest else "")


def _reg_string(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _parse_reg_string(text: str) -> str:
    """A quoted .reg string (the quotes included) -> its value."""
    out, i = [], 1
    escapes = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "0": "\0"}
    while i < len(text) - 1:
        if text[i] == "\\" and i + 1 < len(text) - 1:
            out.append(escapes.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def _split_name(line: str) -> tuple[str, str]:
    """'"name"=data' or '@=data' -> (name, data); the default value's name is ""."""
    if line.startswith("@="):
        return "", line[2:]
    i = 1
    while line[i] != '"':
        i += 2 if line[i] == "\\" else 1
    return _parse_reg_string(line[: i + 1]), line[i + 2:]


def _parse_data(data: str) -> tuple[str, object]:
    if data.startswith('"'):
        return "REG_SZ", _parse_reg_string(data)
    if data.startswith("dword:"):
        return "REG_DWORD", int(data[6:], 16)
    kind, _, hex_bytes = data.partition(":")
    raw = bytes(int(b, 16) for b in hex_bytes.split(",") if b.strip())
    number = int(kind[4:-1], 16) if kind.startswith("hex(") else 3
    if number == 2:
        return "REG_EXPAND_SZ", raw.decode("utf-16-le").rstrip("\0")
    if number == 7:
        return "REG_MULTI_SZ", [s for s in raw.decode("utf-16-le").split("\0") if s]
    if number == 11:
        return "REG_QWORD", int.from_bytes(raw, "little")
    if number == 3:
        return "REG_BINARY", raw
    return f"hex({number:x})", raw


def parse_reg_export(text: str, key: str) -> dict[str, dict[str, tuple[str, object]]]:
    """A .reg export of key -> {subkey relative to key ("" for key itself): {value name: (type, data)}}."""
    base = full_key_name(key).lower()
    tree: dict[str, dict[str, tuple[str, object]]] = {}
    current: dict | None = None
    logical: list[str] = []
    for raw_line in text.splitlines():
        line = raw_line.strip() if logical else raw_line.rstrip()
        if line.endswith("\\") and not line.startswith("["):
            logical.append(line[:-1])  # a hex list goes on on the next line
            continue
        line = "".join(logical) + line
        logical = []
        if line.startswith("[") and line.endswith("]"):
            name = line[1:-1]
            relative = name[len(base):].lstrip("\\") if name.lower().startswith(base) else name
            current = tree.setdefault(relative, {})
        elif current is not None and (line.startswith('"') or line.startswith("@=")):
            name, data = _split_name(line)
            current[name] = _parse_data(data)
    return tree


def reg_export(key: str) -> dict[str, dict[str, tuple[str, object]]] | None:
    """The key and everything below it, typed: {subkey: {name: (type, data)}}; None when the key
    does not exist. Read through Wine: the wineserver writes its .reg files lazily."""
    with tempfile.TemporaryDirectory() as scratch:
        target = Path(scratch) / "export.reg"
        result = wine("reg", "export", key, target, "/y", check=False)
        if result.returncode != 0 or not target.exists():
            return None
        raw = target.read_bytes()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8")
    return parse_reg_export(text, key)


def read_key(key: str) -> dict[str, object] | None:
    """The values of key itself: {name: data} ("" is the default value); None when it does not exist."""
    tree = reg_export(key)
    if tree is None:
        return None
    return {name: data for name, (_, data) in tree.get("", {}).items()}


def reg_import(lines: list[str]) -> None:
    """Applies .reg lines ("[KEY]", '"name"="value"', "[-KEY]" deletes a tree) in one Wine process."""
    with tempfile.TemporaryDirectory() as scratch:
        target = Path(scratch) / "import.reg"
        target.write_text("Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n",
                          encoding="utf-16")
        wine("reg", "import", target)


def set_string_values(key: str, values: dict[str, str]) -> None:
    """Creates key and sets string values ("" names the default value)."""
    lines = [f"[{full_key_name(key)}]"]
    lines += [("@" if name == "" else _reg_string(name)) + "=" + _reg_string(value) for name, value in values.items()]
    reg_import(lines)


def delete_user_keys(*keys: str) -> None:
    """Deletes HKCU keys with everything below them (missing keys are fine), in one Wine process.
    Only keys at least two levels below HKCU (HKCU\\Software\\X) are accepted."""
    for key in keys:
        parts = full_key_name(key).split("\\")
        if parts[0] != "HKEY_CURRENT_USER" or len(parts) < 3 or not all(parts):
            raise ValueError(f"refusing to delete {key!r}: only keys below HKCU\\Software\\... are cleaned")
    if keys:
        reg_import([f"[-{full_key_name(key)}]" for key in keys])


class Registry:
    """Per-test registry access; keys handed to clean() are deleted now and after the test."""

    def __init__(self):
        self._cleaned: list[str] = []

    def clean(self, *keys: str) -> None:
        delete_user_keys(*keys)
        self._cleaned += keys

    def finish(self) -> None:
        if self._cleaned:
            delete_user_keys(*self._cleaned)

    export = staticmethod(reg_export)
    read = staticmethod(read_key)

    @staticmethod
    def exists(key: str) -> bool:
        return reg_export(key) is not None


# --- the http handler ------------------------------------------------------------------------------

# Wine 8 takes the handler for ShellExecuteW from the machine-wide classes, not the per-user ones.
HTTP_HANDLER_KEYS = [r"HKLM\Software\Classes\http\shell\open\command",
                     r"HKLM\Software\Classes\https\shell\open\command"]


def point_web_links_at(command: str) -> dict[str, dict | None]:
    """Makes command the shell's handler for http and https links; returns what was there before."""
    before = {key: read_key(key) for key in HTTP_HANDLER_KEYS}
    lines = []
    for key in HTTP_HANDLER_KEYS:
        lines += [f"[{full_key_name(key)}]", "@=" + _reg_string(command), ""]
    reg_import(lines)
    return before


def restore_web_links(before: dict[str, dict | None]) -> None:
    lines = []
    for key, values in before.items():
        if values is None or "" not in values:
            lines += [f"[-{full_key_name(key)}]", ""]
        else:
            lines += [f"[{full_key_name(key)}]", "@=" + _reg_string(values[""]), ""]
    reg_import(lines)
