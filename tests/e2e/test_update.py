"""Updating through the real launcher: what it asks the website for, what it leaves in the
install home, what the user is told when a release comes out wrong, and how the launcher copy
follows the release's launcher."""

import hashlib
import json

import pytest

import harness
import releases
from harness import INFORMATION, WARNING, install_version, marker_text, windows_path
from test_launch import REGISTERED_KEYS, installed_box, no_shortcuts_left, without_menu_builder  # noqa: F401

MANIFEST, SIGNATURE = "/client/manifest.json", "/client/manifest.sig"
USER_AGENT = "PlovatekLauncher/1.0"


def file_request(data: bytes) -> str:
    return "/client/files/" + hashlib.sha256(data).hexdigest()


def file_requests(website) -> list[str]:
    """The request path of each file of the published release, in manifest order."""
    manifest = json.loads((website.root / "client" / "manifest.json").read_bytes())
    return ["/client/files/" + entry["sha256"] for entry in manifest["files"]]


def versions(home) -> list[str]:
    return sorted(entry.name for entry in (home / harness.VERSIONS).iterdir())


@pytest.fixture
def registering(registry, no_shortcuts_left):  # noqa: F811
    """A run that succeeds registers the platform (keys, shortcuts): clean up after it."""
    registry.clean(*REGISTERED_KEYS)
    return without_menu_builder()


def test_an_update_fetches_only_changed_files_and_keeps_two_versions(install_home, run_launcher, website,
                                                                   registering):
    args = ["--no-start", "--website", website.url, "--home", install_home]
    releases.publish(website.root, "1.0", {"data/same.pak": b"unchanged", "data/level.pak": b"level one"})
    first = run_launcher(args, env=registering)
    assert (first.exit_code, first.boxes) == (0, [])
    assert website.paths() == [MANIFEST, SIGNATURE, *file_requests(website)]

    # The clients and data/same.pak are the installed version's bytes again: only one file is new.
    releases.publish(website.root, "2.0", {"data/same.pak": b"unchanged", "data/level.pak": b"level two"})
    before = len(website.requests)
    second = run_launcher(args, env=registering)
    assert (second.exit_code, second.boxes) == (0, [])
    assert website.paths()[before:] == [MANIFEST, SIGNATURE, file_request(b"level two")]
    folder = install_home / harness.VERSIONS / "2.0"
    assert (folder / "data" / "same.pak").read_bytes() == b"unchanged"
    assert (folder / "data" / "level.pak").read_bytes() == b"level two"
    assert (folder / "plovatek_player.exe").read_bytes() == harness.PLAYER.read_bytes()
    assert (folder / "manifest.json").read_bytes() == (website.root / "client" / "manifest.json").read_bytes()
    assert (folder / "manifest.sig").read_bytes() == (website.root / "client" / "manifest.sig").read_bytes()
    assert (folder / harness.MARKER).read_bytes() == marker_text("2.0")
    assert (install_home / harness.CURRENT).read_bytes() == b"2.0\n"
    assert versions(install_home) == ["1.0", "2.0"]

    releases.publish(website.root, "3.0", {"data/level.pak": b"level three"})
    third = run_launcher(args, env=registering)
    assert (third.exit_code, third.boxes) == (0, [])
    assert (install_home / harness.CURRENT).read_bytes() == b"3.0\n"
    assert versions(install_home) == ["2.0", "3.0"]


def test_an_installed_release_is_made_current_with_the_two_manifest_requests_alone(install_home, run_launcher,
                                                                                   website, registering):
    # The typical start: the copy in the install home, a link, the address from website.txt.
    releases.publish(website.root, "3.0.0", {})
    folder = install_version(install_home, "3.0.0", current=False)
    install_version(install_home, "2.0.0")
    (install_home / harness.WEBSITE_FILE).write_bytes(website.url.encode() + b"\n")
    copy = install_home / "PlovatekLauncher.exe"
    copy.write_bytes(harness.LAUNCHER.read_bytes())
    run = run_launcher(["plovatek:play?game=7", "--home", install_home], exe=copy, expect_clients=1,
                       env=registering)
    assert run.exit_code == 0
    assert run.boxes == []
    assert website.paths() == [MANIFEST, SIGNATURE]
    assert (install_home / harness.CURRENT).read_bytes() == b"3.0.0\n"
    # The copy already is the running launcher: left alone, nothing moved aside.
    assert copy.read_bytes() == harness.LAUNCHER.read_bytes()
    assert not (install_home / "PlovatekLauncher.old.exe").exists()
    [client] = run.clients()
    assert client["exe"] == windows_path(folder / "plovatek_player.exe")
    assert client["argv"][1:] == ["plovatek:play?game=7"]
    # Nothing was built, so nothing was cleaned up.
    assert versions(install_home) == ["2.0.0", "3.0.0"]


def test_a_file_that_comes_out_wrong_fails_the_update_and_the_installed_version_starts(install_home, run_launcher,
                                                                                      website):
    installed = install_version(install_home, "1.0.0")
    releases.publish(website.root, "2.0.0", {"data/level.pak": b"the real level"})
    wrong = file_request(b"the real level")
    website.answer(wrong, corrupt=True)
    run = run_launcher(["plovatek:play?game=1", "--website", website.url, "--home", install_home],
                       expect_clients=1)
    assert run.exit_code == 0
    assert [box.text for box in run.boxes] == [
        "Plovatek couldn't update (data/level.pak came out wrong (it didn't match its fingerprint): try again). "
        "Starting the version you have."]
    assert run.boxes[0].look() == WARNING
    files = file_requests(website)
    assert website.paths() == [MANIFEST, SIGNATURE, *files[: files.index(wrong) + 1]]
    [client] = run.clients()
    assert client["exe"] == windows_path(installed / "plovatek_player.exe")
    assert (install_home / harness.CURRENT).read_bytes() == b"1.0.0\n"
    # The unfinished build stays for the next run to start again; no launcher copy was made.
    assert versions(install_home) == ["1.0.0", "2.0.0.partial"]
    assert not (install_home / "PlovatekLauncher.exe").exists()


def test_a_first_install_from_a_website_without_a_release_says_where_it_looked(install_home, run_launcher,
                                                                                website):
    run = run_launcher(["--website", website.url, "--home", install_home])
    assert run.exit_code == 1
    assert [box.text for box in run.boxes] == [
        "Plovatek couldn't be installed:\nThe website said 404 (there's no release on it yet)\n\n"
        f"(From {website.url})"]
    assert run.boxes[0].look() == WARNING
    assert website.paths() == [MANIFEST]  # no signature without a manifest
    assert harness.snapshot(install_home) == {}


def test_a_gzip_encoded_manifest_is_read(install_home, run_launcher, website, registering):
    releases.publish(website.root, "1.0.0", {})
    website.answer(MANIFEST, encoding="gzip")  # encoded when the request accepts gzip
    run = run_launcher(["--no-start", "--website", website.url, "--home", install_home], env=registering)
    [request] = website.requests_for(MANIFEST)
    if "gzip" not in (request.header("Accept-Encoding") or ""):
        pytest.skip("Wine 8 refuses WINHTTP_OPTION_DECOMPRESSION (error 12009): the launcher cannot ask for "
                    "gzip, and gzip bodies would arrive compressed")
    assert (run.exit_code, run.boxes) == (0, [])
    assert (install_home / harness.CURRENT).read_bytes() == b"1.0.0\n"


def test_running_from_the_copy_replaces_it_with_the_releases_launcher(tmp_path, install_home, run_launcher, website,
                                                                     registering):
    # Another build of the launcher: the same program with bytes appended after its image.
    new_launcher = tmp_path / "new build" / "PlovatekLauncher.exe"
    new_launcher.parent.mkdir()
    new_launcher.write_bytes(harness.LAUNCHER.read_bytes() + b"\0another build\0" * 4)
    releases.publish(website.root, "1.0.0", {}, launcher=new_launcher)
    copy, old = install_home / "PlovatekLauncher.exe", install_home / "PlovatekLauncher.old.exe"
    copy.write_bytes(harness.LAUNCHER.read_bytes())
    args = ["--no-start", "--website", website.url, "--home", install_home]

    run = run_launcher(args, exe=copy, env=registering)
    assert (run.exit_code, run.boxes) == (0, [])
    # The release first, then the launcher, fetched like any release file.
    assert website.paths() == [MANIFEST, SIGNATURE, *file_requests(website), file_request(new_launcher.read_bytes())]
    assert old.read_bytes() == harness.LAUNCHER.read_bytes()  # the running file, moved aside
    assert copy.read_bytes() == new_launcher.read_bytes()

    before = len(website.requests)
    again = run_launcher(args, exe=copy, env=registering)
    assert (again.exit_code, again.boxes) == (0, [])
    assert website.paths()[before:] == [MANIFEST, SIGNATURE]  # it already is the release's launcher
    assert not old.exists()
    assert copy.read_bytes() == new_launcher.read_bytes()


def test_a_stamped_download_installs_and_leaves_an_unstamped_copy_and_website_txt(tmp_path, install_home,
                                                                                   run_launcher, website,
                                                                                   registering):
    # The release's launcher is this very program: without its stamp it needs no download.
    releases.publish(website.root, "1.0.0", {}, launcher=harness.LAUNCHER)
    download = tmp_path / "Downloads" / "PlovatekLauncher.exe"
    download.parent.mkdir()
    releases.stamp(harness.LAUNCHER, website.url, download)
    assert download.read_bytes() != harness.LAUNCHER.read_bytes()

    run = run_launcher(["--home", install_home], exe=download, expect_urls=1, env=registering)
    assert run.exit_code == 0
    assert [box.text for box in run.boxes] == [installed_box("1.0.0")]
    assert run.boxes[0].look() == INFORMATION
    assert [url["argv"][1:] for url in run.urls()] == [[website.url + "/games"]]
    assert website.paths() == [MANIFEST, SIGNATURE, *file_requests(website)]
    assert {(request.method, request.user_agent) for request in website.requests} == {("GET", USER_AGENT)}
    assert (install_home / "PlovatekLauncher.exe").read_bytes() == harness.LAUNCHER.read_bytes()
    assert (install_home / harness.WEBSITE_FILE).read_bytes() == website.url.encode() + b"\n"
    assert (install_home / harness.CURRENT).read_bytes() == b"1.0.0\n"


def test_clearing_old_versions_never_follows_a_link(tmp_path, install_home, run_launcher, website, registering):
    # A folder link in Versions (a junction on Windows; Wine shows a Unix link so): the clean-up
    # after a build takes the link at most, never what it points at.
    elsewhere = tmp_path / "the user's files"
    elsewhere.mkdir()
    (elsewhere / "keep.txt").write_bytes(b"keep")
    (install_home / harness.VERSIONS).mkdir()
    (install_home / harness.VERSIONS / "linked").symlink_to(elsewhere, target_is_directory=True)
    releases.publish(website.root, "1.0", {})
    run = run_launcher(["--no-start", "--website", website.url, "--home", install_home], env=registering)
    assert (run.exit_code, run.boxes) == (0, [])
    assert (install_home / harness.CURRENT).read_bytes() == b"1.0\n"
    assert (elsewhere / "keep.txt").read_bytes() == b"keep"
