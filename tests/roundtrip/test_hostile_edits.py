"""Hostile use of round-trip documents: re-entrant callbacks, deep and
self-referencing values, huge alias expansions, threads. Nothing may crash
and every refused operation leaves the document as it was."""

import threading
import time

import pytest

import quarvel

from roundtrip_support import load, snapshot

TEXT = "a: 1  # keep\nseq: [1, 2]\nm: {k: v}\n"


def nested_list(depth):
    value = 0
    for _ in range(depth):
        value = [value]
    return value


def nested_dict(depth):
    value = 0
    for _ in range(depth):
        value = {"k": value}
    return value


@pytest.mark.parametrize("make", [nested_list, nested_dict])
def test_assignment_depth_limit(make):
    doc = load(TEXT)
    doc["a"] = make(999)
    before = snapshot(doc)
    for depth in (1000, 5000):
        with pytest.raises(ValueError) as info:
            doc["seq"] = make(depth)
        assert str(info.value) == "value is too deeply nested to assign (possible self-reference)"
    assert snapshot(doc) == before


@pytest.mark.parametrize("kind", ["list", "dict", "mixed"])
def test_self_references_are_refused(kind):
    doc = load(TEXT)
    before = snapshot(doc)
    if kind == "list":
        value = [1]
        value.append(value)
    elif kind == "dict":
        value = {"x": 1}
        value["self"] = value
    else:
        value = {"l": []}
        value["l"].append(value)
    with pytest.raises(ValueError, match="possible self-reference"):
        doc["new"] = value
    with pytest.raises(ValueError, match="possible self-reference"):
        doc.node["a"].value = value
    assert snapshot(doc) == before


def test_deep_assignments_stack_up_and_read_back():
    doc = load("k: 0\n")
    doc["k"] = nested_dict(900)
    view = doc["k"]
    for _ in range(899):
        view = view["k"]
    view["k"] = nested_dict(900)
    walked = doc.walk()
    assert len(walked) == 1 and len(walked[0][0]) == 1801
    assert walked[0][1] == 0


class Mutating:
    """A float-like value that changes the dict it sits in when converted."""

    def __init__(self, target, change):
        self.target, self.change = target, change

    def __float__(self):
        self.change(self.target)
        return 1.0


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda d: d.__setitem__("extra", 1), "dictionary changed size during iteration"),
        (lambda d: (d.pop("x"), d.update(y=1)), "dictionary keys changed during iteration"),
    ],
)
def test_dict_changed_during_conversion(change, message):
    doc = load(TEXT)
    before = snapshot(doc)
    value = {}
    value["x"] = Mutating(value, change)
    value["z"] = 0
    with pytest.raises(RuntimeError, match=message):
        doc["new"] = value
    assert snapshot(doc) == before


def test_list_shrinking_during_conversion_is_safe():
    doc = load(TEXT)
    value = [0, 0, 0]
    value[0] = Mutating(value, lambda lst: lst.clear())
    doc["new"] = value
    assert doc["new"].unwrap() == [1.0]


class ReEnter:
    """Runs `action` from one of its dunder methods."""

    def __init__(self, action):
        self.action = action

    def __float__(self):
        self.action()
        return 2.0

    def __index__(self):
        self.action()
        return 0


def readers_and_writers(doc):
    return [
        lambda: doc["a"],
        lambda: doc.to_dict(),
        lambda: doc.node["a"].value,
        lambda: doc.__setitem__("a", 5),
        lambda: setattr(doc.node["a"], "comment", "x"),
    ]


@pytest.mark.parametrize("which", range(5))
def test_reentry_from_an_assigned_value_gets_the_borrow_error(which):
    doc = load(TEXT)
    before = snapshot(doc)
    action = readers_and_writers(doc)[which]
    for assign in (lambda: doc.__setitem__("a", ReEnter(action)),
                   lambda: doc["seq"].__setitem__(0, ReEnter(action)),
                   lambda: setattr(doc.node["m"], "value", {"k": ReEnter(action)})):
        with pytest.raises(RuntimeError, match="already borrowed"):
            assign()
        assert snapshot(doc) == before


@pytest.mark.parametrize("which", range(5))
def test_reentry_from_a_key_during_assignment(which):
    doc = load(TEXT)
    before = snapshot(doc)
    action = readers_and_writers(doc)[which]
    with pytest.raises(RuntimeError, match="already borrowed"):
        doc["seq"][ReEnter(action)] = 1
    assert snapshot(doc) == before


@pytest.mark.parametrize("which", [3, 4])
def test_writes_from_a_key_during_a_read_are_refused(which):
    doc = load(TEXT)
    before = snapshot(doc)
    action = readers_and_writers(doc)[which]
    with pytest.raises(RuntimeError, match="already borrowed"):
        doc["seq"][ReEnter(action)]
    with pytest.raises(RuntimeError, match="already borrowed"):
        doc.node["seq"][ReEnter(action)]
    assert snapshot(doc) == before


@pytest.mark.parametrize("which", [0, 1])
def test_reads_from_a_key_during_a_read_are_fine(which):
    doc = load(TEXT)
    action = readers_and_writers(doc)[which]
    assert doc["seq"][ReEnter(action)] == 1


def test_reentry_from_repr_of_an_unsupported_value():
    doc = load(TEXT)
    before = snapshot(doc)

    class Bad:
        def __repr__(self):
            return repr(doc.to_dict())

    with pytest.raises(RuntimeError, match="already borrowed"):
        doc["a"] = Bad()
    assert snapshot(doc) == before


def laughs(levels):
    lines = ["l0: &l0 [x, x, x, x, x, x, x, x, x, x]"]
    for i in range(1, levels):
        refs = ", ".join([f"*l{i - 1}"] * 10)
        lines.append(f"l{i}: &l{i} [{refs}]")
    lines.append(f"top: *l{levels - 1}")
    return "\n".join(lines) + "\n"


def test_huge_alias_expansion_reads_quickly_and_shares_objects():
    # Within the expansion budget aliases share their anchor's object; past
    # it reading is refused at once, as loading refuses it.
    data = load(laughs(6)).to_dict()
    assert data["top"] is data["l5"]
    doc = load(laughs(9))
    start = time.perf_counter()
    with pytest.raises(quarvel.QuarvelParseError, match="possible alias bomb"):
        doc.to_dict()
    with pytest.raises(quarvel.QuarvelParseError, match="possible alias bomb"):
        doc.node["top"].value
    assert time.perf_counter() - start < 5


def test_detach_of_a_huge_expansion_is_bounded():
    doc = load(laughs(9))
    start = time.perf_counter()
    copy = doc.node["top"].detach()
    assert time.perf_counter() - start < 30
    assert not copy.is_alias
    # The copy stops at its node budget: the rest of it is nulls.
    leaves = doc["top"].walk()
    assert leaves[0][1] == "x"
    assert leaves[-1][1] is None


def test_self_referencing_anchor_reads_as_bounded_nesting():
    doc = load("a: &a [1, *a]\n")
    value = doc.to_dict()["a"]
    depth = 0
    while isinstance(value, list):
        value = value[1]
        depth += 1
    assert value is None and 1 < depth <= 102


def test_threads_reading_and_editing_one_document():
    doc = load("a: {b: 1}\nlist: [1, 2, 3]\n")
    errors = []

    def worker(n):
        for i in range(300):
            try:
                if (i + n) % 3 == 0:
                    doc["a"]["b"] = i
                elif (i + n) % 3 == 1:
                    doc.node["list"][1].value = [i]
                else:
                    doc.to_dict()
                    repr(doc["a"])
            except RuntimeError as e:  # a conflicting borrow, free-threaded builds
                assert "already borrowed" in str(e)
            except Exception as e:  # noqa: BLE001 - collected for the assertion
                errors.append(e)

    threads = [threading.Thread(target=worker, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert set(doc.to_dict()) == {"a", "list"}
