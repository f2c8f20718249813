"""The helper programs and fixtures that the scenarios rely on, checked against known input."""

import pytest

import harness
from harness import SHOW_BOX, windows_path

# (MessageBoxW style, text, answer, what MessageBoxW must return, buttons, icon, default button)
BOXES = [
    (0x00040024, "Take it?", "yes", 6, ["Yes", "No"], "question", 6),
    (0x00040030, "Zeile 1\nZeile 2 – ä € 😀 \"quoted\" \\", "ok", 1, ["OK"], "exclamation", 1),
    (0x00040040, "Done.", "ok", 1, ["OK"], "information", 1),
    (0x00000010, "Broken.", "ok", 1, ["OK"], "error", 1),
    (0x00000001, "No icon.", "cancel", 2, ["OK", "Cancel"], "none", 1),
    # Retry is not on the box: the driver falls back to No rather than leave it open.
    (0x00000003, "Three.", "retry", 7, ["Yes", "No", "Cancel"], "none", 6),
    # Past the end of the answers: OK.
    (0x00000000, "Last.", None, 1, ["OK"], "none", 1),
]


def test_ui_driver_reads_and_answers_boxes_over_the_progress_window(run_program):
    args = ["--window"]
    for style, text, *_ in BOXES:
        args += [hex(style), text]
    run = run_program(SHOW_BOX, args, answers=[b[2] for b in BOXES if b[2]])

    assert run.exit_code == 0
    assert [int(line) for line in run.stdout.split()] == [b[3] for b in BOXES]
    seen = [(box.title, box.text, box.buttons, box.icon, box.default_button) for box in run.boxes]
    assert seen == [("Plovatek", text, buttons, icon, default)
                    for _, text, _, _, buttons, icon, default in BOXES]

    window = run.windows[0]
    assert (window["className"], window["title"]) == ("PlovatekLauncher", "Plovatek")
    assert (window["client"]["width"], window["client"]["height"]) == (440, 150)
    assert window["style"] & 0x00CA0000 == 0x00CA0000
    assert run.window_states[-1]["kind"] == "windowGone"


def test_stand_in_clients_record_how_they_were_started(wine_environment, tmp_path):
    record = tmp_path / "clients.jsonl"
    folder = tmp_path / "version folder"
    folder.mkdir()
    arguments = ["plovatek:play?game=1&origin=http%3A%2F%2Fx", "a file with spaces.plovlvl"]
    for exe in (harness.PLAYER, harness.STUDIO):
        harness.wine(exe, *arguments, cwd=folder, env={"PLOVATEK_CLIENT_RECORD": windows_path(record)})
    records = harness.read_records(record)
    assert [r["exe"].rsplit("\\", 1)[-1] for r in records] == ["plovatek_player.exe", "plovatek_studio.exe"]
    for r in records:
        assert r["argv"][1:] == arguments
        assert r["workingFolder"] == windows_path(folder)
        assert r["commandLine"].endswith('"a file with spaces.plovlvl"')


@pytest.mark.parametrize("url", ["http://127.0.0.1:8/games", "https://example.test/games?a=1&b=%22x%22"])
def test_opening_a_web_address_reaches_the_url_recorder(url_handler, tmp_path, url):
    record = tmp_path / "urls.jsonl"
    harness.wine(harness.SHELL_OPEN, url, env={"PLOVATEK_URL_RECORD": windows_path(record)})
    assert [u["argv"][1:] for u in harness.wait_for_records(record, 1)] == [[url]]


def test_registry_values_round_trip_and_clean_up(registry):
    key = r"HKCU\Software\PlovatekHarnessCheck"
    registry.clean(key)
    values = {"": "default", 'name "quoted"': 'C:\\Program Files\\x.exe "%1"', "empty": ""}
    harness.set_string_values(key + r"\sub key", values)
    harness.wine("reg", "add", key, "/v", "Number", "/t", "REG_DWORD", "/d", "12", "/f")
    harness.wine("reg", "add", key, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", r"%TEMP%\x", "/f")

    tree = registry.export(key)
    assert tree[""] == {"Number": ("REG_DWORD", 12), "Path": ("REG_EXPAND_SZ", r"%TEMP%\x")}
    assert registry.read(key + r"\sub key") == values

    registry.clean(key)
    assert not registry.exists(key)
    with pytest.raises(ValueError):
        registry.clean(r"HKCU\Software")
