"""What the tool signs with OpenSSL, the launcher's CNG code accepts under Wine,
and only that; and what CNG signs, the tool's OpenSSL code accepts."""

import hashlib
import json

import pytest

from conftest import TEST_PRIVATE_KEY, TEST_PUBLIC_KEY

NOT_SIGNED = "refused: The update isn't signed by Plovatek, so it wasn't installed"


def der(raw):
    """The same r||s signature in DER form, as OpenSSL's own output would be."""
    def integer(value):
        value = value.lstrip(b"\0") or b"\0"
        if value[0] & 0x80:
            value = b"\0" + value
        return b"\x02" + bytes([len(value)]) + value
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


@pytest.fixture
def published(tool, tmp_path, release):
    site = tmp_path / "site"
    launcher = tmp_path / "PlovatekLauncher.exe"
    launcher.write_bytes(b"MZ launcher")
    tool("publish", "--site", site, "--key", TEST_PRIVATE_KEY, "--version", "3.1", "--launcher", launcher, release,
         check=0)
    return site / "client"


def test_the_launcher_accepts_a_release_signed_by_the_tool(checker, published):
    done = checker.manifest(published / "manifest.json", published / "manifest.sig")
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.split() == ["accepted", "3.1", "3", hashlib.sha256(b"MZ launcher").hexdigest()]


def test_the_launcher_refuses_every_altered_pair(checker, tool, tmp_path, release, published):
    manifest = (published / "manifest.json").read_bytes()
    signature = (published / "manifest.sig").read_bytes()
    other_site = tmp_path / "other"
    tool("keygen", "--out", tmp_path / "other-key", check=0)
    tool("publish", "--site", other_site, "--key", tmp_path / "other-key" / "release_private.pem", "--version", "3.1",
         release, check=0)
    changed = bytearray(manifest)
    changed[manifest.index(b"3.1")] = ord("4")
    pairs = {
        "one byte changed": (bytes(changed), signature),
        "another key": ((other_site / "client" / "manifest.json").read_bytes(),
                        (other_site / "client" / "manifest.sig").read_bytes()),
        "63 bytes": (manifest, signature[:63]),
        "65 bytes": (manifest, signature + b"\n"),
        "DER form": (manifest, der(signature)),
        "empty": (manifest, b""),
    }
    assert 70 <= len(der(signature)) <= 72
    for name, (json_bytes, sig_bytes) in pairs.items():
        (tmp_path / "m.json").write_bytes(json_bytes)
        (tmp_path / "m.sig").write_bytes(sig_bytes)
        done = checker.manifest(tmp_path / "m.json", tmp_path / "m.sig")
        assert (done.returncode, done.stdout.strip()) == (1, NOT_SIGNED), name


def test_the_tool_accepts_a_release_signed_with_cng(checker, tool, tmp_path):
    client = tmp_path / "site" / "client"
    (client / "files").mkdir(parents=True)
    data = b"MZ player from elsewhere"
    fingerprint = hashlib.sha256(data).hexdigest()
    (client / "files" / fingerprint).write_bytes(data)
    manifest = {"version": "9.0", "files": [{"path": "plovatek_player.exe", "sha256": fingerprint, "size": len(data)}]}
    (client / "manifest.json").write_bytes(json.dumps(manifest).encode())
    signed = checker.sign(client / "manifest.json", client / "manifest.sig")
    assert signed.returncode == 0, signed.stderr
    cng_key = signed.stdout.strip()
    assert len((client / "manifest.sig").read_bytes()) == 64
    done = checker.signature(client / "manifest.json", client / "manifest.sig", cng_key)
    assert (done.returncode, done.stdout.strip()) == (0, "valid")
    assert "All is well: version 9.0" in tool("verify", "--site", tmp_path / "site", "--public-key", cng_key,
                                             check=0).stdout
    tool("verify", "--site", tmp_path / "site", "--public-key", TEST_PUBLIC_KEY, check=1)
