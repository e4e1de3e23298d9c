"""Every valid case of the YAML test suite loaded in annotated mode: the
values equal those of plain loading, and every annotated string's source
slice (from __offset__ to __end_offset__), read back on its own, gives the
same string.

SLICE_EXCEPTIONS lists the cases whose slices are not complete scalars by
construction, each with its reason."""

import pytest

import _quarvel
from test_yaml_test_suite import CASES, KNOWN, SUITE, case_id

import quarvel

EMPTY_UNDER_STR = "an empty node under !!str: the slice is empty and reads back as null"
SLICE_EXCEPTIONS = {
    "4WA9": "a block scalar's indentation indicator counts from its parent's indentation",
    "74H7": "!!str 23: the slice starts after the tag and reads back as an integer",
    "8CWC": "a plain key ending in ':' reads as a mapping on its own",
    "FH7J": EMPTY_UNDER_STR,
    "LE5A": EMPTY_UNDER_STR,
    "UKK6/01": "a plain ':' reads as a mapping on its own",
    "WZ62": EMPTY_UNDER_STR,
}


def annotated_strings(value, out):
    if isinstance(value, quarvel.QuarvelAnnotatedStr):
        out.append(value)
    elif isinstance(value, dict):
        for k, v in value.items():
            annotated_strings(k, out)
            annotated_strings(v, out)
    elif isinstance(value, list):
        for v in value:
            annotated_strings(v, out)
    return out


def slice_faults(data, docs):
    faults = []
    for s in annotated_strings(docs, []):
        if s.__source_tag__ is not None:
            continue  # a custom tag made it a string; its slice reads otherwise
        piece = data[s.__offset__:s.__end_offset__]
        try:
            back = _quarvel.loads(piece)
        except Exception as e:  # noqa: BLE001 - any failure is a fault here
            faults.append(f"{piece!r} does not read back: {e}")
            continue
        if back != str(s):
            faults.append(f"{piece!r} reads back as {back!r}, not {str(s)!r}")
    return faults


VALID = [p for p in CASES if not (p / "error").exists() and case_id(p) not in KNOWN]


@pytest.mark.skipif(not SUITE.is_dir(), reason=f"the YAML test suite is not at {SUITE}")
@pytest.mark.parametrize("path", VALID, ids=[case_id(p) for p in VALID])
def test_annotated_case(path):
    data = (path / "in.yaml").read_bytes()
    plain = _quarvel.loads_all(data)
    docs = _quarvel.loads_all(data, option=_quarvel.OPT_ANNOTATED)
    assert docs == plain
    faults = slice_faults(data, docs)
    cid = case_id(path)
    if cid in SLICE_EXCEPTIONS:
        assert faults, f"{cid} reads back now: remove it from SLICE_EXCEPTIONS"
    else:
        assert not faults, faults
