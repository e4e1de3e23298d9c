"""Duplicate keys get the same errors and warnings on every load path."""

import logging
import subprocess
import sys

import pytest

import quarvel

# Documents with repeated and almost repeated keys: each spelling of one
# value, YAML 1.1 words, tags, aliases, merge keys, flow and complex keys.
DOCUMENTS = [
    "a: 1\na: 2\n",
    "16: a\n0x10: b\n0o20: c\n",
    "1.0: a\n1.00: b\n1: c\n",
    "-0.0: a\n0.0: b\n.nan: c\n.NaN: d\n",
    "~: a\nnull: b\n'': c\n? \n: d\n",
    "yes: 1\ntrue: 2\nTrue: 3\n'true': 4\n",
    "on: 1\n'on': 2\nOn: 3\ny: 4\n",
    "010: a\n8: b\n10: c\n",
    "99999999999999999999: a\n+99999999999999999999: b\n",
    # Too long to convert to decimal: distinct texts stay distinct keys.
    f"0x{'f' * 5000}: a\n0x{'e' * 5000}: b\n0x{'f' * 5000}: c\n",
    "!foo a: 1\na: 2\n!foo a: 3\n",
    "! a: 1\na: 2\n",
    "!!str 1: a\n'1': b\n1: c\n",
    "&k a: 1\n*k : 2\n",
    "&k a: 1\n*k : &k b\nb: 3\n*k : 4\n",
    "x: &k 16\n*k : 1\n0x10: 2\n",
    "<<: {a: 1}\n<<: {b: 2}\nc: 3\n'<<': 4\n'<<': 5\n",
    "? [a, b]\n: 1\n? [a, b]\n: 2\n",
    "{[1, a]: x, [0x1, 'a']: y, [1, b]: z}\n",
    "? {a: 1}\n: x\n? {a: 0x1}\n: y\n",
    "&s [x, 1]: 1\n? *s\n: 2\n",
    "a: {x: 1, x: 2}\na: 3\n",
    "".join(f"k{i}: {i}\n" for i in range(12)) + "k3: again\n0x1: i\n1: j\n",
    "- {a: 1, b: 2, a: 3}\n- [{yes: 1, true: 2}]\n",
]

DUPLICATE_OPTIONS = [quarvel.OPT_DUPLICATE_KEYS_ERROR, quarvel.OPT_DUPLICATE_KEYS_WARN]
VERSIONS = [0, quarvel.OPT_YAML_1_1, quarvel.OPT_YAML_1_1 | quarvel.OPT_YAML_1_1_WARN]


class Recorder(logging.Handler):
    def __init__(self):
        super().__init__(logging.WARNING)
        self.texts = []

    def emit(self, record):
        self.texts.append((record.getMessage(), tuple(getattr(record, "quarvel_notes", ()))))


def outcome(load, suffix=""):
    """The exception class, message and notes, or None, and the warnings with
    their notes, with the name of an included file cut from them."""
    recorder = Recorder()
    logger = logging.getLogger("quarvel")
    logger.addHandler(recorder)
    try:
        load()
        error = None
    except quarvel.QuarvelError as e:
        error = (type(e).__name__, str(e).replace(suffix, ""), tuple(getattr(e, "__notes__", ())))
    finally:
        logger.removeHandler(recorder)
    return error, [(t.replace(suffix, ""), notes) for t, notes in recorder.texts]


@pytest.mark.parametrize("version", VERSIONS)
@pytest.mark.parametrize("duplicates", DUPLICATE_OPTIONS)
@pytest.mark.parametrize("doc", DOCUMENTS)
def test_every_load_path_reports_the_same_duplicates(tmp_path, doc, duplicates, version):
    option = duplicates | version
    (tmp_path / "inc.yaml").write_text(doc)
    inc = f" in {tmp_path / 'inc.yaml'}"
    plain = outcome(lambda: quarvel.loads(doc, option=option))
    paths = {
        "annotated": lambda: quarvel.loads(doc, option=option | quarvel.OPT_ANNOTATED),
        "round trip": lambda: quarvel.loads(doc, option=option | quarvel.OPT_ROUND_TRIP),
        "includes": lambda: quarvel.loads(doc, option=option | quarvel.OPT_INCLUDES,
                                          include_dir=str(tmp_path)),
        "included file": lambda: quarvel.loads("x: !include inc.yaml\n",
                                               option=option | quarvel.OPT_INCLUDES,
                                               include_dir=str(tmp_path)),
    }
    for name, load in paths.items():
        assert outcome(load, inc) == plain, name
    if duplicates == quarvel.OPT_DUPLICATE_KEYS_WARN:
        assert plain[0] is None
    # Every duplicate points at the first key it repeats.
    reported = [plain[0]] if plain[0] else [w for w in plain[1] if w[0].startswith("duplicate")]
    assert all(len(r[-1]) == 1 and "was first used here" in r[-1][0] for r in reported)


@pytest.mark.parametrize("doc, version, shown", [
    ("16: a\n0x10: b\n", 0, "Int(16)"),
    ("yes: 1\ntrue: 2\n", quarvel.OPT_YAML_1_1, "Bool(true)"),
    ("1.0: a\n1.00: b\n", 0, "Float(1.0)"),
    ("~: a\nnull: b\n", 0, "Null"),
    ("'a': 1\na: 2\n", 0, "a"),
    ("&k a: 1\n*k : 2\n", 0, "a"),
    ("!foo a: 1\n!foo a: 2\n", 0, 'Tagged("!foo", String("a"))'),
    ("? [1, a]\n: x\n? [0x1, 'a']\n: y\n", 0, 'Sequence([Int(1), String("a")])'),
])
def test_a_repeated_key_is_named_by_its_value(doc, version, shown):
    for path in (0, quarvel.OPT_ANNOTATED):
        with pytest.raises(quarvel.QuarvelDuplicateKeyError) as e:
            quarvel.loads(doc, option=quarvel.OPT_DUPLICATE_KEYS_ERROR | version | path)
        assert str(e.value).startswith(f"duplicate mapping key: {shown} at line ")


@pytest.mark.parametrize("doc, expected", [
    ("!foo a: 1\na: 2\n", {"a": 2}),
    ("<<: {a: 1}\n<<: {b: 2}\n", {"a": 1, "b": 2}),
    ("1: a\n1.0: b\n'1': c\n", {1: "b", "1": "c"}),
])
def test_keys_of_different_identity_are_no_duplicates(doc, expected):
    for path in (0, quarvel.OPT_ANNOTATED):
        got = quarvel.loads(doc, option=quarvel.OPT_DUPLICATE_KEYS_ERROR | path)
        assert got == expected


CAP_MEMORY = """
def cap_memory(extra):
    # Past the address space already mapped: a sanitizer build maps terabytes
    # of shadow memory before the first line runs.
    with open("/proc/self/status") as f:
        size = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
    resource.setrlimit(resource.RLIMIT_AS, (size + extra, size + extra))
"""

BOMB_KEYS = """
import quarvel
text = "l0: &l0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]\\n"
for i in range(1, 10):
    text += f"l{i}: &l{i} [" + ", ".join([f"*l{i - 1}"] * 10) + "]\\n"
text += "m:\\n  ? *l9\\n  : 1\\n  ? *l9\\n  : 2\\n"
for option in (quarvel.OPT_ROUND_TRIP, quarvel.OPT_INCLUDES, 0):
    try:
        quarvel.loads(text, option=option | quarvel.OPT_DUPLICATE_KEYS_WARN)
    except quarvel.QuarvelParseError as e:
        print(e)
"""


def test_keys_naming_an_alias_bomb_stop_at_the_expansion_budget():
    # The round-trip tree reads alias keys without expanding the document;
    # comparing such keys walks what they name, within the budget of plain
    # loading. Loading through the tree stops where plain loading does.
    result = subprocess.run(
        [sys.executable, "-c",
         "import resource\n" + CAP_MEMORY + f"cap_memory({1 << 30})\n" + BOMB_KEYS],
        capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    bomb = "document expands to too many nodes (possible alias bomb) at line "
    assert result.stdout.splitlines() == [bomb + "12, column 5"] + [bomb + "7, column 45"] * 2
