"""Releases for end-to-end tests, published and stamped with the operators' own tool
(plovatek-release, from the native build) and signed with the TEST release key."""

from __future__ import annotations

import shutil
import subprocess
from pathlib import Path

import harness

TOOL = harness.BUILD / "native" / "tools" / "release" / "plovatek-release"
TEST_KEY = harness.ROOT / "tests" / "keys" / "test_release_private.pem"
CLIENTS = {"plovatek_player.exe": harness.PLAYER, "plovatek_studio.exe": harness.STUDIO}


def publish(site: Path, version: str, files: dict[str, bytes | Path], *, launcher: Path | None = None,
            clients: bool = True) -> None:
    """Publishes a release into the website tree at site. files maps relative paths (with '/')
    to bytes or to a file to copy; the stand-in clients are added unless clients is False."""
    release = site.parent / f"release-{version}"
    shutil.rmtree(release, ignore_errors=True)
    entries = {**(CLIENTS if clients else {}), **files}
    for relative, content in entries.items():
        target = release / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(content, Path):
            shutil.copy(content, target)
        else:
            target.write_bytes(content)
    command = [str(TOOL), "publish", "--site", str(site), "--key", str(TEST_KEY), "--version", version]
    if launcher is not None:
        command += ["--launcher", str(launcher)]
    subprocess.run([*command, str(release)], check=True, capture_output=True)


def stamp(launcher: Path, address: str, out: Path) -> Path:
    """A copy of the launcher as the website serves it: with the website stamp at its end."""
    subprocess.run([str(TOOL), "stamp", "--address", address, str(launcher), str(out)], check=True,
                   capture_output=True)
    return out
