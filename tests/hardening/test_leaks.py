"""Repeated calls must not grow memory: every path, error paths and raising
callbacks included, releases what it created."""

import gc
import os
import sys

import pytest

import _quarvel
from _quarvel import OPT_PASSTHROUGH_TAG, QuarvelTag, dumps, loads, loads_all, to_json
from quarvel.exceptions import QuarvelError

DOCS = [
    "a: 1\nb: [1, 2.5, x, null, true]\nc: {d: e}\n",
    "base: &b {x: 1, y: [1, 2]}\nuse:\n  <<: *b\n  z: *b\n",
    "- !tag 1\n- !other [a, b]\n- !!str 5\n",
    "k: |\n  literal\n  text\n",
    "--- 1\n--- [2]\n--- {3: 4}\n",
    "[1, 2]: x\n{a: 1}: y\n",
    "big: 123456789012345678901234567890\n",
]
BAD_DOCS = ["a: [1, 2", "a: b: c", "*unknown", "- a\nb: c", '"\\x"', "\t- x", "a: 1\na: 2"]


def boom(*args):
    raise RuntimeError("callback failed")


class Unknown:
    pass


def exercise():
    for doc in DOCS:
        loads(doc)
        loads_all(doc, option=OPT_PASSTHROUGH_TAG)
        loads(doc, tag_handler=lambda tag, value: (tag, value))
        try:
            loads(doc, tags={"!tag": boom})
        except RuntimeError:
            pass
    for doc in BAD_DOCS:
        try:
            loads(doc, option=_quarvel.OPT_DUPLICATE_KEYS_ERROR)
        except QuarvelError:
            pass
    value = {"a": [1, 2.5, "x", None, True], "t": QuarvelTag("!x", [1]), "n": 2**70, "s": {1, 2}}
    dumps(value)
    to_json(value)
    dumps(value, option=_quarvel.OPT_FLOW_STYLE | _quarvel.OPT_SORT_KEYS, width=10)
    for bad in [Unknown(), {"k": Unknown()}, [b"\xff"]]:
        for fn in (dumps, to_json):
            try:
                fn(bad)
            except QuarvelError:
                pass
    try:
        dumps(Unknown(), default=boom)
    except RuntimeError:
        pass
    dumps(Unknown(), default=lambda o: {"replaced": [1, 2]})
    cyclic = []
    cyclic.append(cyclic)
    try:
        dumps(cyclic)
    except QuarvelError:
        pass


def resident_kib():
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


@pytest.mark.skipif(os.environ.get("QUARVEL_SANITIZED") == "1", reason="allocation counts differ under sanitizers")
def test_repeated_calls_do_not_grow_memory():
    # Warm up caches (interned keys, exception classes, logging) first.
    for _ in range(200):
        exercise()
    gc.collect()
    blocks_before = sys.getallocatedblocks()
    rss_before = resident_kib()
    for _ in range(3000):
        exercise()
    gc.collect()
    grown = sys.getallocatedblocks() - blocks_before
    assert grown < 500, f"{grown} Python memory blocks more after 3000 rounds"
    if rss_before is not None:
        # 3000 rounds make about a million objects; a leak of even one small
        # object per call would show as tens of megabytes.
        assert resident_kib() - rss_before < 8 * 1024
