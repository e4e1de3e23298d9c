"""Property tests: whatever dumps writes reads back through loads to the
value that was dumped, under every layout option and width; whatever
to_json writes reads back through json.loads."""

import json
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _quarvel
from _quarvel import dumps, loads, to_json

SPECIAL_WORDS = [
    "", " ", "~", "null", "Null", "NULL", "true", "False", "yes", "no", "on", "off", "y", "n",
    "<<", "-", "--", "---", "...", "--- a", "... a", "? ", "?", ":", ": ", "a: b", "a #b", "#a",
    "- a", "[a]", "{a: 1}", "*a", "&a", "!a", "|", ">", "%YAML", "@", "`", "'", '"', "\\",
    ".inf", "-.inf", ".nan", "0x1F", "0o17", "017", "1_000", "1e5", "1.0", "+1", "-0", "12:30",
    "1:30", "0b101", "a\nb", "a\n", "\n", "\n\n", " a", "a ", "\ta", "a\t", "\x00", "\x7f",
    "\u0085", "\u2028", "\ufeff", "é", "😀", "a\r\nb", "  \n  ", "a  b", "a\n\n\nb", "#",
]

text = st.one_of(
    st.sampled_from(SPECIAL_WORDS),
    st.text(alphabet=st.characters(blacklist_categories=["Cs"]), max_size=30),
    st.lists(st.sampled_from(SPECIAL_WORDS + ["a", "b", " ", "\n"]), max_size=6).map("".join),
)
scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(min_value=-(2**63), max_value=2**63 - 1),
    st.integers(min_value=-(10**40), max_value=10**40),
    st.floats(allow_nan=False, allow_infinity=False),
    text,
)
values = st.recursive(
    scalars,
    lambda children: st.one_of(
        st.lists(children, max_size=5),
        st.dictionaries(text, children, max_size=5),
    ),
    max_leaves=25,
)

LAYOUT_FLAGS = [
    0,
    _quarvel.OPT_INDENT_4,
    _quarvel.OPT_INDENTLESS_SEQUENCES,
    _quarvel.OPT_FLOW_STYLE,
    _quarvel.OPT_SORT_KEYS,
    _quarvel.OPT_EXPLICIT_START | _quarvel.OPT_EXPLICIT_END,
    _quarvel.OPT_SINGLE_QUOTES,
    _quarvel.OPT_NULL_AS_KEYWORD,
    _quarvel.OPT_NULL_AS_TILDE,
    _quarvel.OPT_INDENT_4 | _quarvel.OPT_INDENTLESS_SEQUENCES | _quarvel.OPT_SINGLE_QUOTES,
    _quarvel.OPT_FLOW_STYLE | _quarvel.OPT_SINGLE_QUOTES | _quarvel.OPT_NULL_AS_TILDE,
]
options = st.sampled_from(LAYOUT_FLAGS).flatmap(
    lambda flags: st.tuples(st.just(flags), st.sampled_from([None, 1, 5, 10, 20, 40, 80]))
)

SETTINGS = settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])


def same(a, b):
    """Equality that also tells 1 from True and 1.0, and -0.0 from 0.0."""
    if isinstance(a, float) and isinstance(b, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


@SETTINGS
@given(values, options)
def test_dumps_reads_back(value, opts):
    flags, width = opts
    out = dumps(value, option=flags, width=width)
    assert out.endswith(b"\n")
    back = loads(out)
    if flags & _quarvel.OPT_SORT_KEYS:
        assert back == value, out
    else:
        assert same(back, value), out


@SETTINGS
@given(values, st.sampled_from([0, _quarvel.OPT_INDENT_2, _quarvel.OPT_INDENT_4, _quarvel.OPT_SORT_KEYS]))
def test_to_json_reads_back(value, flags):
    out = to_json(value, option=flags)
    assert json.loads(out) == value


@pytest.mark.parametrize("value", [2**63, -(2**63) - 1, 10**30, -(10**30)])
def test_big_integers_read_back(value):
    assert loads(dumps(value)) == value
    assert json.loads(to_json(value)) == value
