"""The parser's events on every case of the YAML test suite, compared with the
case's test.event: tags after expansion, anchors, aliases, scalar and
collection styles and document markers, which the loaded values cannot show.

A valid case passes when the events match exactly. An invalid case passes
when it is refused and the events written before the error agree with the
expected ones as far as both go (where an error is noticed may differ by a
few events). KNOWN lists the cases that do not pass, each with its reason; a
listed case that starts passing fails the test too, so the list stays true.
"""

import importlib.util
import os
import pathlib
import subprocess

import pytest

SUITE = pathlib.Path(
    os.environ.get("QUARVEL_YAML_TEST_SUITE")
    or pathlib.Path(__file__).resolve().parents[3] / "shared" / "yaml-test-suite"
)
CORE_CONFTEST = pathlib.Path(__file__).resolve().parents[1] / "core" / "conftest.py"

ESCAPED_TAB = "a backslash followed by a literal tab in a double-quoted scalar is rejected as an unknown escape"
BLOCK_KEY = "a block sequence or block mapping used as a mapping key is rejected"
OTHER_INPUT = "the suite's events for this invalid case belong to another input (+SEQ, +SEQ [] for a mapping)"
TAB_ACCEPTED = "a tab the suite refuses here is accepted as white space"

KNOWN = {
    "3RLN/01": ESCAPED_TAB,
    "3RLN/04": ESCAPED_TAB,
    "DE56/02": ESCAPED_TAB,
    "DE56/03": ESCAPED_TAB,
    "KH5V/01": ESCAPED_TAB,
    "6PBE": BLOCK_KEY,
    "KK5P": BLOCK_KEY,
    "M2N8/00": BLOCK_KEY,
    "M2N8/01": BLOCK_KEY,
    "M5DY": BLOCK_KEY,
    "RZP5": BLOCK_KEY,
    "V9D5": BLOCK_KEY,
    "XW4D": BLOCK_KEY,
    "L24T/01": "clip adds no line feed when the input ends on a content line without a break,"
    " as the Python loaders read it",
    "T833": "the suite's events for this invalid case write a flow mapping as +MAP, without {}",
    "Y79Y/000": TAB_ACCEPTED,
    "Y79Y/003": TAB_ACCEPTED,
    "Y79Y/004": TAB_ACCEPTED,
    "Y79Y/005": TAB_ACCEPTED,
    "Y79Y/006": OTHER_INPUT,
    "Y79Y/007": OTHER_INPUT,
    "Y79Y/008": OTHER_INPUT,
    "Y79Y/009": OTHER_INPUT,
}


def _load_core_build():
    found = importlib.util.spec_from_file_location("quarvel_core_build", CORE_CONFTEST)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


CORE_BUILD = _load_core_build()


@pytest.fixture(scope="module")
def events_program():
    return CORE_BUILD.build_core_programs() / "yaml_events"


def case_dirs():
    if not SUITE.is_dir():
        return []
    found = []
    for path in sorted(SUITE.iterdir()):
        if (path / "in.yaml").is_file():
            found.append(path)
        elif path.is_dir():
            found.extend(sorted(p for p in path.iterdir() if (p / "in.yaml").is_file()))
    return found


def case_id(path):
    return str(path.relative_to(SUITE))


def check_case(program, path):
    """None when the case passes, else a short description of the failure."""
    done = subprocess.run([program, path / "in.yaml"], capture_output=True, timeout=60,
                          env=CORE_BUILD.clean_env())
    got = done.stdout.decode("utf-8", "replace").splitlines()
    want = (path / "test.event").read_text(encoding="utf-8").splitlines()
    error = done.stderr.decode("utf-8", "replace").strip()
    if (path / "error").exists():
        if done.returncode == 0:
            return "invalid input was accepted"
        shared = min(len(got), len(want))
        if got[:shared] != want[:shared]:
            return first_difference(got, want)
        return None
    if done.returncode != 0:
        return f"valid input rejected: {error}"
    if got != want:
        return first_difference(got, want)
    return None


def first_difference(got, want):
    for i, (g, w) in enumerate(zip(got, want)):
        if g != w:
            return f"event {i + 1}: got {g!r}, want {w!r}"
    return f"got {len(got)} events, want {len(want)}"


CASES = case_dirs()


@pytest.mark.skipif(not SUITE.is_dir(), reason=f"the YAML test suite is not at {SUITE}")
@pytest.mark.parametrize("path", CASES, ids=[case_id(p) for p in CASES])
def test_case_events(events_program, path):
    failure = check_case(events_program, path)
    cid = case_id(path)
    if cid in KNOWN:
        assert failure is not None, f"{cid} passes now: remove it from KNOWN ({KNOWN[cid]})"
    else:
        assert failure is None, failure


@pytest.mark.skipif(not SUITE.is_dir(), reason=f"the YAML test suite is not at {SUITE}")
def test_known_list_names_real_cases():
    ids = {case_id(p) for p in CASES}
    assert not set(KNOWN) - ids
