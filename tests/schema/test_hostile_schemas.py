"""Hostile documents and schemas: every one finishes quickly and in bounded
memory, with excess alias copies validated as nulls."""

import time

import pytest

import quarvel
from quarvel import OPT_ANNOTATED
from quarvel.exceptions import QuarvelSchemaError


def nested_items(levels, inner):
    schema = inner
    for _ in range(levels):
        schema = {"type": "array", "items": schema}
    return schema


@pytest.mark.parametrize("option", [0, OPT_ANNOTATED])
def test_alias_chains_deeper_than_100_end_in_a_null(option):
    text = "a0: &a0 1\n" + "".join(f"a{i}: &a{i} [*a{i - 1}]\n" for i in range(1, 120))
    schema = {"properties": {"a119": nested_items(119, {"type": "integer"})}}
    with pytest.raises(QuarvelSchemaError) as info:
        quarvel.loads(text, schema=schema, option=option)
    # a119 is written out; the alias inside it starts the chain, and the
    # copy 101 aliases down is a null.
    (only,) = info.value.errors
    assert only.message == "expected type array, found null"
    assert only.path == "$.a119" + "[0]" * 101
    # A chain of 100 is copied in full.
    text = "a0: &a0 1\n" + "".join(f"a{i}: &a{i} [*a{i - 1}]\n" for i in range(1, 101))
    schema = {"properties": {"a100": nested_items(100, {"type": "integer"})}}
    quarvel.loads(text, schema=schema, option=option)


def test_alias_copies_past_a_million_nodes_are_nulls():
    # 1,100 aliases of a 1,001-node list: the copies run out of budget after
    # 999 whole lists and part of the 1,000th.
    text = "a: &a [" + ", ".join(["1"] * 1000) + "]\nb: [" + ", ".join(["*a"] * 1100) + "]\n"
    schema = {"properties": {"b": {"items": {"type": "array"}}}}
    with pytest.raises(QuarvelSchemaError) as info:
        quarvel.loads(text, schema=schema)
    errors = info.value.errors
    assert [e.path for e in errors] == [f"$.b[{i}]" for i in range(1000, 1100)]
    assert {e.message for e in errors} == {"expected type array, found null"}
    # The 1,000th copy takes the last unit for the list itself: its items are nulls.
    schema = {"properties": {"b": {"items": {"items": {"type": "integer"}}}}}
    with pytest.raises(QuarvelSchemaError) as info:
        quarvel.loads(text, schema=schema)
    assert [e.path for e in info.value.errors[:2]] == ["$.b[999][0]", "$.b[999][1]"]


def test_alias_bomb_finishes_quickly():
    lines = ["a0: &a0 [x, y]"]
    for i in range(1, 7):
        lines.append(f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * 9) + "]")
    text = "\n".join(lines) + "\n"
    schema = {"additionalProperties": {"items": {"items": {"type": "integer"}}}}
    start = time.perf_counter()
    with pytest.raises(QuarvelSchemaError):
        quarvel.loads(text, schema=schema)
    assert time.perf_counter() - start < 30


@pytest.mark.parametrize("wrap", [
    lambda s: {"items": s},
    lambda s: {"not": {"not": s}},
    lambda s: {"allOf": [s]},
    lambda s: {"anyOf": [{"type": "string"}, s]},
    lambda s: {"properties": {"a": s}, "additionalProperties": {"type": "integer"}},
])
def test_schema_nested_hundreds_of_levels(wrap):
    schema = {"type": "integer"}
    for _ in range(400):
        schema = wrap(schema)
    quarvel.loads("1", schema=schema)


def test_schema_nested_past_the_encoder_limit_raises_its_error():
    schema = {}
    for _ in range(1200):
        schema = {"not": schema}
    with pytest.raises(quarvel.QuarvelEncodeError):
        quarvel.loads("1", schema=schema)


def test_one_of_a_thousand_schemas():
    schema = {"items": {"oneOf": [{"minimum": i, "maximum": i} for i in range(1000)]}}
    text = "[" + ", ".join(str(i) for i in range(0, 1000, 7)) + "]"
    start = time.perf_counter()
    quarvel.loads(text, schema=schema)
    with pytest.raises(QuarvelSchemaError) as info:
        quarvel.loads("[3, 3000, -1]", schema=schema)
    assert [e.path for e in info.value.errors] == ["$[1]", "$[2]"]
    assert time.perf_counter() - start < 30


@pytest.mark.parametrize("outer", [
    lambda s: s,
    lambda s: {"allOf": [s], "unevaluatedProperties": False},
    lambda s: {"$dynamicAnchor": "a", "allOf": [s], "properties": {"x": {"$dynamicRef": "#a"}}},
    lambda s: {"$defs": {"s": s}, "anyOf": [{"$ref": "#/$defs/s"}, {"$ref": "#/$defs/s"}]},
])
def test_a_part_applied_twice_at_every_level_costs_no_more_than_once(outer):
    # 2^40 applications of the innermost part, if each were checked anew.
    schema = {"type": "object", "required": ["a"], "properties": {"a": True, "x": True}}
    for _ in range(40):
        schema = {"allOf": [schema, schema]}
    start = time.perf_counter()
    quarvel.loads("{a: 1, x: {a: 2}}", schema=outer(schema))
    with pytest.raises(QuarvelSchemaError):
        quarvel.loads("{b: 1}", schema=outer(schema))
    assert time.perf_counter() - start < 30
