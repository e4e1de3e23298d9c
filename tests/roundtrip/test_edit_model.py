"""Random documents edited at random through views and cursors: after every
step the document's values equal a plain model edited the same way."""

import copy

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import quarvel
from roundtrip_support import at, load

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


edits = st.lists(
    st.tuples(st.integers(0, 1000), st.integers(0, 1000),
              st.sampled_from(["view", "cursor", "meta", "delete", "pop", "insert", "append"]),
              values, keys),
    min_size=1, max_size=8,
)


def ordered(value):
    """The value with mappings as lists of pairs, so that order counts."""
    if isinstance(value, dict):
        return [(k, ordered(v)) for k, v in value.items()]
    if isinstance(value, list):
        return [ordered(v) for v in value]
    return value


def grow(doc_target, target, slot, value, new_key, how):
    """Inserts into a document container and its model the same way."""
    if isinstance(target, list):
        if how == "append":
            doc_target.append(value)
            target.append(copy.deepcopy(value))
        else:
            doc_target.insert(slot - 500, value)
            target.insert(slot - 500, copy.deepcopy(value))
        return
    if new_key in target:
        with pytest.raises(ValueError, match="already exists"):
            doc_target.insert(0, new_key, value)
        return
    pos = slot % (len(target) + 1)
    doc_target.insert(pos, new_key, value)
    items = list(target.items())
    items.insert(pos, (new_key, copy.deepcopy(value)))
    target.clear()
    target.update(items)


def set_metadata(cursor, step, slot):
    """Comments and anchors change no value; a flow collection takes no comments."""
    try:
        if slot % 3 == 0:
            cursor.comment = f"note {step}"
        elif slot % 3 == 1:
            cursor.comment_before = f"line {step}\nsecond"
        else:
            cursor.anchor = f"n{step}"
    except ValueError as e:
        assert "flow collection" in str(e) or "block collection" in str(e)


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
        if how in ("insert", "append"):
            grow(at(doc, path), target, slot, value, new_key, how)
            assert ordered(doc.to_dict()) == ordered(model)
            assert ordered(quarvel.loads(doc.to_yaml())) == ordered(model)
            continue
        if isinstance(target, dict):
            existing = list(target)
            key = existing[slot % len(existing)] if existing and slot % 2 else new_key
        elif target:
            key = slot % len(target)
        else:
            continue
        exists = isinstance(target, list) or key in target
        if how in ("delete", "pop") and exists:
            if isinstance(target, list) and slot % 3 == 0:
                key -= len(target)  # negative positions count from the end
            if how == "pop":
                assert at(doc, path).pop(key) == target.pop(key)
            else:
                del at(doc, path)[key]
                del target[key]
            assert ordered(doc.to_dict()) == ordered(model)
            assert ordered(quarvel.loads(doc.to_yaml())) == ordered(model)
            continue
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
