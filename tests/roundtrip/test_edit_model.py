"""Random documents edited at random through views and cursors: after every
step the document's values equal a plain model edited the same way."""

import copy

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import quarvel
from roundtrip_support import load

keys = st.sampled_from(["a", "b", "c", "key", "x y", "1"])
scalars = st.one_of(
    st.none(), st.booleans(), st.integers(-(2**70), 2**70),
    st.floats(allow_nan=False), st.text(max_size=8),
    st.sampled_from(["yes", "null", "~", "", "#", "- x", "a: b", "'", '"', "12", "1.5"]),
)
values = st.recursive(
    scalars,
    lambda inner: st.one_of(st.lists(inner, max_size=3), st.dictionaries(keys, inner, max_size=3)),
    max_leaves=12,
)
documents = st.dictionaries(keys, values, min_size=1, max_size=4)


def containers(model, path=()):
    """Paths of every mapping and sequence of the model."""
    found = [path]
    items = model.items() if isinstance(model, dict) else enumerate(model)
    for k, v in items:
        if isinstance(v, (dict, list)):
            found.extend(containers(v, path + (k,)))
    return found


def at(root, path):
    for step in path:
        root = root[step]
    return root


edits = st.lists(
    st.tuples(st.integers(0, 1000), st.integers(0, 1000), st.sampled_from(["view", "cursor", "meta"]),
              values, keys),
    min_size=1, max_size=8,
)


def set_metadata(cursor, step, slot):
    """Comments and anchors change no value."""
    if slot % 3 == 0:
        cursor.comment = f"note {step}"
    elif slot % 3 == 1:
        cursor.comment_before = f"line {step}\nsecond"
    else:
        cursor.anchor = f"n{step}"


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(documents, edits, st.booleans())
def test_edits_match_a_model(initial, steps, single_quotes):
    option = quarvel.OPT_SINGLE_QUOTES if single_quotes else 0
    doc = load(quarvel.dumps(initial).decode(), option)
    model = copy.deepcopy(initial)
    assert doc.to_dict() == model
    for step, (pick, slot, how, value, new_key) in enumerate(steps):
        paths = containers(model)
        path = paths[pick % len(paths)]
        target = at(model, path)
        if isinstance(target, dict):
            existing = list(target)
            key = existing[slot % len(existing)] if existing and slot % 2 else new_key
        elif target:
            key = slot % len(target)
        else:
            continue
        exists = isinstance(target, list) or key in target
        if how == "meta" and exists:
            set_metadata(at(doc.node, path)[key], step, slot)
            assert doc.to_dict() == model
            continue
        if how == "cursor" and exists:
            at(doc.node, path)[key].value = value
        else:
            at(doc, path)[key] = value
        target[key] = copy.deepcopy(value)
        assert doc.to_dict() == model
