"""The package's annotated scalar classes, called with their eleven arguments
and built directly by the extension (through the _quarvel_probe hooks)."""

import copy
import math
import pickle

import pytest

import quarvel

STR, INT, FLOAT = quarvel.QuarvelAnnotatedStr, quarvel.QuarvelAnnotatedInt, quarvel.QuarvelAnnotatedFloat
CLASSES = [(STR, "str", "text"), (INT, "int", 2**70 + 3), (FLOAT, "float", -1.25)]
STYLES = ["plain", "single", "double", "literal", "folded"]

# The record arguments: line, column, file, end line, end column, style,
# source tag, source target, offset, end offset.
RECORD = (3, 7, "conf.yaml", 4, 11, "double", "!secret", "db_pass", 2**40, 2**64 - 1)
# The same record as the probe takes it: the containers' 9-tuple and a style index.
STATE = (3, 7, "conf.yaml", 4, 11, "!secret", "db_pass", 2**40, 2**64 - 1)
STYLE_INDEX = 2


def arguments(s):
    return (s.__line__, s.__column__, s.__file__, s.__end_line__, s.__end_column__, s.style,
            s.__source_tag__, s.__source_target__, s.__offset__, s.__end_offset__)


@pytest.fixture(scope="module")
def probe():
    return pytest.importorskip("_quarvel_probe", reason="built only in development builds")


@pytest.mark.parametrize("cls, kind, value", CLASSES)
class TestCalledWithElevenArguments:
    def test_value_record_and_flags(self, cls, kind, value):
        s = cls(value, *RECORD)
        assert s == value and isinstance(s, type(value)) and type(s) is cls
        assert arguments(s) == RECORD
        assert (s.is_secret, s.is_env_var, s.is_include) == (True, False, False)
        assert repr(s) == repr(value) and hash(s) == hash(value)

    def test_pickle_and_copies_keep_the_record(self, cls, kind, value):
        s = cls(value, *RECORD)
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            back = pickle.loads(pickle.dumps(s, protocol))
            assert type(back) is cls and back == value and arguments(back) == RECORD
        for clone in (copy.copy(s), copy.deepcopy(s)):
            assert type(clone) is cls and clone == value and arguments(clone) == RECORD

    @pytest.mark.parametrize("name", ["__line__", "__column__", "__file__", "__end_line__",
                                      "__end_column__", "style", "__source_tag__",
                                      "__source_target__", "__offset__", "__end_offset__",
                                      "is_secret"])
    def test_record_is_read_only(self, cls, kind, value, name):
        s = cls(value, *RECORD)
        with pytest.raises(AttributeError):
            setattr(s, name, 1)
        with pytest.raises(AttributeError):
            delattr(s, name)
        assert arguments(s) == RECORD

    @pytest.mark.parametrize("args", [(), (1, 2), RECORD[:-1], RECORD + (0,)])
    def test_wrong_argument_count(self, cls, kind, value, args):
        with pytest.raises(TypeError):
            cls(value, *args)


@pytest.mark.parametrize("cls, value", [(STR, "text"), (FLOAT, 2.5)])
@pytest.mark.parametrize("index, bad, error", [
    (0, 2**32, ValueError),              # lines and columns are 32-bit
    (3, -1, ValueError),
    (8, 2**64, ValueError),              # offsets 64-bit
    (5, "quoted", ValueError),           # one of the five style names
    (5, None, ValueError),
    (2, 7, TypeError),                   # file: str or None
    (6, b"!secret", TypeError),
])
def test_extension_classes_refuse_a_bad_record(cls, value, index, bad, error):
    record = list(RECORD)
    record[index] = bad
    with pytest.raises(error):
        cls(value, *record)


def test_a_str_subclass_record_text_is_stored_as_str():
    class Name(str):
        pass

    s = STR("v", 1, 1, Name("conf.yaml"), 1, 2, "plain", None, None, 0, 1)
    assert type(s.__file__) is str and s.__file__ == "conf.yaml"


@pytest.mark.parametrize("cls, kind, value", CLASSES)
class TestBuiltDirectly:
    def test_same_object_as_the_call_builds(self, probe, cls, kind, value):
        s = probe.new_scalar(kind, value, STATE, STYLE_INDEX)
        assert type(s) is cls and s == value and repr(s) == repr(value)
        assert arguments(s) == RECORD

    def test_fast_path_is_taken_for_the_package_classes(self, probe, cls, kind, value):
        direct, native, slots = probe.describe(cls, kind)
        assert direct
        # str and float are the extension's types, with the record inline;
        # int keeps it in the instance dict.
        assert native == (cls is not INT)
        assert all(offset == 0 for offset in slots)

    def test_pickle_and_copies_keep_the_record(self, probe, cls, kind, value):
        s = probe.new_scalar(kind, value, STATE, STYLE_INDEX)
        for clone in (pickle.loads(pickle.dumps(s)), copy.copy(s), copy.deepcopy(s)):
            assert type(clone) is cls and clone == value and arguments(clone) == RECORD

    def test_direct_and_called_builds_agree(self, probe, cls, kind, value):
        made = [probe.build(cls, kind, value, STATE, STYLE_INDEX, direct) for direct in (True, False)]
        assert [type(m) for m in made] == [cls, cls]
        assert arguments(made[0]) == arguments(made[1]) == RECORD


@pytest.mark.parametrize("index, name", list(enumerate(STYLES)))
def test_style_names(probe, index, name):
    assert probe.new_scalar("str", "v", STATE, index).style == name


@pytest.mark.parametrize("kind, value", [
    ("str", ""), ("str", "é ✓ \U0001f600"), ("str", "a\x00b"),
    ("int", 0), ("int", -5), ("int", 2**200), ("int", -(2**64)),
    ("float", 0.0), ("float", -0.0), ("float", math.inf), ("float", 1e308),
])
def test_values_survive_the_direct_build(probe, kind, value):
    s = probe.new_scalar(kind, value, (1, 1, None, 1, 2, None, None, 0, 1), 0)
    assert s == value and str(s) == str(value)
    if kind == "float":
        assert math.copysign(1.0, s) == math.copysign(1.0, value)
    assert (s.__file__, s.__source_tag__, s.__source_target__) == (None, None, None)


def test_nan_survives_the_direct_build(probe):
    assert math.isnan(probe.new_scalar("float", math.nan, STATE, 0))


class CountingStr(STR):
    """A subclass with its own constructor: it lacks a layout of its own."""

    calls = 0

    def __new__(cls, *args):
        cls.calls += 1
        return super().__new__(cls, *args)


class LayoutWithProperty(str):
    _quarvel_layout = ("_positions", "__file__", "style", "__source_tag__", "__source_target__")
    __slots__ = ("_positions", "__file__", "__source_tag__", "__source_target__")

    @property
    def style(self):
        return "fixed"

    def __new__(cls, value, *record):
        return str.__new__(cls, value)


class Foreign:
    """Not a str at all: called with the eleven arguments, result used as is."""

    def __init__(self, *args):
        self.args = args


class Raising(str):
    def __new__(cls, *args):
        raise ValueError("refused")


@pytest.mark.parametrize("cls, kind", [(CountingStr, "str"), (LayoutWithProperty, "str"),
                                       (Foreign, "str"), (Raising, "str"), (STR, "int"),
                                       (INT, "float")])
def test_classes_without_a_usable_layout_are_called(probe, cls, kind):
    direct, native, _ = probe.describe(cls, kind)
    assert not direct and not native


def test_called_classes_get_the_eleven_arguments(probe):
    before = CountingStr.calls
    s = probe.build(CountingStr, "str", "v", STATE, STYLE_INDEX, True)
    assert CountingStr.calls == before + 1 and arguments(s) == RECORD
    foreign = probe.build(Foreign, "str", "v", STATE, STYLE_INDEX, True)
    assert foreign.args == ("v",) + RECORD
    with pytest.raises(ValueError, match="refused"):
        probe.build(Raising, "str", "v", STATE, STYLE_INDEX, True)


def test_containers_through_the_cpp_api(probe):
    d = probe.new_dict(STATE)
    assert d == {} and isinstance(d, dict) and d.__reduce__()[2] == STATE and d.is_secret
    d.update(a=1)
    assert d == {"a": 1}
    for reserve in (0, 1, 5, 1000):
        lst = probe.new_list(STATE, reserve)
        assert lst == [] and isinstance(lst, list) and lst.__reduce__()[2] == STATE
        lst.extend(range(reserve + 3))
        lst.append("end")
        assert lst == [*range(reserve + 3), "end"]
        del lst[:2]
        assert len(lst) == reserve + 2


# Loaded strings of every storage width, and empty ones: the extension builds
# ASCII values straight from the text, others from a str it made.
LOADED_TEXTS = ["plain", "", "x" * 300, "grüße", "東京", "emoji 😀", "tab\there"]


@pytest.mark.parametrize("text", LOADED_TEXTS)
def test_a_loaded_str_behaves_as_the_plain_str(text):
    doc = quarvel.dumps({"k": text, text: [text]})
    loaded = quarvel.loads(doc, option=quarvel.OPT_ANNOTATED)
    plain = quarvel.loads(doc)
    assert loaded == plain
    values = [loaded["k"], loaded[text][0], next(k for k in loaded if k != "k" or text == "k")]
    for s in values:
        assert type(s) is STR and str(s) == text and len(s) == len(text)
        assert hash(s) == hash(text) and {text: 1}[s] == 1
        assert s.encode() == text.encode() and s[1:] == text[1:] and s + "!" == text + "!"
        assert pickle.loads(pickle.dumps(s)) == text
