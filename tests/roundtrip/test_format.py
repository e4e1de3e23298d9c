"""The formatter (`QuarvelDocument.to_yaml(normalize=True)`): layout written
anew, everything a reader or a person wrote kept.

The property test runs over every valid case of the YAML test suite and,
when they are unpacked at /tmp/wheels/x (QUARVEL_FORMAT_CORPUS), over real
configuration files: the result reads as the same values, formats to itself,
ends with one line break and keeps no blanks at a line end that could go.
"""

import math
import os
import pathlib

import pytest

import quarvel
from quarvel import OPT_ROUND_TRIP

SUITE = pathlib.Path(
    os.environ.get("QUARVEL_YAML_TEST_SUITE")
    or pathlib.Path(__file__).resolve().parents[3] / "shared" / "yaml-test-suite"
)
CORPUS = pathlib.Path(os.environ.get("QUARVEL_FORMAT_CORPUS", "/tmp/wheels/x"))


def fmt(text):
    if isinstance(text, str):
        text = text.encode()
    return quarvel.loads(text, option=OPT_ROUND_TRIP).to_yaml(normalize=True)


def plain(value):
    """The value with its kinds spelt out (True is not 1) and NaN comparable."""
    if isinstance(value, bool) or value is None:
        return value
    if isinstance(value, int):
        return ("int", int(value))
    if isinstance(value, float):
        return ("float", "nan" if math.isnan(value) else value)
    if isinstance(value, str):
        return str.__str__(value)
    if isinstance(value, dict):
        return ("dict", [(plain(k), plain(v)) for k, v in value.items()])
    if isinstance(value, (list, tuple)):
        return ("list", [plain(v) for v in value])
    return ("other", repr(value))


def values(text):
    try:
        return [plain(d) for d in quarvel.loads_all(text)]
    except quarvel.QuarvelError as error:
        return type(error).__name__


def removable_end_blanks(out):
    """Lines whose end blanks could go without changing a value: those of
    block scalar content and escaped ones cannot."""
    lines = out.split(b"\n")
    found = []
    for i, line in enumerate(lines):
        body = line[:-1] if line.endswith(b"\r") else line
        if body.rstrip(b" \t") != body:
            stripped = lines[:i] + [body.rstrip(b" \t") + line[len(body) :]] + lines[i + 1 :]
            if values(b"\n".join(stripped)) == values(out):
                found.append(i + 1)
    return found


def comment_lines(text):
    """The comment lines of a text (and lines of block scalars that look
    like them, which stay as well), without their indentation."""
    return [s for s in (line.strip() for line in text.splitlines()) if s.startswith(b"#")]


def kept(lines, out_lines):
    """Every line of `lines` is among `out_lines`, as often (a comment at
    the end of a line the formatter cannot write it on goes to its own)."""
    left = list(out_lines)
    for line in lines:
        if line not in left:
            return False
        left.remove(line)
    return True


def problems(text):
    """What the formatter got wrong on `text`, or None when quarvel rejects it."""
    try:
        out = fmt(text)
    except quarvel.QuarvelError:
        return None
    found = []
    if values(out) != values(text):
        found.append("values")
    if fmt(out) != out:
        found.append("not idempotent")
    if out and not out.endswith(b"\n"):
        found.append("no final line break")
    elif out.endswith((b"\n\n", b"\r\n\r\n")) and values(out.rstrip(b"\r\n") + b"\n") == values(out):
        found.append("blank lines at the end")
    if removable_end_blanks(out):
        found.append(f"blanks at line ends {removable_end_blanks(out)[:3]}")
    if not kept(comment_lines(text), comment_lines(out)):
        found.append("comments")
    return found


def suite_texts():
    if not SUITE.is_dir():
        return []
    texts = []
    for case in sorted(p for p in SUITE.iterdir() if p.is_dir()):
        subs = [case] if (case / "in.yaml").is_file() else sorted(p for p in case.iterdir() if p.is_dir())
        texts += [p for p in subs if (p / "in.yaml").is_file() and not (p / "error").exists()]
    return [p / "in.yaml" for p in texts]


def corpus_texts():
    if not CORPUS.is_dir():
        return []
    return sorted(p for p in CORPUS.rglob("*") if p.suffix in (".yaml", ".yml") and p.is_file())


# Cases the formatter leaves as they are, because their re-emitted form
# would change a style (a root block scalar without a line break written
# quoted, a plain key ":" quoted); they end as they did, without a line break.
LEFT_AS_THEY_ARE = {"2G84/02", "2G84/03", "UKK6/01"}


@pytest.mark.parametrize("source", ["suite", "corpus"])
def test_formatting_keeps_values_and_settles(source):
    paths = suite_texts() if source == "suite" else corpus_texts()
    if not paths:
        pytest.skip(f"no {source} texts here")
    failed = []
    for path in paths:
        text = path.read_bytes()
        if source == "suite" and str(path.parent.relative_to(SUITE)) in LEFT_AS_THEY_ARE:
            assert fmt(text) == text, path
            continue
        found = problems(text)
        if found:
            failed.append(f"{path}: {found}")
    assert not failed, "\n".join(failed[:20])


# (before, after): each normalisation on a small text.
NORMALISED = {
    "padding after ':' and '-'": ("a:    1\nb:\n  -   x\n  -    y: 2\n", "a: 1\nb:\n  - x\n  - y: 2\n"),
    "mappings by two": ("a:\n    b:\n        c: 1\n    d: 2\n", "a:\n  b:\n    c: 1\n  d: 2\n"),
    "sequences as most are (level)": ("a:\n- 1\nb:\n- 2\nc:\n    - 3\n", "a:\n- 1\nb:\n- 2\nc:\n- 3\n"),
    "sequences as most are (indented)": (
        "a:\n    - 1\nb:\n   - 2\nc:\n- 3\n",
        "a:\n  - 1\nb:\n  - 2\nc:\n  - 3\n",
    ),
    "sequence in sequence": ("-   - a\n    - b\n-\n    k: v\n", "- - a\n  - b\n-\n  k: v\n"),
    "blanks at line ends": ("a: 1   \nb:    \n  - x  \n", "a: 1\nb:\n  - x\n"),
    "final line break added": ("a: 1", "a: 1\n"),
    "final blank lines": ("a: 1\n\n\n", "a: 1\n"),
    "blank lines between entries kept": ("a: 1\n\n\nb: 2\n  \nc: 3\n", "a: 1\n\n\nb: 2\n\nc: 3\n"),
    "inline comments keep their text and spacing": ("a:   1   #c\nb: 2 #  d  \n", "a: 1   #c\nb: 2 #  d\n"),
    "comment lines follow their node": (
        "a:\n    b: 1\n      # about c\n    c: 2\n",
        "a:\n  b: 1\n  # about c\n  c: 2\n",
    ),
    "commented-out entries stay at their level": (
        "a:\n    b: 1\n    # c: 2\nd: 3\n",
        "a:\n  b: 1\n  # c: 2\nd: 3\n",
    ),
    "comment line between a key and its value": ("k:\n      # c\n    v\n", "k:\n  # c\n  v\n"),
    "empty comments lose their end blank": ("a: 1 # \n#   \n", "a: 1 #\n#\n"),
    "block scalar content moves, its end blanks stay": (
        "a:\n    b: |\n        x  \n          y\n\n    c: >-\n       z\n",
        "a:\n  b: |\n    x  \n      y\n\n  c: >-\n    z\n",
    ),
    "block scalar kept with +": ("a: |+\n    x\n\n\n", "a: |+\n  x\n\n\n"),
    "indentation indicator": ("a:\n    b: |2\n          x\n        y\n", "a:\n  b: |2\n        x\n      y\n"),
    "flow collections as written, later lines moved": (
        "a:     [1,   2,\n        3]   # c\n",
        "a: [1,   2,\n    3]   # c\n",
    ),
    "multi-line quoted scalar": ('a:\n    b:   "one\n          two"\n', 'a:\n  b: "one\n      two"\n'),
    "multi-line plain scalar": ("a:\n    b: one   \n     two\n", "a:\n  b: one\n   two\n"),
    "root properties and comments below them": ("--- !!seq\n  # c\n- 1\n", "---\n# c\n!!seq\n- 1\n"),
    "escaped blank at a line end stays": ('a: "x\\ \n  y"\n', 'a: "x\\ \n  y"\n'),
    "styles, tags, anchors and aliases": (
        "a:   &x !!str 1\nb:  *x\nc:    'q'\nd: \"\\u00e9\"\ne: !t {k: v}\n",
        "a: &x !!str 1\nb: *x\nc: 'q'\nd: \"\\u00e9\"\ne: !t {k: v}\n",
    ),
    "complex keys": ("?   a\n:   b\n? [x]\n:    y\n", "? a\n: b\n? [x]\n: y\n"),
    "empty keys and values stay empty": (":   a\nc:\n", ": a\nc:\n"),
    "documents and directives": (
        "%YAML 1.2   \n---   # first\na:   1\n...   \n--- !!map\nb:    2\n",
        "%YAML 1.2\n--- # first\na: 1\n...\n--- !!map\nb: 2\n",
    ),
    "root scalar on the marker line": ("--- |\n    text\n", "--- |\n  text\n"),
    "comment-only text": ("  # only   \n\n", "# only\n"),
    "empty text": ("", ""),
    "CR LF line breaks kept": ("a:    1\r\nb:\r\n    - x  \r\n", "a: 1\r\nb:\r\n  - x\r\n"),
    "lone CR line breaks kept": ("a:    1\rb:   2\r", "a: 1\rb: 2\r"),
}


@pytest.mark.parametrize("name", NORMALISED)
def test_normalisations(name):
    before, after = NORMALISED[name]
    assert fmt(before).decode() == after
    assert fmt(after).decode() == after
    assert values(after.encode()) == values(before.encode())


@pytest.mark.parametrize(
    "text",
    [
        "-   a\n-    # no node takes this comment\n",
        "key::: value\nx:     1\n",  # a plain key ending in ':' would be quoted
    ],
)
def test_text_that_cannot_be_normalised_safely_comes_back_as_it_was(text):
    assert fmt(text) == text.encode()


def test_default_writes_the_text_as_it_was_and_edits_are_normalised_too():
    doc = quarvel.loads("a:    1  \nb:\n    - x\n", option=OPT_ROUND_TRIP)
    assert doc.to_yaml() == doc.to_yaml(normalize=False) == b"a:    1  \nb:\n    - x\n"
    doc["a"] = {"k": [1, 2]}
    doc["b"].append("y")
    assert doc.to_yaml(normalize=True) == b"a:\n  k:\n    - 1\n    - 2\nb:\n  - x\n  - y\n"
    assert doc.to_yaml() == b"a:\n    k:\n        - 1\n        - 2\nb:\n    - x\n    - y\n"


def test_to_yaml_takes_normalize_by_keyword_only():
    doc = quarvel.loads("a: 1\n", option=OPT_ROUND_TRIP)
    with pytest.raises(TypeError):
        doc.to_yaml(True)
    with pytest.raises(TypeError, match="unexpected keyword argument 'normalise'"):
        doc.to_yaml(normalise=True)
