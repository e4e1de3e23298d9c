"""Deleting and inserting entries and items: each operation is applied to the
plain value and to the document, and the document's text must read back as
the edited value; refused operations leave the document as it was."""

import pytest

import quarvel
from roundtrip_support import load, snapshot

TEXTS = [
    "# head\na: 1  # one\n# about b\nb: 2  # two\nc: 3\n",
    "a:\n  x: 1\n  y: [1, 2]\nb:\n  - p\n  # q\n  - q  # inline\n  - r\n",
    "a: {x: 1, y: 2}\nb: [1, 2, 3]\n",
    "top:\n  - - 1\n    - 2\n  - - 3\n",
    "a: 1\nb:\n  c: 2\n# foot\n",
    "a: &k {x: 1}\nb: [1, 2]\n",
    "- a\n- b: 1\n  c: 2\n- [x]\n",
    "a: |\n  text\nb: >\n  folded\nc: 'q'\n",
]


def delete(target, key):
    del target[key]


def pop(target, key):
    return target.pop(key)


def pop_default(target, key):
    return target.pop(key, "gone")


def append(target, _key):
    target.append({"new": [1, "yes"]})


def insert_item(target, key):
    target.insert(key, "null")


def extend(target, _key):
    target.extend(["- x", None, 1.5])


def insert_entry(target, key):
    if isinstance(target, dict):
        items = list(target.items())
        items.insert(key if key >= 0 else max(len(items) + key, 0), ("new key", {"v": None}))
        target.clear()
        target.update(items)
    else:
        target.insert(key, "new key", {"v": None})


def places(model, path=()):
    """(path, container) for every mapping and sequence of the model."""
    yield path, model
    items = model.items() if isinstance(model, dict) else enumerate(model)
    for k, v in items:
        if isinstance(v, (dict, list)):
            yield from places(v, path + (k,))


def at(root, path):
    for step in path:
        root = root[step]
    return root


def operations(model):
    for path, target in places(model):
        if isinstance(target, dict):
            for k in target:
                yield path, delete, k
                yield path, pop, k
            yield path, pop_default, "missing"
            for pos in (0, 1, -1, 99):
                yield path, insert_entry, pos
        else:
            for i in range(-len(target), len(target)):
                yield path, delete, i
            for i in (0, 1, -1, -99, 99):
                yield path, insert_item, i
            yield path, append, None
            yield path, extend, None
            if target:
                yield path, pop, 0


@pytest.mark.parametrize("text", TEXTS)
def test_every_structure_edit_matches_the_plain_value(text):
    for path, op, key in operations(quarvel.loads(text)):
        model = quarvel.loads(text)
        doc = load(text)
        expected = op(at(model, path), key)
        target = at(doc, path) if path else doc
        assert op(target, key) == expected, (text, path, op.__name__, key)
        written = doc.to_yaml()
        assert quarvel.loads(written) == model, (text, path, op.__name__, key, written)
        assert doc.to_dict() == model


@pytest.mark.parametrize(
    "text, path, key, kept",
    [
        ("# a's\na: 1  # one\n# b's\nb: 2  # two\nc: 3  # three\n", (), "b",
         "# a's\na: 1  # one\nc: 3  # three\n"),
        ("s:\n  - 1  # one\n  # two's\n  - 2  # two\n  - 3\n", ("s",), 1,
         "s:\n  - 1  # one\n  - 3\n"),
    ],
)
def test_a_deleted_entry_takes_its_own_comments(text, path, key, kept):
    doc = load(text)
    del (at(doc, path) if path else doc)[key]
    assert doc.to_yaml().decode() == kept


@pytest.mark.parametrize(
    "text, written",
    [("a:\n  x: 1\n", "a: {}\n"), ("a:\n  - 1\n", "a: []\n")],
)
def test_emptied_block_collection(text, written):
    doc = load(text)
    del doc["a"][next(iter(quarvel.loads(text)["a"]))
                 if isinstance(quarvel.loads(text)["a"], dict) else 0]
    assert doc.to_yaml().decode() == written


@pytest.mark.parametrize(
    "text, action, exc, message",
    [
        ("a: 1\n", lambda d: d.__delitem__("b"), KeyError, "'b'"),
        ("a: 1\n", lambda d: d.__delitem__(0), KeyError, "0"),
        ("a: [1]\n", lambda d: d["a"].__delitem__(1), IndexError, "^index out of range$"),
        ("a: [1]\n", lambda d: d["a"].__delitem__(-2), IndexError, "^index out of range$"),
        ("a: [1]\n", lambda d: d["a"].__delitem__("x"), TypeError, "integers"),
        ("a: [1]\n", lambda d: d.append(1), TypeError, "^node is not a sequence$"),
        ("a: [1]\n", lambda d: d.extend([1]), TypeError, "^node is not a sequence$"),
        ("a: [1]\n", lambda d: d["a"].insert(0, "k", 1), TypeError, "^node is not a mapping$"),
        ("a: [1]\n", lambda d: d.insert(0, "a", 1), ValueError, "^key 'a' already exists$"),
        ("a: [1]\n", lambda d: d.insert(0, 5, 1), TypeError, "^mapping keys must be str$"),
        ("a: [1]\n", lambda d: d.pop("b"), KeyError, "b"),
        ("a: []\n", lambda d: d["a"].pop(), IndexError, "^index out of range$"),
        ("a: [1]\n", lambda d: d["a"].extend([1, object()]), TypeError, "cannot convert"),
        ("a: [1]\n", lambda d: d["a"].extend(5), TypeError, "iterable"),
        ("a: &k [1]\nb: *k\n", lambda d: d.__delitem__("a"), ValueError,
         "^the edit would remove anchor '&k', which alias \\*k at line 2, column 4 refers to$"),
        ("a: [&k 1]\nb: *k\n", lambda d: d["a"].pop(0), ValueError, "anchor '&k'"),
        ("&k a: 1\nb: *k\n", lambda d: d.__delitem__("a"), ValueError, "anchor '&k'"),
        ("a: &k {x: 1}\n*k : 1\n", lambda d: d["a"].insert(0, "y", 2), ValueError,
         "^the edit would change '&k', which alias \\*k at line 2, column 1 uses as a mapping key$"),
        ("a: &k [1]\n*k : 1\n", lambda d: d["a"].append(2), ValueError, "mapping key"),
        ("a: &k [1]\n*k : 1\n", lambda d: d["a"].__delitem__(0), ValueError, "mapping key"),
        ("- 1\n---\n- 2\n", lambda d: d.__delitem__(0), TypeError, "stream cannot be deleted"),
    ],
)
def test_refused_edits_change_nothing(text, action, exc, message):
    doc = load(text)
    before = (snapshot(doc), doc.to_yaml())
    with pytest.raises(exc, match=message):
        action(doc)
    assert (snapshot(doc), doc.to_yaml()) == before


def test_pop_default_and_sequence_pop():
    doc = load("a: [1, 2, 3]\nb: x\n")
    assert doc.pop("zz", None) is None
    assert doc.pop(5, "d") == "d"
    assert doc["a"].pop() == 3 and doc["a"].pop(0) == 1 and doc["a"].pop(-1) == 2
    assert doc.pop("b") == "x"
    assert quarvel.loads(doc.to_yaml()) == {"a": []}


def test_duplicate_key_is_deleted_with_all_its_entries():
    doc = load("a: 1\nb: 2\na: 3\n")
    del doc["a"]
    assert "a" not in doc and quarvel.loads(doc.to_yaml()) == {"b": 2}


def test_extend_by_items_read_from_the_same_document():
    doc = load("a: [1, 2]\n")
    doc["a"].extend(doc["a"][i] for i in range(2))
    assert quarvel.loads(doc.to_yaml()) == {"a": [1, 2, 1, 2]}


def test_handles_follow_positions():
    doc = load("s: [a, b, c]\n")
    last = doc.node["s"][2]
    doc["s"].insert(0, "z")
    assert last.value == "b"
    del doc["s"][0]
    assert last.value == "c"
