"""The JSON Schema Test Suite (draft 2020-12) through YAML text.

Each case's data is written as YAML with dumps and loaded with the case's
schema; a case is valid when no QuarvelSchemaError is raised. Only groups whose
schemas use nothing but the supported keywords (and annotations that check
nothing) run; the others are skipped as a whole.

RULED lists the cases whose outcome a rule of this validator decides against
the suite, each with its rule. A ruled case that starts agreeing with the
suite fails too, so the list stays true.
"""

import json
import os
import pathlib

import pytest

import quarvel
from quarvel.exceptions import QuarvelSchemaError

SUITE = pathlib.Path(
    os.environ.get("QUARVEL_JSON_SCHEMA_TEST_SUITE")
    or pathlib.Path(__file__).resolve().parents[3] / "shared" / "json-schema-test-suite"
) / "draft2020-12"

SUPPORTED = {
    "type", "enum", "const", "minimum", "maximum", "exclusiveMinimum", "exclusiveMaximum",
    "minLength", "maxLength", "required", "properties", "additionalProperties", "items",
    "minItems", "maxItems", "allOf", "anyOf", "oneOf", "not",
}
# Keywords that describe a schema without checking anything.
ANNOTATIONS = {"$schema", "$comment", "title", "description", "default", "examples"}

RULED = {
    "type/0/1": "YAML reads 1.0 as a float, and a float is never an integer, even an integral one",
}


def uses_only_supported(schema):
    """Whether the schema and every schema nested in it use supported keywords only."""
    if isinstance(schema, bool):
        return True
    if not isinstance(schema, dict):
        return False
    for name, value in schema.items():
        if name not in SUPPORTED | ANNOTATIONS:
            return False
        if name == "properties":
            nested = list(value.values()) if isinstance(value, dict) else [None]
        elif name in ("additionalProperties", "items", "not"):
            nested = [value]
        elif name in ("allOf", "anyOf", "oneOf"):
            nested = value if isinstance(value, list) else [None]
        else:
            continue
        if not all(uses_only_supported(s) for s in nested):
            return False
    return True


def collect():
    """(id, schema, data, valid) of every supported case, and the count of skipped ones."""
    cases, skipped = [], 0
    if not SUITE.is_dir():
        return cases, skipped
    for path in sorted(SUITE.glob("*.json")):
        for gi, group in enumerate(json.loads(path.read_text(encoding="utf-8"))):
            if not uses_only_supported(group["schema"]):
                skipped += len(group["tests"])
                continue
            for ti, test in enumerate(group["tests"]):
                cases.append((f"{path.stem}/{gi}/{ti}", group["schema"], test["data"], test["valid"]))
    return cases, skipped


CASES, SKIPPED = collect()
ABSENT = f"the JSON Schema Test Suite is not at {SUITE}"


def accepted(schema, data):
    text = quarvel.dumps(data)
    try:
        quarvel.loads(text, schema=schema)
    except QuarvelSchemaError:
        return False
    return True


@pytest.mark.skipif(not SUITE.is_dir(), reason=ABSENT)
@pytest.mark.parametrize("schema, data, valid", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_case(request, schema, data, valid):
    cid = request.node.callspec.id
    if cid in RULED:
        assert accepted(schema, data) != valid, f"{cid} agrees with the suite now: {RULED[cid]}"
    else:
        assert accepted(schema, data) == valid


def test_suite_coverage():
    if not SUITE.is_dir():
        pytest.skip(ABSENT)
    ids = {c[0] for c in CASES}
    assert set(RULED) <= ids
    # Every supported keyword's own file contributes cases: a keyword scan
    # that skipped too much would leave one out.
    files = {cid.split("/")[0] for cid in ids}
    assert SUPPORTED <= files, sorted(SUPPORTED - files)
