"""The JSON Schema Test Suite, drafts 2020-12 and 7, through YAML text.

Each case's data is written as YAML with dumps and loaded with the case's
schema; a case is valid when no QuarvelSchemaError is raised. Draft 7 cases
get that draft's "$schema" (the suite leaves it out, and a schema without
one is read as 2020-12).

Every file runs except refRemote.json, whose documents live on a server.
References to the official metaschemas are answered by schema_resolver from
the copies the jsonschema package ships (jsonschema_specifications); a case
that needs any other remote document is skipped.

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

ROOT = pathlib.Path(
    os.environ.get("QUARVEL_JSON_SCHEMA_TEST_SUITE")
    or pathlib.Path(__file__).resolve().parents[3] / "shared" / "json-schema-test-suite"
)
DRAFTS = {"draft2020-12": None, "draft7": "http://json-schema.org/draft-07/schema#"}

FLOAT_RULE = "YAML reads 1.0 as a float, and a float is never an integer, even an integral one"
RULED = {
    "draft2020-12/type/0/1": FLOAT_RULE,
    "draft7/type/0/1": FLOAT_RULE,
    "draft2020-12/vocabulary/0/2": "a metaschema's $vocabulary is not read: "
    "every vocabulary of the draft is in force",
}


def metaschemas():
    """The official metaschemas by URI, from the data files jsonschema ships."""
    try:
        import jsonschema_specifications
    except ImportError:
        return {}
    found = {}
    folder = pathlib.Path(jsonschema_specifications.__file__).parent / "schemas"
    for path in folder.rglob("*"):
        if path.is_file():
            try:
                document = json.loads(path.read_text(encoding="utf-8"))
            except ValueError:
                continue
            if isinstance(document, dict) and isinstance(document.get("$id"), str):
                found[document["$id"].rstrip("#")] = document
    return found


META = metaschemas()


class NeedsRemote(Exception):
    pass


def resolver(uri):
    if uri in META:
        return META[uri]
    raise NeedsRemote(uri)


def collect():
    """(id, schema, data, valid) of every case."""
    cases = []
    for draft, uri in DRAFTS.items():
        for path in sorted((ROOT / draft).glob("*.json")):
            if path.stem == "refRemote":
                continue
            for gi, group in enumerate(json.loads(path.read_text(encoding="utf-8"))):
                schema = group["schema"]
                if uri and isinstance(schema, dict) and "$schema" not in schema:
                    schema = {"$schema": uri, **schema}
                for ti, test in enumerate(group["tests"]):
                    cases.append((f"{draft}/{path.stem}/{gi}/{ti}", schema, test["data"],
                                  test["valid"]))
    return cases


CASES = collect()
ABSENT = f"the JSON Schema Test Suite is not at {ROOT}"


def accepted(schema, data):
    text = quarvel.dumps(data)
    try:
        quarvel.loads(text, schema=schema, schema_resolver=resolver)
    except QuarvelSchemaError as e:
        assert e.errors, f"the schema could not be used: {e}"
        return False
    except NeedsRemote as e:
        pytest.skip(f"needs the suite's remote document {e}")
    return True


@pytest.mark.skipif(not CASES, reason=ABSENT)
@pytest.mark.parametrize("schema, data, valid", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_case(request, schema, data, valid):
    cid = request.node.callspec.id
    if cid in RULED:
        assert accepted(schema, data) != valid, f"{cid} agrees with the suite now: {RULED[cid]}"
    else:
        assert accepted(schema, data) == valid


def test_suite_coverage():
    if not CASES:
        pytest.skip(ABSENT)
    ids = {c[0] for c in CASES}
    assert set(RULED) <= ids
    # Both drafts, and every keyword's file, contribute cases.
    for draft in DRAFTS:
        files = {cid.split("/")[1] for cid in ids if cid.startswith(draft + "/")}
        assert {"ref", "items", "if-then-else", "uniqueItems", "pattern"} <= files
    assert {"unevaluatedProperties", "dynamicRef", "prefixItems"} <= {
        cid.split("/")[1] for cid in ids}
