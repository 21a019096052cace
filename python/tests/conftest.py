"""Shared fixtures: the bundled lists, the request logs and the tessul
program, found through TESSUL_DATA_DIR and TESSUL_PROGRAM (set by CTest) or
beside this source tree and its build/ directory."""

import os
import pathlib
import subprocess

import pytest

import tessul

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
DATA_DIR = pathlib.Path(os.environ.get("TESSUL_DATA_DIR", SOURCE_DIR / "data"))
PROGRAM = os.environ.get("TESSUL_PROGRAM", str(SOURCE_DIR / "build/cli/tessul"))
BUNDLED_LISTS = [DATA_DIR / "easylist.txt", DATA_DIR / "easyprivacy.txt"]


def read_requests(path):
    """The (url, type, page) tuples of a request log, as the program reads
    them: empty type and page are None."""
    requests = []
    for line in pathlib.Path(path).read_text(encoding="utf-8").split("\n"):
        line = line.removesuffix("\r")
        if not line or line.startswith("#"):
            continue
        url, kind, page = (line.split("\t") + ["", ""])[:3]
        requests.append((url, kind or None, page or None))
    return requests


def run_program(*arguments):
    """The standard output of the tessul program."""
    return subprocess.run(
        [PROGRAM, *arguments], check=True, capture_output=True, text=True
    ).stdout


@pytest.fixture(scope="session")
def bundled_engine():
    engine = tessul.Engine()
    for path in BUNDLED_LISTS:
        engine.parse_file(path)
    return engine


@pytest.fixture(scope="session")
def pageloads():
    return read_requests(DATA_DIR / "pageloads.tsv")


@pytest.fixture(scope="session")
def program_answers():
    """The program's lines for data/pageloads.tsv on the bundled lists, each
    split into (verdict, url, rule, exception)."""
    output = run_program("check", "--requests", str(DATA_DIR / "pageloads.tsv"))
    return [tuple(line.split("\t")) for line in output.splitlines()]
