"""Integers past 64 bits on every path that makes Python objects: decimal
ones within the interpreter's digit limit, others at any length."""

import sys

import pytest

import quarvel
from quarvel import OPT_ANNOTATED, OPT_ROUND_TRIP, OPT_YAML_1_1
from quarvel.exceptions import QuarvelParseError


def load(text, path, option=0):
    if path == "round-trip":
        return quarvel.loads(text, option=option | OPT_ROUND_TRIP).to_dict()
    if path == "annotated":
        return quarvel.loads(text, option=option | OPT_ANNOTATED)
    if path == "all":
        return quarvel.loads_all(text, option=option)[0]
    return quarvel.loads(text, option=option)


PATHS = ["plain", "all", "annotated", "round-trip"]


@pytest.fixture
def digit_limit():
    old = sys.get_int_max_str_digits()
    yield sys.set_int_max_str_digits
    sys.set_int_max_str_digits(old)


@pytest.mark.parametrize("path", PATHS)
@pytest.mark.parametrize("limit", [640, 5000, 0])
def test_decimal_integers_follow_the_interpreters_limit(path, limit, digit_limit):
    digit_limit(limit)
    text = "a: 1\nx: 1" + "0" * 700 + "\n"
    if limit == 640:
        with pytest.raises(QuarvelParseError) as info:
            load(text, path)
        e = info.value
        assert str(e).startswith(
            "integer has more than 640 digits; see sys.set_int_max_str_digits")
        assert (e.line, e.column) == (2, 4)
    else:
        value = load(text, path)["x"]
        assert value == 10**700 and isinstance(value, int)


@pytest.mark.parametrize("path", ["plain", "all", "annotated"])
@pytest.mark.parametrize("text, value", [
    ("0x" + "f" * 5000, 16**5000 - 1),
    ("-0x" + "1" * 100_000, -int("1" * 100_000, 16)),
    ("0" + "7" * 6000, 8**6000 - 1),
    ("0b" + "1" * 20_000, 2**20_000 - 1),
    ("0x_" + "ab_" * 2000 + "c", int("ab" * 2000 + "c", 16)),
], ids=["hex", "negative-hex", "octal", "binary", "underscores"])
def test_power_of_two_bases_load_as_int_at_any_length(path, text, value):
    loaded = load("- " + text, path, OPT_YAML_1_1)[0]
    assert loaded == value and isinstance(loaded, int)


def test_base_60_past_the_limit_is_refused_without_converting():
    with pytest.raises(QuarvelParseError) as info:
        quarvel.loads("n: 1" + ":00" * 1_000_000, option=OPT_YAML_1_1)
    assert "integer has more than 4300 digits" in str(info.value)
    assert quarvel.loads("1" + ":00" * 1000, option=OPT_YAML_1_1) == 60**1000


def test_schema_integer_type_does_not_hide_the_refusal():
    with pytest.raises(QuarvelParseError):
        quarvel.loads("x: 1" + "0" * 5000, schema={"properties": {"x": {"type": "integer"}}})
