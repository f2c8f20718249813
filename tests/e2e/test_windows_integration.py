"""Registration with Windows, the shortcuts and removal, through the real launcher after a real
install: the registry as Wine's reg tool reads it, the shortcut files as the shell reads them, and
what removal leaves behind."""

import os
import shutil
import time
from pathlib import Path

import pytest

import harness
import releases
from harness import ASK_YES_NO, INFORMATION, snapshot, windows_path

VERSION = "3.0.0"
CLASSES = r"HKCU\Software\Classes"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Plovatek"
KEYS = (CLASSES + r"\plovatek", CLASSES + r"\.plovlvl", CLASSES + r"\.plovm", CLASSES + r"\Plovatek.Place",
        CLASSES + r"\Plovatek.Model", UNINSTALL_KEY)
LINK = "Plovatek Studio.lnk"
COPY, OLD_COPY = "PlovatekLauncher.exe", "PlovatekLauncher.old.exe"
DONE = "Plovatek has been taken off this computer."


class Shortcuts:
    """The launcher's Start-menu folder and desktop shortcut in the prefix; gone before and after."""

    def __init__(self):
        self.start_menu = harness.start_menu_programs() / "Plovatek"
        self.desktop_link = harness.desktop() / LINK

    def clear(self):
        if self.start_menu.is_symlink() or self.start_menu.is_file():
            self.start_menu.unlink()
        shutil.rmtree(self.start_menu, ignore_errors=True)  # links inside go as links
        self.desktop_link.unlink(missing_ok=True)

    def read(self) -> dict:
        return {"start menu": harness.read_shortcut(self.start_menu / LINK),
                "desktop": harness.read_shortcut(self.desktop_link)}


@pytest.fixture
def shortcuts(wine_environment):
    made = Shortcuts()
    made.clear()
    yield made
    made.clear()


@pytest.fixture
def clean(registry, shortcuts):
    registry.clean(*KEYS)
    return shortcuts


def install(run_launcher, website, home):
    """A first install from a published release; nothing started."""
    run = run_launcher(["--no-start", "--website", website.url, "--home", home])
    assert (run.exit_code, run.boxes) == (0, [])
    assert (home / "current.txt").read_bytes() == VERSION.encode() + b"\n"


def estimated_size(home: Path) -> int:
    """The regular files under Versions, links not followed, in 2 KiB units plus one."""
    total = 0
    for folder, _, files in os.walk(home / "Versions"):  # does not enter linked folders
        total += sum((Path(folder) / name).stat().st_size for name in files
                     if not (Path(folder) / name).is_symlink())
    return (total // 2048 + 1) & 0xFFFFFFFF


def expected_registry(home: Path, website: str) -> dict:
    launcher = '"' + windows_path(home / COPY) + '"'
    command = launcher + ' "%1"'
    studio_icon = '"' + windows_path(home / "Versions" / VERSION / "plovatek_studio.exe") + '",0'

    def text(value):
        return ("REG_SZ", value)

    def prog_id(description):
        return {"": {"": text(description)}, "DefaultIcon": {"": text(studio_icon)},
                "shell": {}, r"shell\open": {}, r"shell\open\command": {"": text(command)}}

    return {
        CLASSES + r"\plovatek": {"": {"": text("URL:Plovatek"), "URL Protocol": text("")},
                                 "DefaultIcon": {"": text(launcher + ",0")},
                                 "shell": {}, r"shell\open": {}, r"shell\open\command": {"": text(command)}},
        CLASSES + r"\.plovlvl": {"": {"": text("Plovatek.Place")}},
        CLASSES + r"\.plovm": {"": {"": text("Plovatek.Model")}},
        CLASSES + r"\Plovatek.Place": prog_id("Plovatek place"),
        CLASSES + r"\Plovatek.Model": prog_id("Plovatek model"),
        UNINSTALL_KEY: {"": {
            "DisplayName": text("Plovatek"),
            "DisplayVersion": text(VERSION),
            "Publisher": text("Plovatek"),
            "DisplayIcon": text(launcher),
            "InstallLocation": text(windows_path(home)),
            "UninstallString": text(launcher + " --uninstall"),
            "URLInfoAbout": text(website),
            "NoModify": ("REG_DWORD", 1),
            "NoRepair": ("REG_DWORD", 1),
            "EstimatedSize": ("REG_DWORD", estimated_size(home)),
        }},
    }


def registry_now(registry) -> dict:
    return {key: registry.export(key) for key in KEYS}


def test_a_first_install_registers_everything_and_the_next_run_writes_the_same(
        tmp_path, install_home, website, run_launcher, registry, clean):
    shortcuts = clean
    releases.publish(website.root, VERSION, {"content/level.bin": bytes(300_000)})
    install(run_launcher, website, install_home)

    layout = expected_registry(install_home, website.url)
    assert layout[UNINSTALL_KEY][""]["EstimatedSize"][1] > 100  # the release's files are counted
    assert registry_now(registry) == layout
    link = {"path": windows_path(install_home / COPY), "arguments": "--studio",
            "workingFolder": windows_path(install_home), "description": "Make Plovatek games",
            "iconPath": windows_path(install_home / "Versions" / VERSION / "plovatek_studio.exe"), "iconIndex": 0}
    assert shortcuts.read() == {"start menu": link, "desktop": link}
    url_bytes = b"[InternetShortcut]\r\nURL=" + website.url.encode() + b"/games\r\n"
    assert (shortcuts.start_menu / "Plovatek.url").read_bytes() == url_bytes
    assert sorted(entry.name for entry in shortcuts.start_menu.iterdir()) == [LINK, "Plovatek.url"]

    # The user deletes the desktop shortcut, and a big folder is linked into the version folder:
    # the shortcut comes back, and a linked folder is not part of the installation's size.
    shortcuts.desktop_link.unlink()
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    (elsewhere / "big.bin").write_bytes(bytes(4 << 20))
    (install_home / "Versions" / VERSION / "linked folder").symlink_to(elsewhere, target_is_directory=True)
    again = run_launcher(["--no-start", "--website", website.url, "--home", install_home])
    assert (again.exit_code, again.boxes) == (0, [])
    assert registry_now(registry) == layout
    assert shortcuts.read() == {"start menu": link, "desktop": link}
    assert (shortcuts.start_menu / "Plovatek.url").read_bytes() == url_bytes


def wait_until_gone(paths, timeout: float = 15.0) -> bool:
    """True once none of paths exists; False when some are still there after timeout seconds."""
    deadline = time.monotonic() + timeout
    while any(path.exists() for path in paths):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return True


def test_removal_right_after_installing_takes_every_trace_and_keeps_the_users_files(
        install_home, website, run_launcher, registry, clean):
    shortcuts = clean
    releases.publish(website.root, VERSION, {})
    install(run_launcher, website, install_home)
    assert all(registry.exists(key) for key in KEYS)
    # The user's own things, and the copy an earlier self-update set aside.
    (install_home / "saves").mkdir()
    (install_home / "saves" / "my place.plovlvl").write_bytes(b"place")
    (install_home / "settings.json").write_bytes(b"{}")
    (shortcuts.start_menu / "my notes.txt").write_bytes(b"notes")
    (install_home / OLD_COPY).write_bytes(harness.LAUNCHER.read_bytes())
    kept = {path: data for path, data in snapshot(install_home).items()
            if path.split("/")[0] in ("saves", "settings.json")}
    copies = [install_home / COPY, install_home / OLD_COPY]

    # As the list of installed apps starts it: the copy, with --uninstall (and the home it serves).
    run = run_launcher(["--uninstall", "--home", install_home], exe=install_home / COPY, answers=["yes"])
    assert run.exit_code == 0
    assert [box.text for box in run.boxes][1:] == [DONE]
    assert [box.look() for box in run.boxes] == [ASK_YES_NO, INFORMATION]
    assert run.other_dialogs == []
    assert {key: registry.exists(key) for key in KEYS} == {key: False for key in KEYS}
    assert not shortcuts.start_menu.exists()
    assert not shortcuts.desktop_link.exists()
    # The copies go about two seconds after the launcher has ended.
    assert wait_until_gone(copies), "the launcher copies are still there 15 s after removal"
    assert snapshot(install_home) == kept

    # Once more: nothing is left to find, and it ends as quietly.
    second = run_launcher(["--uninstall", "--home", install_home], answers=["yes"])
    assert second.exit_code == 0
    assert [box.text for box in second.boxes][1:] == [DONE]
    assert second.other_dialogs == []
    assert not any(registry.exists(key) for key in KEYS)
    assert snapshot(install_home) == kept


def test_removal_takes_linked_folders_as_links_and_never_what_they_hold(tmp_path, install_home, run_launcher,
                                                                       clean):
    shortcuts = clean
    harness.install_version(install_home, VERSION)
    shortcuts.start_menu.mkdir(parents=True)
    (shortcuts.start_menu / LINK).write_bytes(b"link")
    elsewhere = {}
    for name, into in (("linked into Versions", install_home / "Versions" / VERSION),
                       ("linked into the Start menu", shortcuts.start_menu)):
        target = tmp_path / name
        target.mkdir()
        (target / "keep me.txt").write_bytes(b"not the launcher's")
        (into / "linked").symlink_to(target, target_is_directory=True)
        elsewhere[name] = target
    run = run_launcher(["--uninstall", "--home", install_home], answers=["yes"])
    assert run.exit_code == 0
    assert [box.text for box in run.boxes][1:] == [DONE]
    for target in elsewhere.values():
        assert snapshot(target) == {"keep me.txt": b"not the launcher's"}
    assert not (shortcuts.start_menu / LINK).exists()
    assert not (install_home / "Versions" / VERSION / "plovatek_studio.exe").exists()
