"""A text reads as the same values whichever way it is loaded: plainly,
annotated, or as a round-trip document to edit (its to_dict()), in each
reading mode, or every way raises the same exception class.

Allowed differences, each with its rule:
- A round-trip document keeps an alias whose anchor is not defined (it reads
  as None) where loading refuses it: the editor keeps what it can write back.
- A round-trip document holds no empty documents, where loads_all gives None
  for each: compared without those.
- Tag options (tags=, tag_handler=, OPT_PASSTHROUGH_TAG) are not kept with a
  round-trip document: its values are the untagged ones (TAGGED below).
"""

import math
import os
import pathlib

import pytest

import quarvel
from quarvel import OPT_ANNOTATED, OPT_INCLUDES, OPT_PYYAML_COMPAT, OPT_ROUND_TRIP, OPT_YAML_1_1

SUITE = pathlib.Path(
    os.environ.get("QUARVEL_YAML_TEST_SUITE")
    or pathlib.Path(__file__).resolve().parents[3] / "shared" / "yaml-test-suite"
)

MODES = {"1.2": 0, "1.1": OPT_YAML_1_1, "pyyaml": OPT_PYYAML_COMPAT}

HAND_MADE = {
    "words 1.1": "a: yes\nb: off\nc: On\nd: y\ne: NO\n",
    "numbers 1.1": "a: 010\nb: 0o10\nc: 0x1F\nd: 1_000\ne: 0b101\nf: 1:30\ng: 190:20:30.15\n",
    "floats 1.1": "a: 1e3\nb: .5\nc: 6.8523015e+5\nd: -.inf\ne: .NaN\nf: 1_0.5\n",
    "null words": "a: ~\nb: null\nc: Null\nd:\ne: NULL\n",
    "directive 1.1": "%YAML 1.1\n---\na: yes\nb: 010\nc: [on, off]\n",
    "directive 1.2": "%YAML 1.2\n---\na: yes\nb: 010\n",
    "quoted words": "a: 'yes'\nb: \"010\"\nc: !!str yes\nd: !!bool true\n",
    "merge one": "base: &b {x: 1, y: 2}\nuse:\n  <<: *b\n  y: 3\n",
    "merge list": "a: &a {x: 1}\nb: &b {x: 2, z: 3}\nc:\n  <<: [*a, *b]\n  w: 4\n",
    "merge nested": "a: &a {x: 1}\nb: &b {<<: *a, y: 2}\nc: {<<: *b, z: 3}\n",
    "merge in list": "- &a {k: 1}\n- {<<: *a, j: 2}\n- <<: *a\n",
    "merge scalar": "<<: 1\n",
    "merge quoted": "a: &a {k: 1}\nb: {'<<': *a}\n",
    "merge inline": "b:\n  <<: {p: 1}\n  q: 2\n",
    "merge block": "a: &a\n  k: 1\n  m: [1, 2]\nb:\n  <<: *a\n  k: 0\n",
    "empty str value": "k: !!str\n",
    "empty str key": "!!str : v\n",
    "empty str both": "? !!str\n: !!str\n",
    "empty str in flow": "[!!str , a]\n",
    "empty null tag": "k: !!null\n",
    "aliases shared": "a: &x [1, 2]\nb: *x\nc: [*x, *x]\n",
    "alias scalar": "a: &x 010\nb: *x\nc: &y yes\nd: *y\n",
    "alias redefined": "a: &x 1\nb: &x 2\nc: *x\n",
    "alias key": "a: &k key\n*k : v\n",
    "collection keys": "? [1, 2]\n: a\n? {x: y}\n: b\n",
    "alias collection key": "a: &s [1, 2]\n? *s\n: v\n",
    "custom scalar": "a: !thing 12\nb: !thing yes\n",
    "custom collection": "a: !pair [1, 2]\nb: !rec {k: v}\n",
    "tag handle": "%TAG !e! tag:example.com,2000:\n---\na: !e!x 5\n",
    "int tags": "a: !!int 010\nb: !!float 1\nc: !!int 0x10\n",
    "big ints": "a: 123456789012345678901234567890\nb: -0x1\n",
    "block scalars": "a: |\n  one\n  two\nb: >-\n  folded\n  text\n",
    "multi documents": "a: yes\n---\n- 010\n- *u\n",
    "documents 1.1": "%YAML 1.1\n---\na: yes\n...\n---\nb: off\n",
    "empty documents": "---\n---\na: 1\n---\n",
    "duplicate keys": "a: 1\na: 2\n",
    "deep": "a:\n" + "".join("  " * i + "- b:\n" for i in range(1, 30)) + "  " * 30 + "  c\n",
    "bad int": "a: !!int hello\n",
    "syntax error": "a: [1, 2\n",
    "unknown alias": "a: *nowhere\n",
    "alias with an anchor": "a: &x 1\nb: &y *x\n",
    "alias with a tag": "a: &x 1\nb: [!t *x]\n",
    "undefined tag handle": "a: !e!x 1\n",
}

# Hand-made texts with custom tags, read with tag options; a round-trip
# document keeps no tag options.
TAGGED = {
    "custom scalar": {"tags": {"!thing": lambda v: ("thing", v)}},
    "custom collection": {"tag_handler": lambda tag, v: (tag, repr(v))},
}


def plain(value):
    """The value as base types, with its kinds spelt out (True is not 1) and
    NaN made comparable; annotated objects read as their base types."""
    if value is None:
        return None
    if isinstance(value, bool):
        return ("bool", value)
    if isinstance(value, int):
        return ("int", int(value))
    if isinstance(value, float):
        return ("float", "nan" if math.isnan(value) else float(value))
    if isinstance(value, str):
        return ("str", str.__str__(value))
    if isinstance(value, dict):
        return ("dict", [(plain(k), plain(v)) for k, v in value.items()])
    if isinstance(value, (list, tuple)):
        return ("list" if isinstance(value, list) else "tuple", [plain(v) for v in value])
    return ("other", repr(value))


def outcome(read):
    try:
        return "ok", read()
    except RecursionError:
        raise
    except Exception as error:  # noqa: BLE001 - the class is what is compared
        return "raised", type(error).__name__


def documents(text, option, **kw):
    return [plain(d) for d in quarvel.loads_all(text, option=option, **kw)]


def check_same(text, option, round_trip_tolerates=False, **kw):
    first = outcome(lambda: plain(quarvel.loads(text, option=option, **kw)))
    annotated = outcome(lambda: plain(quarvel.loads(text, option=option | OPT_ANNOTATED, **kw)))
    assert annotated == first
    # The directive options choose the syntax-tree path, which must read and
    # refuse what plain loading does.
    directives = outcome(lambda: plain(quarvel.loads(text, option=option | OPT_INCLUDES, **kw)))
    assert directives == first
    every = outcome(lambda: documents(text, option, **kw))
    every_annotated = outcome(lambda: documents(text, option | OPT_ANNOTATED, **kw))
    assert every_annotated == every
    edited = outcome(lambda: quarvel.loads(text, option=option | OPT_ROUND_TRIP))
    if edited[0] == "raised" or every[0] == "raised":
        if round_trip_tolerates and every[0] == "raised" and edited[0] == "ok":
            return
        assert edited == (every if every[0] == "raised" else first)
        return
    if kw:
        return  # values under tag options differ by rule; only failures compare
    # One root reads as its value, several (or none) as a list; the Nones
    # of loads_all may be empty documents, which a round-trip document drops.
    values = plain(edited[1].to_dict())
    kept = [d for d in every[1] if d is not None]
    assert values in [docs[0] if len(docs) == 1 else ("list", docs) for docs in (every[1], kept)]


def suite_cases(errors=False):
    """The suite's valid cases, or with `errors` those it says must fail."""
    if not SUITE.is_dir():
        return []
    found = []
    for path in sorted(SUITE.iterdir()):
        if not path.is_dir():
            continue
        subs = [path] if (path / "in.yaml").is_file() else sorted(p for p in path.iterdir()
                                                                   if p.is_dir())
        found.extend(p for p in subs
                     if (p / "in.yaml").is_file() and (p / "error").exists() == errors)
    return found


@pytest.mark.parametrize("mode", MODES.values(), ids=MODES.keys())
@pytest.mark.parametrize("name", HAND_MADE)
def test_hand_made_texts_read_the_same_every_way(name, mode):
    # A document to edit keeps an unknown alias (it reads as None) and a tag
    # under an undefined handle as written.
    tolerated = ("unknown alias", "multi documents", "undefined tag handle")
    check_same(HAND_MADE[name], mode, round_trip_tolerates=name in tolerated)


@pytest.mark.parametrize("mode", MODES.values(), ids=MODES.keys())
@pytest.mark.parametrize("name", TAGGED)
def test_tag_options_apply_alike_to_plain_and_annotated_loading(name, mode):
    check_same(HAND_MADE[name], mode, **TAGGED[name])


@pytest.mark.parametrize("mode", MODES.values(), ids=MODES.keys())
def test_yaml_test_suite_reads_the_same_every_way(mode):
    cases = suite_cases()
    if not cases:
        pytest.skip(f"the YAML test suite is not at {SUITE}")
    failed = []
    for case in cases:
        text = (case / "in.yaml").read_bytes()
        try:
            check_same(text, mode)
        except AssertionError as error:
            failed.append(f"{case.relative_to(SUITE)}: {error}")
    assert not failed, "\n".join(failed[:20])


def test_document_values_follow_the_reading_mode():
    text = "a: yes\nb: 010\nc: <<\n"
    assert quarvel.loads(text, option=OPT_ROUND_TRIP | OPT_YAML_1_1).to_dict() == {
        "a": True, "b": 8, "c": "<<"}
    doc = quarvel.loads(text, option=OPT_ROUND_TRIP | OPT_PYYAML_COMPAT)
    assert doc["a"] is True and doc.walk() == [(("a",), True), (("b",), 8), (("c",), "<<")]
    assert quarvel.loads("%YAML 1.1\n---\n" + text, option=OPT_ROUND_TRIP)["b"] == 8


@pytest.mark.parametrize("name", ["merge one", "merge list", "merge nested", "aliases shared",
                                  "alias scalar", "alias redefined", "empty str value",
                                  "words 1.1", "block scalars"])
def test_entries_read_alone_as_in_the_whole_document(name):
    # An entry read by itself resolves its aliases to the definitions they
    # name outside it, and merges as the whole document does.
    doc = quarvel.loads(HAND_MADE[name], option=OPT_ROUND_TRIP | OPT_YAML_1_1)
    whole = doc.to_dict()
    for key in doc.keys():
        if key not in whole:
            continue  # a "<<" entry, merged into its mapping
        entry = doc[key]
        alone = entry.unwrap() if hasattr(entry, "unwrap") else entry
        assert plain(alone) == plain(whole[key]), key


@pytest.mark.parametrize("mode", MODES.values(), ids=MODES.keys())
def test_yaml_test_suite_errors_fail_every_way(mode):
    cases = suite_cases(errors=True)
    if not cases:
        pytest.skip(f"the YAML test suite is not at {SUITE}")
    failed = []
    for case in cases:
        text = (case / "in.yaml").read_bytes()
        first = outcome(lambda: quarvel.loads(text, option=mode))
        if first[0] != "raised":
            continue  # read by a rule of this library; the conformance test lists them
        for extra in (OPT_ANNOTATED, OPT_INCLUDES):
            other = outcome(lambda: quarvel.loads(text, option=mode | extra))
            if other != first:
                failed.append(f"{case.relative_to(SUITE)} with option {extra}: {other}")
    assert not failed, "\n".join(failed[:20])
