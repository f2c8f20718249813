"""Fixtures of the end-to-end tests: the real launcher under Wine, the UI driver beside it,
a fresh install home, a local website, the registry. See README.md in this folder."""

from __future__ import annotations

import os
from pathlib import Path

import pytest

import harness
from website import Website

@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A failed test shows every program run it made: exit code, boxes, windows, clients."""
    outcome = yield
    report = outcome.get_result()
    runner = item.funcargs.get("_program_runner") if hasattr(item, "funcargs") else None
    if report.when == "call" and report.failed and runner is not None and runner.runs:
        report.sections.append(("program runs under Wine", runner.summary()))


@pytest.fixture(scope="session")
def wine_environment():
    """Fails (never skips) the tests that start Windows programs when the build or the Wine
    set-up of ./dev is missing: a run without them must not pass."""
    missing = [str(p) for p in (harness.LAUNCHER, harness.UI_DRIVER, harness.PLAYER) if not p.exists()]
    if missing:
        pytest.fail("not built: " + ", ".join(missing) + " (./dev build)", pytrace=False)
    if not os.environ.get("DISPLAY") or not (harness.WINEPREFIX / "system.reg").exists():
        pytest.fail("no Wine prefix or X display: run through ./dev test or ./dev wine", pytrace=False)


@pytest.fixture(scope="session")
def url_handler(wine_environment):
    """The shell's http/https handler points at url_recorder.exe for the whole session, so
    opening a web page is recorded instead of starting a browser; restored afterwards."""
    before = harness.point_web_links_at(f'"{harness.windows_path(harness.URL_RECORDER)}" "%1"')
    yield harness.URL_RECORDER
    harness.restore_web_links(before)


@pytest.fixture
def _program_runner(tmp_path, url_handler):
    return harness.ProgramRunner(tmp_path / "runs")


@pytest.fixture
def run_launcher(_program_runner):
    """run_launcher(args, answers=(), env=None, timeout=30, cwd=None, exe=LAUNCHER,
    expect_clients=0, expect_urls=0, close_window_after=None) -> ProgramRun. See harness.ProgramRunner.run."""

    def run(args=(), *, exe: Path = harness.LAUNCHER, **options) -> harness.ProgramRun:
        return _program_runner.run(exe, args, **options)

    return run


@pytest.fixture
def run_program(_program_runner):
    """run_program(exe, args, ...): like run_launcher, for any Windows program."""
    return _program_runner.run


@pytest.fixture
def install_home(tmp_path) -> Path:
    """A fresh, existing install home whose path has spaces in it. Pass it as
    ["--home", install_home]: Path arguments reach Windows as Z:\\... paths."""
    home = tmp_path / "Plovatek install home"
    home.mkdir()
    return home


@pytest.fixture
def website(tmp_path):
    """A local website serving tmp_path/website (see website.Website)."""
    with Website(tmp_path / "website") as site:
        yield site


@pytest.fixture
def registry(wine_environment):
    """harness.Registry: read keys through Wine; keys given to clean() are deleted before
    and after the test."""
    access = harness.Registry()
    yield access
    access.finish()

