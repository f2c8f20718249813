"""How PlovatekLauncher.exe is built: what Windows reads from the file before any code runs."""

import re
import xml.etree.ElementTree as ElementTree

import pytest

import harness
import pe_file


@pytest.fixture(scope="module")
def launcher():
    if not harness.LAUNCHER.exists():
        pytest.fail(f"not built: {harness.LAUNCHER} (./dev build)", pytrace=False)
    return pe_file.PeFile(harness.LAUNCHER.read_bytes())


def test_is_a_64_bit_windows_gui_program(launcher):
    assert (launcher.machine, launcher.magic) == (pe_file.MACHINE_AMD64, pe_file.PE32_PLUS)
    assert launcher.subsystem == pe_file.SUBSYSTEM_WINDOWS_GUI


def test_needs_no_dll_but_windows_own(launcher):
    system32 = harness.WINEPREFIX / "drive_c" / "windows" / "system32"
    if not system32.is_dir():
        pytest.fail("no Wine prefix to tell system DLLs from others (./dev test makes it)", pytrace=False)
    system_dlls = {p.name.lower() for p in system32.iterdir()}
    imported = launcher.imported_dlls()
    assert imported, "the import table is empty"
    assert [dll for dll in imported if dll.lower() not in system_dlls] == []
    assert list(harness.LAUNCHER.parent.glob("*.dll")) == []


def test_manifest_runs_as_the_invoking_user_without_dpi_awareness(launcher):
    manifests = {key: data for key, data in launcher.resources().items() if key[0] == pe_file.RT_MANIFEST}
    # Id 1 is the manifest Windows applies when it creates the process.
    assert [key[1] for key in manifests] == [1]
    document = ElementTree.fromstring(next(iter(manifests.values())))
    levels = [e for e in document.iter() if e.tag.endswith("}requestedExecutionLevel")]
    assert [(e.get("level"), e.get("uiAccess")) for e in levels] == [("asInvoker", "false")]
    dpi = [e.tag for e in document.iter() if e.tag.rsplit("}", 1)[-1].lower() in ("dpiaware", "dpiawareness")]
    assert dpi == []


def test_carries_the_project_version(launcher):
    versions = [data for key, data in launcher.resources().items() if key[0] == pe_file.RT_VERSION]
    assert len(versions) == 1
    info = pe_file.parse_version_resource(versions[0])
    project = re.search(r"project\(Plovatek VERSION (\d+)\.(\d+)\.(\d+)",
                        (harness.ROOT / "CMakeLists.txt").read_text()).groups()
    expected = tuple(int(n) for n in project) + (0,)
    assert (info.file_version, info.product_version) == (expected, expected)
    assert info.strings["OriginalFilename"] == "PlovatekLauncher.exe"
    assert info.strings["ProductName"] == "Plovatek"
