"""Random object graphs of every supported and unsupported kind through dumps
and to_json with random options: a result that reads back, or a documented
exception, never anything else."""

import dataclasses
import datetime
import decimal
import enum
import json
import pathlib
import uuid

import numpy as np
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _quarvel
from _quarvel import QuarvelTag, dumps, loads, to_json
from quarvel.exceptions import QuarvelError


class Color(enum.Enum):
    RED = "red"
    BLUE = 2


@dataclasses.dataclass
class Point:
    x: object
    y: object


class Opaque:
    pass


class StrSub(str):
    pass


class DictSub(dict):
    pass


leaves = st.one_of(
    st.none(), st.booleans(), st.integers(), st.floats(), st.text(max_size=20),
    st.binary(max_size=10), st.just(Opaque()), st.just(Color.RED), st.just(Color.BLUE),
    st.just(uuid.UUID(int=7)), st.decimals(allow_nan=True), st.just(pathlib.PurePosixPath("/etc/x")),
    st.datetimes(timezones=st.one_of(st.none(), st.timezones())), st.dates(), st.times(),
    st.text(max_size=5).map(StrSub), st.just(np.arange(3)), st.just(np.float32(1.5)),
    st.just(bytearray(b"x")), st.just(float("nan")), st.just(2**80),
)


def containers(children):
    return st.one_of(
        st.lists(children, max_size=4),
        st.lists(children, max_size=4).map(tuple),
        st.frozensets(st.integers(), max_size=3),
        st.dictionaries(st.one_of(st.text(max_size=5), st.integers(), st.none()), children, max_size=4),
        st.dictionaries(st.text(max_size=5), children, max_size=3).map(DictSub),
        st.tuples(st.text(max_size=4).map(lambda t: "!" + t), children).map(lambda p: QuarvelTag(*p)),
        st.tuples(children, children).map(lambda p: Point(*p)),
    )


objects = st.recursive(leaves, containers, max_leaves=15)
FLAGS = [
    _quarvel.OPT_SERIALIZE_NUMPY, _quarvel.OPT_PASSTHROUGH_DATETIME, _quarvel.OPT_PASSTHROUGH_DATACLASS,
    _quarvel.OPT_OMIT_MICROSECONDS, _quarvel.OPT_NAIVE_UTC, _quarvel.OPT_UTC_Z, _quarvel.OPT_SORT_KEYS,
    _quarvel.OPT_FLOW_STYLE, _quarvel.OPT_INDENT_4, _quarvel.OPT_INDENTLESS_SEQUENCES,
    _quarvel.OPT_SINGLE_QUOTES, _quarvel.OPT_NULL_AS_KEYWORD, _quarvel.OPT_NULL_AS_TILDE,
]
options = st.lists(st.sampled_from(FLAGS), max_size=5).map(lambda fs: sum(set(fs)))
DOCUMENTED = (QuarvelError, ValueError)


def fallback(obj):
    if isinstance(obj, Opaque):
        return "opaque"
    raise TypeError("no fallback")


@settings(max_examples=600, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(objects, options, st.sampled_from([None, 0, 7, 30]), st.booleans())
def test_dumps_gives_yaml_or_a_documented_error(obj, option, width, with_default):
    kwargs = {"default": fallback} if with_default else {}
    try:
        out = dumps(obj, option=option, width=width, **kwargs)
    except DOCUMENTED:
        return
    except TypeError as e:
        assert str(e) == "no fallback" or "not YAML serializable" in str(e)
        return
    assert out.endswith(b"\n")
    loads(out, option=_quarvel.OPT_PASSTHROUGH_TAG)  # must read back as YAML


@settings(max_examples=600, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(objects, options, st.booleans())
def test_to_json_gives_json_or_a_documented_error(obj, option, with_default):
    kwargs = {"default": fallback} if with_default else {}
    try:
        out = to_json(obj, option=option, **kwargs)
    except DOCUMENTED:
        return
    except TypeError as e:
        assert str(e) == "no fallback" or "not YAML serializable" in str(e)
        return
    json.loads(out)
