"""Hostile and broken input: only documented exceptions come out, and every
call finishes in bounded time and memory."""

import pathlib
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _quarvel
from _quarvel import loads, loads_all
from quarvel.exceptions import QuarvelError, QuarvelParseError

SUITE = pathlib.Path(__file__).resolve().parents[3] / "shared" / "yaml-test-suite"
BUILTIN = [
    b"a: 1\nb: [x, {y: z}]\n",
    b"- &a !t {k: v}\n- *a\n- <<: *a\n",
    b'"esc \\x41 \\u00e9" : >-\n  folded\n  text\n',
    b"%YAML 1.1\n%TAG !e! tag:e,2000:\n--- !e!x |+\n  keep\n\n...\n",
    b"? [a, b]\n: {c: d}\n",
]


def seed_documents():
    docs = list(BUILTIN)
    if SUITE.is_dir():
        docs += [p.read_bytes() for p in sorted(SUITE.glob("*/in.yaml"))[:150]]
    return docs


SEEDS = seed_documents()
INDICATORS = list(b"-?:,[]{}#&*!|>'\"%@`\t\n\r ") + [0xEF, 0xFF, 0x00, 0xC3]

# Options that change reading, without the paths that need files or documents.
READ_FLAGS = [
    _quarvel.OPT_YAML_1_1, _quarvel.OPT_PYYAML_COMPAT, _quarvel.OPT_YAML_1_1_WARN,
    _quarvel.OPT_PASSTHROUGH_TAG, _quarvel.OPT_DUPLICATE_KEYS_ERROR, _quarvel.OPT_DUPLICATE_KEYS_WARN,
    _quarvel.OPT_REJECT_COMPLEX_KEYS,
]


@st.composite
def mutated(draw):
    data = bytearray(draw(st.sampled_from(SEEDS)))
    for _ in range(draw(st.integers(0, 6))):
        kind = draw(st.sampled_from(["insert", "replace", "delete", "cut", "duplicate"]))
        pos = draw(st.integers(0, len(data)))
        if kind == "insert":
            data[pos:pos] = bytes([draw(st.sampled_from(INDICATORS))])
        elif kind == "replace" and pos < len(data):
            data[pos] = draw(st.sampled_from(INDICATORS))
        elif kind == "delete" and pos < len(data):
            del data[pos]
        elif kind == "cut":
            del data[pos:]
        elif kind == "duplicate":
            data[pos:pos] = data[pos:pos + draw(st.integers(1, 40))]
    return bytes(data)


options = st.lists(st.sampled_from(READ_FLAGS), max_size=4).map(lambda fs: sum(set(fs)))


def call_safely(fn, data, option):
    try:
        fn(data, option=option)
    except (QuarvelError, ValueError):
        pass  # documented: parse errors and input decoding errors


@settings(max_examples=1500, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(mutated(), options)
def test_mutated_yaml_raises_only_documented_errors(data, option):
    call_safely(loads, data, option)
    call_safely(loads_all, data, option)
    call_safely(loads, data.decode("latin-1"), option)


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=200), options)
def test_random_bytes_raise_only_documented_errors(data, option):
    call_safely(loads_all, data, option)


BILLION_LAUGHS = "a: &a [x, x, x, x, x, x, x, x, x, x]\n" + "".join(
    f"{chr(98 + i)}: &{chr(98 + i)} [{', '.join(['*' + chr(97 + i)] * 10)}]\n" for i in range(8)
)


def test_alias_bomb_stops_at_the_budget_within_seconds():
    # Nine levels of ten aliases would be a billion nodes; the budget of ten
    # million is reached in about a second here.
    start = time.perf_counter()
    with pytest.raises(QuarvelParseError, match="possible alias bomb"):
        loads(BILLION_LAUGHS)
    assert time.perf_counter() - start < 10


@pytest.mark.parametrize("depth, ok", [(1000, True), (1001, False)])
def test_nesting_limit(depth, ok):
    text = "[" * depth + "]" * depth
    if ok:
        loads(text)
    else:
        with pytest.raises(QuarvelParseError, match=r"maximum nesting depth \(1000\) exceeded"):
            loads(text)


def test_very_deep_unclosed_nesting_fails_fast():
    with pytest.raises(QuarvelParseError):
        loads("[" * 1_000_000)
    with pytest.raises(QuarvelParseError):
        loads("{a: " * 100_000)


def test_huge_scalar_of_16_mb():
    text = "k: " + "x" * (16 * 1024 * 1024) + "\n"
    assert len(loads(text)["k"]) == 16 * 1024 * 1024
    quoted = 'k: "' + "\\x41" * (1024 * 1024) + '"\n'
    assert loads(quoted)["k"] == "A" * (1024 * 1024)


def test_very_long_line_of_a_million_flow_items():
    text = "[" + ", ".join(["1"] * 1_000_000) + "]"
    assert len(loads(text)) == 1_000_000


def test_many_documents():
    assert len(loads_all("--- 1\n" * 200_000)) == 200_000


def test_many_anchors_and_aliases_stay_linear():
    text = "".join(f"a{i}: &x{i} [1, 2]\nb{i}: *x{i}\n" for i in range(50_000))
    assert len(loads(text)) == 100_000
