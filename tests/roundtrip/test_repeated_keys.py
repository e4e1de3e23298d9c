"""A repeated mapping key: loading keeps the last entry, so reading, testing,
cursors and edits all address that entry, and an edit survives a reload."""

import pytest

import quarvel

from roundtrip_support import load

TEXTS = [
    "a: 1\nb: 2\na: 3\n",
    "a: 1\na: 2\na: {k: 3}\n",
    "{a: 1, b: 2, a: 3}\n",
    'a: 1\n"a": 2\n',
    "a: [1]\nb: x\na: [2, 3]\n",
    "outer:\n  a: 1\n  a: 2\nb: 0\n",
]


def plain(value):
    return value.unwrap() if isinstance(value, quarvel.QuarvelDocumentView) else value


@pytest.mark.parametrize("text", TEXTS)
def test_every_handle_addresses_the_kept_entry(text):
    doc = load(text)
    loaded = quarvel.loads(text)
    for key, kept in loaded.items():
        assert plain(doc[key]) == kept and key in doc
        assert doc.node[key].value == kept
    walked = doc.walk()
    assert len({path for path, _ in walked}) == len(walked)


@pytest.mark.parametrize("text", [
    "2:\n -\n!\n2:\n",  # one text, two keys: "2" reaches the last
    "1: [a]\n'1': b\n",
    "'1': [a]\n1: b\n",
    "0x1: [a]\n1: b\n",  # two texts, one key: "0x1" reaches "1"
])
def test_walk_lists_only_paths_that_reach_their_node(text):
    doc = load(text)
    for path, value in doc.walk():
        reached = doc
        for step in path:
            reached = reached[step]
        assert plain(reached) == value, path


@pytest.mark.parametrize("text", TEXTS)
def test_edits_of_a_repeated_key_survive_a_reload(text):
    loaded = quarvel.loads(text)
    for key in loaded:
        for edit in ("item", "node"):
            doc = load(text)
            if edit == "item":
                doc[key] = "new"
            else:
                doc.node[key].value = "new"
            block = not text.startswith("{")  # flow entries are written without comments
            if block:
                doc.node[key].comment = "kept"
                doc.node[key].comment_before = "above"
            out = doc.to_yaml()
            assert quarvel.loads(out) == {**loaded, key: "new"}, out
            again = load(out)
            if block:
                assert again.node[key].comment == "kept"
                # Above the first line, the lines read back as the document's.
                assert "above" in (again.node[key].comment_before, again.node.comment_before)


def test_nested_repeated_key_through_a_view():
    doc = load(TEXTS[-1])
    doc["outer"]["a"] = 9
    assert quarvel.loads(doc.to_yaml()) == {"outer": {"a": 9}, "b": 0}


@pytest.mark.parametrize("text, spelling, key", [
    ("0: a\nx: 1\n-0: b\n", "0", 0),
    ("1: a\n0x1: b\n", "1", 1),
    ("6E1222: a\n66E1222: b\n", "6E1222", float("inf")),
    ("true: a\nTrue: b\n", "true", True),
])
def test_a_key_written_otherwise_is_the_same_key(text, spelling, key):
    # Loading keeps the later entry, so its text reaches that one too.
    doc = load(text)
    assert doc[spelling] == "b" and spelling in doc
    doc[spelling] = "new"
    assert quarvel.loads(doc.to_yaml())[key] == "new"
    del doc[spelling]
    assert key not in quarvel.loads(doc.to_yaml())
