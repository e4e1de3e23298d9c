"""The texts of the YAML test suite edited at random: after the edits, the
re-emitted text reads, plainly loaded, as the plain values of the source
edited the same way (the model).

Texts left out, each for a reason the fuzz target fuzz/fuzz_edit_model.cpp
covers instead: several or empty documents, anchors (an edit would have to
follow into every alias), keys that are not strings or repeat, and tagged
nodes as edit targets (their tags decide what a new value reads as)."""

import copy
import math
import os
import pathlib
import random

import pytest

import quarvel
from roundtrip_support import at, load

SUITE = pathlib.Path(
    os.environ.get("QUARVEL_YAML_TEST_SUITE")
    or pathlib.Path(__file__).resolve().parents[3] / "shared" / "yaml-test-suite"
)
TEXTS = sorted(SUITE.glob("*/in.yaml")) + sorted(SUITE.glob("*/*/in.yaml")) if SUITE.is_dir() else []

VALUES = [None, True, 0, -7, 2**70, 1.5, "a", "", "1", "null", "yes", "a: b", "- x", "x\ny", "#",
          " lead", {}, [], {"k": [1, "v"]}, [None, {"a": "b"}]]
COMMENTS = ["note", "", "two words"]


def same(a, b):
    """Equal values, NaN equal to itself, dict order included."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    if isinstance(a, dict) and isinstance(b, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return type(a) is type(b) and a == b


def containers(value, path=()):
    """Paths of the mappings with only string keys and of the sequences."""
    found = []
    if isinstance(value, dict):
        if all(isinstance(k, str) for k in value):
            found.append(path)
        items = value.items()
    elif isinstance(value, list):
        found.append(path)
        items = enumerate(value)
    else:
        return found
    for k, v in items:
        if isinstance(k, (str, int)):
            found.extend(containers(v, path + (k,)))
    return found


def editable(text):
    """The document and its plain value, or the reason it is left out."""
    try:
        plain = quarvel.loads_all(text, option=quarvel.OPT_DUPLICATE_KEYS_ERROR)
        doc = load(text)
    except (quarvel.QuarvelError, ValueError):
        return None, None, "does not load"
    if len(plain) != 1 or len(doc) == 0:
        return None, None, "not one document"
    if doc.anchors or "*" in text:
        return None, None, "anchors"
    return doc, plain[0], None


@pytest.mark.skipif(not TEXTS, reason=f"the YAML test suite is not at {SUITE}")
@pytest.mark.parametrize("path", TEXTS, ids=lambda p: str(p.parent.relative_to(SUITE)))
def test_edited_suite_text_reads_as_the_model(path):
    text = path.read_bytes().decode("utf-8", errors="replace")
    doc, model, reason = editable(text)
    if reason:
        pytest.skip(reason)
    places = containers(model)
    if not places:
        pytest.skip("no container to edit")
    rng = random.Random(str(path.parent.relative_to(SUITE)))
    for _ in range(4):
        where = rng.choice(places)
        target = at(model, where)
        if isinstance(target, dict):
            key = rng.choice([*target, "new key"]) if target else "new key"
        elif target:
            key = rng.randrange(len(target))
        else:
            continue
        node = at(doc.node, where) if where else doc.node
        if isinstance(target, list) or key in target:
            # A key the document's paths cannot name (a tagged empty key), or
            # a tagged node, whose tag decides what a new value reads as.
            if isinstance(key, str) and key not in node or node[key].tag is not None:
                continue
            if rng.random() < 0.3:
                try:
                    node[key].comment = rng.choice(COMMENTS)
                except ValueError as e:  # a place that takes no comment
                    assert "flow collection" in str(e) or "block collection" in str(e)
                continue
        value = rng.choice(VALUES)
        (at(doc, where) if where else doc)[key] = value
        # Later edits may reach into the new value: the model holds its own copy.
        target[key] = copy.deepcopy(value)
        places = containers(model)
    out = doc.to_yaml()
    assert same(quarvel.loads(out), model), out.decode()
    assert same(load(out).to_dict(), model), out.decode()
