"""Both writers spell awkward floats so that they read back to the same double:
YAML through loads, JSON through the standard json module, as values and as
mapping keys."""

import json
import math
import struct

import pytest

from _quarvel import dumps, loads, to_json


def from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


AWKWARD = [
    5e-324,  # the smallest subnormal
    -5e-324,
    from_bits(0x000FFFFFFFFFFFFF),  # the largest subnormal
    2.2250738585072014e-308,  # the smallest normal
    1.7976931348623157e308,  # the largest finite
    -1.7976931348623157e308,
    1e16,  # first power of ten the YAML writer spells with an exponent
    1e15,
    9007199254740993.0,  # 2**53 + 1 rounds to 2**53
    1e-5,  # first negative power the YAML writer spells with an exponent
    1e-4,
    0.0,
    -0.0,
    0.1 + 0.2,
    0.1,
    1 / 3,
    123456789.125,
    1e22,
    1e23,
    2.0**-1074 * 3,
]


def same_double(a, b):
    return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)


@pytest.mark.parametrize("x", AWKWARD, ids=repr)
def test_yaml_reads_back(x):
    assert same_double(loads(dumps(x)), x)
    assert same_double(loads(dumps([x]))[0], x)
    assert same_double(next(iter(loads(dumps({x: 1})))), x)


@pytest.mark.parametrize("x", AWKWARD, ids=repr)
def test_json_reads_back(x):
    assert same_double(json.loads(to_json(x)), x)
    assert same_double(json.loads(to_json([x]))[0], x)
    assert same_double(float(next(iter(json.loads(to_json({x: 1}))))), x)
