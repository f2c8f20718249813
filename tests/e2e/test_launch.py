"""A normal start against an installed release: which client starts, how, from where, and
what the user is told when nothing can be started."""

import os
import socket
import subprocess
from pathlib import Path

import pytest

import harness
import releases
from harness import INFORMATION, WARNING, install_version, windows_path

VERSION = "2.5.0-beta"
NO_WEBSITE = "Plovatek couldn't be installed:\nNo website to update from"
NO_RELEASE = "The website said 404 (there's no release on it yet)"  # the download's sentence

# The progress window's colours, as the UI driver reads them (0xRRGGBB).
BACKGROUND, TRACK = 0x181A1E, 0x32363C


def installed_box(version: str) -> str:
    return (f"Plovatek {version} is installed!\n\nTo play, press Play on any game on the website.\n"
            "To make games, open Plovatek Studio from the Start menu or the desktop.")


def unreachable_website() -> str:
    """A loopback address where nothing listens: the website never answers."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    return f"http://127.0.0.1:{port}"


def started(run, count: int = 1, wait: float = 10.0) -> list[dict]:
    """The clients the launcher started; a short wait suffices to see that none was."""
    return run.wait_for_clients(count, timeout=wait)


@pytest.fixture
def version_folder(install_home) -> Path:
    return install_version(install_home, VERSION)


# --- the player --------------------------------------------------------------------------------

@pytest.mark.parametrize("link", [
    "plovatek:play?game=12&origin=nowhere&seat=a?b",  # '?' and '&' pass as they are
    "plovatek:join?name=%22Joe%22",  # a quote written as %22 is no quote
    "plovatek:",
])
def test_the_player_gets_the_link_quoted_and_runs_in_its_version_folder(install_home, version_folder,
                                                                        run_launcher, link):
    # No website from any source: the installed version is used without a word.
    run = run_launcher([link, "--home", install_home], expect_clients=1)
    assert run.exit_code == 0
    assert run.boxes == []
    player = windows_path(version_folder / "plovatek_player.exe")
    [client] = run.clients()
    assert client["exe"] == player
    assert client["commandLine"] == f'"{player}" "{link}"'
    assert client["argv"][1:] == [link]
    assert client["workingFolder"] == windows_path(version_folder)


def test_a_link_with_a_double_quote_is_refused(install_home, version_folder, run_launcher):
    run = run_launcher(['plovatek:join?name="Joe"', "--home", install_home])
    assert run.exit_code == 1
    assert [box.text for box in run.boxes] == ['Couldn\'t start the game: That link has a " in it']
    assert run.boxes[0].look() == WARNING
    assert started(run, wait=1.0) == []


@pytest.mark.parametrize("link", ["plovatek:play?folder=C:\\Games\\", "plovatek:play?end=\\\\"])
def test_a_link_ending_in_backslashes_reaches_the_player_unchanged(install_home, version_folder, run_launcher,
                                                                  link):
    # Backslashes before the closing quote would escape it: doubled, the player reads them as given,
    # and no quote of the command line becomes part of its argument.
    run = run_launcher([link, "--home", install_home], expect_clients=1)
    assert run.exit_code == 0
    assert run.boxes == []
    player = windows_path(version_folder / "plovatek_player.exe")
    [client] = run.clients()
    assert client["argv"][1:] == [link]
    trailing = len(link) - len(link.rstrip("\\"))
    assert client["commandLine"] == f'"{player}" "{link}' + "\\" * trailing + '"'


# --- the studio --------------------------------------------------------------------------------

ELSEWHERE = r"C:\Users\Me\My Places\Castle Keep.plovm"


@pytest.mark.parametrize("arguments, client_name, expected", [
    (["--studio"], "plovatek_studio.exe", []),
    (["My Place.plovlvl"], "plovatek_studio.exe", ["My Place.plovlvl"]),
    (["levels\\Old Town.PLOVL", "--studio"], "plovatek_studio.exe", ["levels\\Old Town.PLOVL"]),
    ([ELSEWHERE], "plovatek_studio.exe", [ELSEWHERE]),
    # A link wins over the studio and its file.
    (["plovatek:play?game=3", "--studio", "My Place.plovlvl"], "plovatek_player.exe", ["plovatek:play?game=3"]),
])
def test_the_studio_gets_its_file_as_given(install_home, version_folder, run_launcher, arguments, client_name,
                                           expected):
    run = run_launcher([*arguments, "--home", install_home], expect_clients=1)
    assert run.exit_code == 0
    assert run.boxes == []
    exe = windows_path(version_folder / client_name)
    [client] = run.clients()
    assert client["exe"] == exe
    assert client["commandLine"] == " ".join(f'"{part}"' for part in [exe, *expected])
    assert client["argv"][1:] == expected
    # Not the folder the launcher was started from: a relative file stays relative to it.
    assert client["workingFolder"] == windows_path(version_folder)


@pytest.mark.parametrize("arguments, box", [
    (["plovatek:play?game=1"], "Couldn't start the game: Windows wouldn't start it (Windows error 2)"),
    (["--studio"], "Couldn't start the studio: Windows wouldn't start it (Windows error 2)"),
])
def test_a_missing_client_is_reported_with_the_windows_error(install_home, run_launcher, arguments, box):
    install_version(install_home, VERSION, clients=False)
    run = run_launcher([*arguments, "--home", install_home])
    assert run.exit_code == 1
    assert [b.text for b in run.boxes] == [box]
    assert run.boxes[0].look() == WARNING


# --- nothing to start, nothing installed -----------------------------------------------------

@pytest.mark.parametrize("website_answers", [False, True])
def test_without_a_client_to_start_it_says_the_version_is_installed_and_opens_the_games_page(
        install_home, version_folder, run_launcher, website, website_answers):
    # The update fails either way (the website offers no release); only a website that
    # answered is worth a box before the installed version is used.
    site = website.url if website_answers else unreachable_website()
    run = run_launcher(["--website", site, "--home", install_home], expect_urls=1)
    assert run.exit_code == 0
    expected = [installed_box(VERSION)]
    if website_answers:
        expected.insert(0, f"Plovatek couldn't update ({NO_RELEASE}). Starting the version you have.")
    assert [box.text for box in run.boxes] == expected
    assert run.boxes[-1].look() == INFORMATION
    assert [url["argv"][1:] for url in run.urls()] == [[site + "/games"]]
    assert started(run, wait=0.5) == []


def test_without_a_website_the_installed_box_opens_no_page(install_home, version_folder, run_launcher):
    run = run_launcher(["--home", install_home])
    assert run.exit_code == 0
    assert [box.text for box in run.boxes] == [installed_box(VERSION)]
    assert run.wait_for_urls(1, timeout=1.0) == []


@pytest.mark.parametrize("with_website", [False, True])
def test_nothing_installed_and_no_update_ends_with_exit_code_1(install_home, run_launcher, website, with_website):
    # current.txt names a version whose folder lacks its marker: not installed.
    install_version(install_home, VERSION, marker=False)
    args = ["plovatek:play?game=1", "--home", install_home]
    if with_website:
        args += ["--website", website.url]
    run = run_launcher(args)
    assert run.exit_code == 1
    text = f"Plovatek couldn't be installed:\n{NO_RELEASE}\n\n(From {website.url})" if with_website else NO_WEBSITE
    assert [box.text for box in run.boxes] == [text]
    assert run.boxes[0].look() == WARNING
    assert started(run, wait=1.0) == []


def test_no_start_starts_nothing(install_home, version_folder, run_launcher):
    run = run_launcher(["plovatek:play?game=1", "--studio", "--no-start", "--home", install_home])
    assert run.exit_code == 0
    assert run.boxes == []
    assert started(run, wait=1.0) == []


# --- registration follows the launcher copy ----------------------------------------------------

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Plovatek"
REGISTERED_KEYS = (r"HKCU\Software\Classes\plovatek", r"HKCU\Software\Classes\.plovlvl",
                   r"HKCU\Software\Classes\.plovm", r"HKCU\Software\Classes\Plovatek.Place",
                   r"HKCU\Software\Classes\Plovatek.Model", UNINSTALL_KEY)


def without_menu_builder() -> dict:
    """Wine mirrors every shortcut made into XDG menu entries and desktop launchers in the real
    home folder; runs that register keep its menu builder from starting."""
    overrides = os.environ.get("WINEDLLOVERRIDES", "")
    return {"WINEDLLOVERRIDES": (overrides + ";" if overrides else "") + "winemenubuilder.exe=d"}


@pytest.fixture
def no_shortcuts_left():
    """Registration makes shortcuts in the prefix's Start menu and on its desktop (which Wine
    links to the real home folder): remove them."""
    yield
    users = harness.WINEPREFIX / "drive_c" / "users"
    for shortcut in users.glob("*/Desktop/Plovatek Studio.lnk"):
        shortcut.unlink()
    for folder in users.glob("*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Plovatek"):
        for entry in folder.iterdir():
            entry.unlink()
        folder.rmdir()


@pytest.mark.parametrize("copy_present", [False, True])
def test_registration_happens_only_with_the_launcher_copy(install_home, version_folder, run_launcher, registry,
                                                          no_shortcuts_left, copy_present):
    registry.clean(*REGISTERED_KEYS)
    if copy_present:
        (install_home / "PlovatekLauncher.exe").write_bytes(harness.LAUNCHER.read_bytes())
    # No website: the update fails, and the installed version's name is registered.
    run = run_launcher(["--no-start", "--home", install_home], env=without_menu_builder())
    assert run.exit_code == 0
    assert run.boxes == []
    entry = registry.read(UNINSTALL_KEY)
    if copy_present:
        assert entry is not None
        assert entry["DisplayVersion"] == VERSION
        assert entry["UninstallString"] == f'"{windows_path(install_home / "PlovatekLauncher.exe")}" --uninstall'
    else:
        assert entry is None



def test_a_first_install_makes_the_copy_registers_and_names_the_new_version(install_home, run_launcher, website,
                                                                          registry, no_shortcuts_left):
    registry.clean(*REGISTERED_KEYS)
    releases.publish(website.root, "3.0.0", {})
    run = run_launcher(["--website", website.url, "--home", install_home], expect_urls=1,
                       env=without_menu_builder())
    assert run.exit_code == 0
    assert [box.text for box in run.boxes] == [installed_box("3.0.0")]
    assert [url["argv"][1:] for url in run.urls()] == [[website.url + "/games"]]
    assert (install_home / "current.txt").read_bytes() == b"3.0.0\n"
    assert (install_home / "PlovatekLauncher.exe").read_bytes() == harness.LAUNCHER.read_bytes()
    assert (install_home / "website.txt").read_bytes() == website.url.encode() + b"\n"
    assert registry.read(UNINSTALL_KEY)["DisplayVersion"] == "3.0.0"


@pytest.fixture
def unwritable():
    """Makes a file readable but not writable, for Wine too (which, run by root, writes files
    whatever their mode); undone after the test so that it can be cleaned away."""
    made = []

    def make(path: Path) -> None:
        path.chmod(0o444)
        if os.geteuid() == 0:
            if subprocess.run(["chattr", "+i", str(path)], capture_output=True).returncode == 0:
                made.append(path)
        try:
            with open(path, "ab"):
                pytest.skip("no way to keep this user from writing a file here")
        except PermissionError:
            pass

    yield make
    for path in made:
        subprocess.run(["chattr", "-i", str(path)], capture_output=True)


@pytest.mark.parametrize("in_the_way", ["a folder", "an older version, read-only"])
def test_a_current_txt_that_cannot_be_written_still_starts_the_version_just_checked(
        install_home, run_launcher, website, registry, no_shortcuts_left, unwritable, in_the_way):
    # The release is already in place, so the update only rewrites current.txt, which fails
    # here: the version the update has just checked is complete, so its client starts, not the
    # one current.txt may still name, and it is the version registered.
    registry.clean(*REGISTERED_KEYS)
    releases.publish(website.root, "3.0.0", {})
    folder = install_version(install_home, "3.0.0", current=False)
    current = install_home / "current.txt"
    if in_the_way == "a folder":
        current.mkdir()
    else:
        install_version(install_home, "2.0.0")
        unwritable(current)
    run = run_launcher(["plovatek:play?game=1", "--website", website.url, "--home", install_home],
                       expect_clients=1, env=without_menu_builder())
    assert run.exit_code == 0
    assert run.boxes == []
    [client] = run.clients()
    assert client["exe"] == windows_path(folder / "plovatek_player.exe")
    assert client["workingFolder"] == windows_path(folder)
    assert registry.read(UNINSTALL_KEY)["DisplayVersion"] == "3.0.0"


# --- the progress window -----------------------------------------------------------------------

def test_the_window_shows_while_the_update_waits_and_closing_it_ends_with_exit_code_1(
        install_home, version_folder, run_launcher, website):
    # The website takes its time over the manifest: the job waits on it with the window up.
    website.answer("/client/manifest.json", delay=20)
    run = run_launcher(["plovatek:play?game=1", "--website", website.url, "--home", install_home],
                       close_window_after=1.0)
    assert run.exit_code == 1
    assert run.seconds < 10  # long before the manifest could have arrived
    assert website.paths() == ["/client/manifest.json"]
    assert run.boxes == []
    assert started(run, wait=1.0) == []

    shown = [state for state in run.windows if state["visible"]]
    assert shown, "the progress window never showed"
    window = shown[-1]
    assert (window["className"], window["title"]) == ("PlovatekLauncher", "Plovatek")
    shape = 0x00CA0000 | 0x00010000 | 0x00040000 | 0x80000000 | 0x40000000  # + maximise, sizing, popup, child
    assert window["style"] & shape == 0x00CA0000
    assert (window["client"]["width"], window["client"]["height"]) == (440, 150)
    width = window["rect"]["right"] - window["rect"]["left"]
    height = window["rect"]["bottom"] - window["rect"]["top"]
    assert window["rect"]["left"] == (window["screen"]["width"] - width) // 2
    assert window["rect"]["top"] == (window["screen"]["height"] - height) // 2
    # "Checking for updates..." with no measurable progress: the empty track, and text in its box.
    assert window["barRow"] == [[BACKGROUND, 24], [TRACK, 392], [BACKGROUND, 24]]
    ink = window["textInk"]
    assert ink is not None
    assert 24 <= ink["left"] and ink["right"] <= 416 and 28 <= ink["top"] and ink["bottom"] <= 70

    kinds = [state["kind"] for state in run.window_states]
    assert kinds[-1] == "windowGone" and "windowClose" in kinds
    # Between the close and its end the driver may catch the window being destroyed, never shown.
    assert not any(state["visible"] for state in run.window_states[kinds.index("windowClose") + 1:-1])
