"""Numeric bounds compare integers exactly at any size and in any base, and
schemas built of shared parts cost their own size."""

import subprocess
import sys
import textwrap
from fractions import Fraction

import pytest

import quarvel
from quarvel import OPT_YAML_1_1
from quarvel.exceptions import QuarvelSchemaError

HUGE = 10**400

# (scalar text, its value, option): big integers as the resolvers read them.
NUMBERS = [
    ("1" + "0" * 309, 10**309, 0),
    ("-1" + "0" * 400, -(10**400), 0),
    (str(2**70), 2**70, 0),
    (str(2**53 + 1), 2**53 + 1, 0),
    ("0x" + "f" * 300, 16**300 - 1, OPT_YAML_1_1),
    ("-0x1" + "0" * 20, -(16**20), OPT_YAML_1_1),
    ("0" + "7" * 400, 8**400 - 1, OPT_YAML_1_1),
    ("0b1" + "0" * 1100, 2**1100, OPT_YAML_1_1),
    ("1_000" + "_000" * 30, 10**93, OPT_YAML_1_1),
    ("1" + ":00" * 200, 60**200, OPT_YAML_1_1),
    ("5", 5, 0),
    ("-3.5", -3.5, 0),
]

# Bounds of every kind: small and big ints, floats near and past a double's
# integers, and infinities.
BOUNDS = [0, 10, -(10**400), 10**309, 10**309 + 1, 2**70, 2**53, 2**53 + 1, 16**300,
          8**400 - 2, 2**1100, 1e308, -1e308, 9007199254740992.0, 1.5, float("inf"),
          float("-inf"), 10**93, 60**200 - 1, 60**200]

KEYWORDS = {
    "minimum": lambda v, b: v >= b,
    "maximum": lambda v, b: v <= b,
    "exclusiveMinimum": lambda v, b: v > b,
    "exclusiveMaximum": lambda v, b: v < b,
}


def exact(x):
    return x if isinstance(x, int) or x != x or abs(x) == float("inf") else Fraction(x)


@pytest.mark.parametrize("keyword", KEYWORDS)
@pytest.mark.parametrize("text, value, option", NUMBERS, ids=lambda x: str(x)[:12])
def test_bounds_agree_with_exact_arithmetic(text, value, option, keyword):
    for bound in BOUNDS:
        expected = KEYWORDS[keyword](exact(value), exact(bound))
        schema = {"properties": {"x": {keyword: bound}}}
        try:
            quarvel.loads("x: " + text, schema=schema, option=option)
            passed = True
        except QuarvelSchemaError:
            passed = False
        assert passed == expected, (keyword, bound)


@pytest.mark.parametrize("text, schema, message", [
    ("1" + "0" * 309, {"maximum": 10}, "value " + "1" + "0" * 309 + " is greater than maximum 10"),
    ("-1" + "0" * 30, {"minimum": 0}, "value -1000000000000000000000000000000 is less than minimum 0"),
    ("5", {"maximum": -HUGE}, "value 5 is greater than maximum -1" + "0" * 400),
])
def test_messages_write_numbers_past_a_double_in_full(text, schema, message):
    with pytest.raises(QuarvelSchemaError) as info:
        quarvel.loads(text, schema=schema)
    assert info.value.errors[0].message == message


CAP_MEMORY = """
def cap_memory(extra):
    # Past the address space already mapped: a sanitizer build maps terabytes
    # of shadow memory before the first line runs.
    with open("/proc/self/status") as f:
        size = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
    resource.setrlimit(resource.RLIMIT_AS, (size + extra, size + extra))
"""


def run_bounded(code, seconds=60, memory=1 << 30):
    """Runs `code` in a child with an address-space cap and a timeout."""
    prelude = "import resource\n" + CAP_MEMORY + f"cap_memory({memory})\n"
    result = subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(code)],
                            capture_output=True, text=True, timeout=seconds)
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_shared_schema_parts_cost_their_size_once():
    out = run_bounded("""
        import quarvel
        from quarvel.exceptions import QuarvelSchemaError
        s = {"type": "integer"}
        for _ in range(40):
            s = {"allOf": [s, s], "anyOf": [s, s], "oneOf": [s, {"not": s}],
                 "properties": {"a": s}, "additionalProperties": s}
        quarvel.loads("[1, 2]", schema={"items": s})
        try:
            quarvel.loads("[1, x]", schema={"items": s})
        except QuarvelSchemaError as e:
            print(e.errors[0].message, e.errors[0].path, len(e.errors))
    """)
    assert out.split()[:6] == ["expected", "type", "integer,", "found", "string", "$[1]"]


def test_long_enum_against_many_scalars_finishes():
    out = run_bounded("""
        import quarvel
        values = list(range(2000)) + [f"s{i}" for i in range(2000)] + [[1], None, True]
        text = "\\n".join(f"- {i % 2000}" if i % 3 else f"- s{i % 2000}" for i in range(1_000_000))
        quarvel.loads(text, schema={"items": {"enum": values}})
        print("ok")
    """, seconds=120)
    assert out.strip() == "ok"


# The index of a long enum gives the answer of the scan of a short one.
LONG = list(range(20)) + [1.5, "a", "1", None, False, 2**70, -(2**64), [1, "x"], {"k": 2}]


@pytest.mark.parametrize("text, option", [
    ("3", 0), ("3.0", 0), ("1.5", 0), ("a", 0), ("'1'", 0), ("~", 0), ("false", 0),
    ("true", 0), ("0", 0), ("-0.0", 0), (str(2**70), 0), ("0x400000000000000000", OPT_YAML_1_1),
    (str(-(2**64)), 0), ("[1, x]", 0), ("{k: 2}", 0), ("[1]", 0), ("b", 0), ("20", 0),
    (".nan", 0), ("1_0", OPT_YAML_1_1), ("no", OPT_YAML_1_1),
])
def test_long_enum_matches_as_a_short_one(text, option):
    def verdict(values):
        try:
            quarvel.loads(text, schema={"anyOf": [{"enum": [v]} for v in values]}, option=option)
            return True
        except QuarvelSchemaError:
            return False

    def long_verdict():
        try:
            quarvel.loads(text, schema={"enum": LONG}, option=option)
            return True
        except QuarvelSchemaError:
            return False

    assert long_verdict() == verdict(LONG)
