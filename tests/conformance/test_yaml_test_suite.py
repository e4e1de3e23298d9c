"""Every case of the YAML test suite: valid cases load (to their in.json data
where there is one), invalid cases raise QuarvelParseError.

KNOWN lists the cases that do not pass, each with its reason; a listed case
that starts passing fails the test too, so the list stays true.
"""

import json
import os
import pathlib

import pytest

import _quarvel
from quarvel.exceptions import QuarvelParseError

# The suite lies beside the checkout, in ../shared.
SUITE = pathlib.Path(
    os.environ.get("QUARVEL_YAML_TEST_SUITE")
    or pathlib.Path(__file__).resolve().parents[3] / "shared" / "yaml-test-suite"
)

KNOWN = {
    "3RLN/01": "a backslash followed by a literal tab in a double-quoted scalar is rejected as an unknown escape",
    "3RLN/04": "a backslash followed by a literal tab in a double-quoted scalar is rejected as an unknown escape",
    "DE56/02": "a backslash followed by a literal tab in a double-quoted scalar is rejected as an unknown escape",
    "DE56/03": "a backslash followed by a literal tab in a double-quoted scalar is rejected as an unknown escape",
    "KH5V/01": "a backslash followed by a literal tab in a double-quoted scalar is rejected as an unknown escape",
    "6PBE": "a block sequence or block mapping used as a mapping key is rejected",
    "KK5P": "a block sequence or block mapping used as a mapping key is rejected",
    "M2N8/00": "a block sequence or block mapping used as a mapping key is rejected",
    "M2N8/01": "a block sequence or block mapping used as a mapping key is rejected",
    "M5DY": "a block sequence or block mapping used as a mapping key is rejected",
    "RZP5": "a block sequence or block mapping used as a mapping key is rejected",
    "V9D5": "a block sequence or block mapping used as a mapping key is rejected",
    "XW4D": "a block sequence or block mapping used as a mapping key is rejected",
    "L24T/01": "clip adds no line feed when the input ends on a content line without a break,"
    " as the Python loaders read it",
    "Y79Y/000": "a line holding only a tab is accepted as an empty line",
    "Y79Y/003": "a tab before content inside a flow collection is accepted as a separator",
    "Y79Y/004": "a tab between '-' and a nested '-' is accepted as a separator",
    "Y79Y/005": "a tab between '-' and a nested '-' is accepted as a separator",
}


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


def json_stream(text):
    decoder = json.JSONDecoder()
    docs, i = [], 0
    while True:
        while i < len(text) and text[i].isspace():
            i += 1
        if i >= len(text):
            return docs
        doc, i = decoder.raw_decode(text, i)
        docs.append(doc)


def normalise(value):
    """JSON's view of a loaded value: mapping keys as strings."""
    if isinstance(value, dict):
        return {json.dumps(k) if not isinstance(k, str) else k: normalise(v) for k, v in value.items()}
    if isinstance(value, list):
        return [normalise(v) for v in value]
    return value


def check_case(path):
    """None when the case passes, else a short description of the failure."""
    data = (path / "in.yaml").read_bytes()
    if (path / "error").exists():
        try:
            _quarvel.loads_all(data)
        except QuarvelParseError:
            return None
        return "invalid input was accepted"
    try:
        loaded = _quarvel.loads_all(data)
    except QuarvelParseError as e:
        return f"valid input rejected: {e}"
    expected_file = path / "in.json"
    if not expected_file.exists():
        return None
    expected = json_stream(expected_file.read_text(encoding="utf-8"))
    if normalise(loaded) != expected:
        return f"data differs: {loaded!r} != {expected!r}"
    return None


CASES = case_dirs()


@pytest.mark.skipif(not SUITE.is_dir(), reason=f"the YAML test suite is not at {SUITE}")
@pytest.mark.parametrize("path", CASES, ids=[case_id(p) for p in CASES])
def test_case(path):
    failure = check_case(path)
    cid = case_id(path)
    if cid in KNOWN:
        assert failure is not None, f"{cid} passes now: remove it from KNOWN ({KNOWN[cid]})"
    else:
        assert failure is None, failure


def test_known_list_names_real_cases():
    if not SUITE.is_dir():
        pytest.skip(f"the YAML test suite is not at {SUITE}")
    ids = {case_id(p) for p in CASES}
    assert set(KNOWN) <= ids
