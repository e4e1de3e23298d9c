"""to_json writes exact built-in objects straight to JSON and hands everything
else to the general encoder. Both ways must give the same bytes and the same
errors; a root wrapped in a list subclass always takes the general way."""

import math
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from _quarvel import OPT_INDENT_2, OPT_INDENT_4, OPT_SORT_KEYS, to_json
from quarvel.exceptions import QuarvelEncodeError


class Wrapped(list):
    """A list subclass: the direct writer refuses it at the root."""


def general(obj, option=0):
    out = to_json(Wrapped([obj]), option=option)
    if option & (OPT_INDENT_2 | OPT_INDENT_4):
        # Strip the wrapper's brackets and one level of indentation.
        step = 4 if option & OPT_INDENT_4 else 2
        lines = out.split(b"\n")[1:-1]
        return b"\n".join(line[step:] for line in lines)
    return out[1:-1]


scalars = (
    st.none()
    | st.booleans()
    | st.integers(min_value=-(2**70), max_value=2**70)
    | st.floats(allow_nan=True, allow_infinity=True)
    | st.text()
)
keys = st.none() | st.booleans() | st.integers() | st.floats() | st.text()
values = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=5)
    | st.lists(inner, max_size=5).map(tuple)
    | st.dictionaries(keys, inner, max_size=5),
    max_leaves=30,
)


@settings(max_examples=300, deadline=None)
@given(values, st.sampled_from([0, OPT_SORT_KEYS, OPT_INDENT_2, OPT_INDENT_4 | OPT_SORT_KEYS]))
def test_direct_and_general_agree(obj, option):
    assert to_json(obj, option=option) == general(obj, option)


@pytest.mark.parametrize(
    "obj",
    [
        "\ud800 lone surrogate",
        {"\udfff": 1},
        [1, 2**200, -(2**64)],
        {2**100: "big key", 1.5: "f", math.nan: "n", None: 0, True: 1},
        "x" * 10_000 + '"\\\u2028\x01' + "é" * 5000,
    ],
)
def test_texts_the_direct_writer_may_refuse(obj):
    assert to_json(obj) == general(obj)


class Point:
    def __init__(self, x):
        self.x = x


def test_default_runs_once_per_object_when_the_direct_writer_gives_up():
    calls = []

    def default(o):
        calls.append(o)
        return {"x": o.x}

    data = {"a": [1, 2, {"b": Point(3)}], "c": "d"}
    assert to_json(data, default=default) == b'{"a":[1,2,{"b":{"x":3}}],"c":"d"}'
    assert len(calls) == 1


@pytest.mark.parametrize("key", [(1, 2), frozenset()])
def test_unwritable_keys_raise_as_before(key):
    with pytest.raises((QuarvelEncodeError, TypeError)) as direct:
        to_json({"ok": 1, key: 2})
    with pytest.raises(type(direct.value)) as wrapped:
        to_json(Wrapped([{"ok": 1, key: 2}]))
    assert str(direct.value) == str(wrapped.value)


def test_nesting_limit_and_cycles_raise_as_before():
    deep = []
    for _ in range(1200):
        deep = [deep]
    with pytest.raises(QuarvelEncodeError) as e:
        to_json(deep)
    cyclic = []
    cyclic.append(cyclic)
    with pytest.raises(QuarvelEncodeError) as c:
        to_json(cyclic)
    assert str(c.value) == str(e.value)


def test_nesting_at_the_limit_is_written():
    # The general path allows 1000 levels below the root value.
    deep = 0
    for _ in range(999):
        deep = [deep]
    assert to_json(deep) == b"[" * 999 + b"0" + b"]" * 999


def test_int_beyond_the_digit_limit_raises_as_before():
    if not hasattr(sys, "set_int_max_str_digits"):
        pytest.skip("no digit limit in this Python")
    old = sys.get_int_max_str_digits()
    sys.set_int_max_str_digits(640)
    try:
        with pytest.raises(ValueError):
            to_json([10**700])
    finally:
        sys.set_int_max_str_digits(old)
