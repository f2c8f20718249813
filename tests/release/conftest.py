"""Fixtures for the tests of plovatek-release: the native tool, the TEST key, and
the launcher's own manifest code cross-built as manifest_check.exe, run under Wine."""

import os
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("PLOVATEK_BUILD", ROOT / "build"))
TOOL = BUILD / "native" / "tools" / "release" / "plovatek-release"
CHECKER = BUILD / "windows" / "tests" / "release" / "manifest_check.exe"
TEST_PRIVATE_KEY = ROOT / "tests" / "keys" / "test_release_private.pem"
TEST_PUBLIC_KEY = (ROOT / "tests" / "keys" / "test_release_public.hex").read_text().strip()


class Tool:
    """Runs plovatek-release and keeps what it said."""

    def __call__(self, *args, check=None):
        done = subprocess.run([str(TOOL), *map(str, args)], capture_output=True, text=True, errors="replace",
                              timeout=120)
        if check is not None:
            assert done.returncode == check, f"exit {done.returncode}\nstdout: {done.stdout}\nstderr: {done.stderr}"
        return done


@pytest.fixture
def tool():
    if not TOOL.exists():
        pytest.fail(f"{TOOL} is not built: run ./dev build")
    return Tool()


def windows_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


class Checker:
    """The launcher's ParseReleaseManifest and VerifyReleaseSignature on CNG, under Wine."""

    def run(self, *args):
        return subprocess.run([str(ROOT / "cmake" / "wine-run.sh"), str(CHECKER), *args],
                              capture_output=True, text=True, timeout=120)

    def manifest(self, manifest, signature):
        return self.run("manifest", windows_path(manifest), windows_path(signature))

    def signature(self, data, signature, key_hex):
        return self.run("signature", windows_path(data), windows_path(signature), key_hex)

    def sign(self, data, signature_out):
        return self.run("sign", windows_path(data), windows_path(signature_out))


def built_key(preset):
    cache = BUILD / preset / "CMakeCache.txt"
    for line in cache.read_text().splitlines():
        if line.startswith("PLOVATEK_RELEASE_PUBLIC_KEY:"):
            return line.split("=", 1)[1].strip().lower()
    return None


@pytest.fixture
def checker():
    if not CHECKER.exists():
        pytest.fail(f"{CHECKER} is not built: run ./dev build")
    if built_key("windows") != TEST_PUBLIC_KEY:
        pytest.skip("the Windows build does not carry the TEST release key (./dev build gives it that key)")
    return Checker()


@pytest.fixture
def release(tmp_path):
    """A small release folder: the two clients and a data file in a subfolder."""
    folder = tmp_path / "release"
    (folder / "data" / "levels").mkdir(parents=True)
    (folder / "plovatek_player.exe").write_bytes(b"MZ player")
    (folder / "plovatek_studio.exe").write_bytes(b"MZ studio")
    (folder / "data" / "levels" / "one.plovlvl").write_bytes(bytes(range(256)) * 40)
    return folder
