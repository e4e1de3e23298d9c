"""Deep nesting on threads with small stacks: every recursive stage moves to
a fresh stack segment when the thread's own stack runs low, Python callbacks
included."""

import threading

import pytest

from _quarvel import OPT_FLOW_STYLE, dumps, loads, to_json

DEPTH = 1000


def run_in_small_thread(fn, stack=64 * 1024):
    result, errors = [], []

    def target():
        try:
            result.append(fn())
        except BaseException as e:  # re-raised below
            errors.append(e)

    old = threading.stack_size(stack)
    try:
        t = threading.Thread(target=target)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    if errors:
        raise errors[0]
    return result[0]


def innermost(value, depth):
    for _ in range(depth):
        value = value[0]
    return value


@pytest.mark.parametrize("option", [0, OPT_FLOW_STYLE])
def test_load_dump_and_json_of_the_deepest_legal_nesting(option):
    def work():
        value = loads("[" * DEPTH + "]" * DEPTH)
        back = loads(dumps(value, option=option))
        return innermost(back, DEPTH - 1), to_json(value)

    inner, js = run_in_small_thread(work)
    assert inner == [] and js == b"[" * DEPTH + b"]" * DEPTH


def test_python_callbacks_run_deep_inside_a_segment():
    text = "[" * 900 + "!x 1" + "]" * 900

    def work():
        seen = []
        value = loads(text, tag_handler=lambda tag, v: seen.append(tag) or {"deep": v})
        return innermost(value, 900), seen

    inner, seen = run_in_small_thread(work)
    assert inner == {"deep": "1"} and seen == ["!x"]


def test_default_callback_deep_inside_a_segment():
    class Leaf:
        pass

    value = [Leaf()]
    for _ in range(990):
        value = [value]

    out = run_in_small_thread(lambda: to_json(value, default=lambda o: "leaf"))
    assert out == b"[" * 991 + b'"leaf"' + b"]" * 991
