"""With OPT_PYYAML_COMPAT an untagged plain scalar reads as PyYAML's SafeLoader
reads it; only timestamps differ (they stay strings here)."""

import datetime
import math

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

from _quarvel import OPT_PYYAML_COMPAT, loads

yaml = pytest.importorskip("yaml")

WORDS = ["yes", "no", "on", "off", "true", "false", "null", "y", "n", "~", "<<", "inf", "nan", "x"]


def case_variants(word):
    return st.lists(st.booleans(), min_size=len(word), max_size=len(word)).map(
        lambda upper: "".join(c.upper() if u else c for c, u in zip(word, upper))
    )


def joined(*parts):
    return st.tuples(*parts).map("".join)


digits = st.text(alphabet="0123456789_", min_size=1, max_size=6)
# A base 60 part as written: "5", "05", "59", "60", "99".
part = st.integers(0, 99).flatmap(lambda n: st.sampled_from([str(n), f"{n:02d}"]))
sign = st.sampled_from(["", "", "+", "-"])

numberish = st.one_of(
    st.text(alphabet="0123456789_:.+-eEbxXoB", min_size=1, max_size=10),
    joined(sign, st.sampled_from(["0x", "0b", "0", "0o", "0X", ""]), digits),
    joined(
        sign,
        st.sampled_from(["", "0", "1", "_1", "12_3"]),
        st.just("."),
        st.text(alphabet="0123456789_", max_size=4),
        st.sampled_from(["", "", "e5", "e+5", "E-3", "e+1_0", "e"]),
    ),
    joined(
        sign,
        digits,
        st.lists(part.map(lambda p: ":" + p), min_size=1, max_size=4).map("".join),
        st.sampled_from(["", "", ".", ".5", ".2_5", "e+1"]),
    ),
)
wordish = st.sampled_from(WORDS).flatmap(case_variants)
texts = st.one_of(
    numberish,
    wordish,
    st.sampled_from(["", ".inf", "-.Inf", "+.INF", ".NaN", "-.nan", "=", "._"]),
)


def same(a, b):
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        if math.isnan(a):
            return math.isnan(b)
        return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)
    return a == b


@settings(max_examples=2000, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(texts)
@example("00:00:00")
@example("1:30.5")
@example("1:1:0.1")
@example("0xFFFFFFFFFFFFFFFFFFFF")
def test_plain_scalars_read_as_pyyaml_reads_them(text):
    doc = "v: " + text + "\n"
    try:
        theirs = yaml.load(doc, Loader=yaml.SafeLoader)
    except (yaml.YAMLError, ValueError):
        return  # PyYAML has no value for it ("=", "0x_", ...)
    if not isinstance(theirs, dict) or list(theirs) != ["v"]:
        return
    expected = theirs["v"]
    if isinstance(expected, (datetime.date, list, dict)):
        return  # a timestamp, or not one plain scalar
    got = loads(doc, option=OPT_PYYAML_COMPAT)["v"]
    assert same(got, expected), f"{text!r}: quarvel {got!r}, PyYAML {expected!r}"
