"""Python objects as dumps / to_json see them: the encoding rules and the two frames."""

import dataclasses
import datetime as dt
import decimal
import enum
import json
import pathlib
import uuid

import pytest

import _quarvel as q
from quarvel.exceptions import QuarvelEncodeError, QuarvelUnserializableError

TOO_DEEP = "object is too deeply nested to serialize (possible self-reference)"
BAD_TAGS = "a tags callback must return a QuarvelTag or a (tag, value) tuple"


def js(obj, **kw):
    return json.loads(q.to_json(obj, **kw))


def roundtrip(obj, **kw):
    return q.loads(q.dumps(obj, **kw))


# --- built-ins and their subclasses ---------------------------------------


class MyInt(int):
    pass


class MyFloat(float):
    pass


class MyStr(str):
    def __str__(self):
        return "shown"


class MyBytes(bytes):
    pass


class MyList(list):
    def __iter__(self):
        return iter(["from-iter"])


class MyTuple(tuple):
    pass


class MyDict(dict):
    def items(self):
        raise AssertionError("items() must not be used")

    def __iter__(self):
        raise AssertionError("__iter__ must not be used")


class MySet(set):
    pass


@pytest.mark.parametrize(
    "obj, expected",
    [
        (None, None),
        (True, True),
        (False, False),
        (0, 0),
        (-(2**63), -(2**63)),
        (2**63 - 1, 2**63 - 1),
        (2**64, 2**64),
        (-(2**70), -(2**70)),
        (1.5, 1.5),
        ("text", "text"),
        ("é ✓ 𝄞", "é ✓ 𝄞"),
        ([1, "a", None], [1, "a", None]),
        ((1, 2), [1, 2]),
        ({"a": {"b": [1]}}, {"a": {"b": [1]}}),
        (b"abc", "abc"),
        (bytes("é", "utf-8"), "é"),
        (frozenset([3]), [3]),
        (MyInt(7), 7),
        (MyInt(2**65), 2**65),
        (MyFloat(2.5), 2.5),
        (MyStr("hidden"), "shown"),
        (MyBytes(b"xy"), "xy"),
        (MyList([1, 2]), ["from-iter"]),
        (MyTuple((1, 2)), [1, 2]),
        (MyDict(a=1), {"a": 1}),
        (MySet([4]), [4]),
    ],
)
def test_builtins_and_subclasses(obj, expected):
    assert js(obj) == expected
    assert roundtrip(obj) == expected


def test_big_int_digits_are_exact():
    assert q.to_json(2**64) == b"18446744073709551616"
    assert q.to_json(-(2**63)) == b"-9223372036854775808"


def test_ints_around_the_storage_boundaries_read_back():
    # Small ints are read without a call; the others the general way.
    values = [s * (2**k + d) for k in (15, 30, 31, 60, 62, 63, 64) for d in (-1, 0, 1) for s in (1, -1)]
    values += [0, 1, -1, MyInt(2**30), MyInt(-(2**30) + 1)]
    assert json.loads(q.to_json(values)) == values
    assert q.loads(q.dumps(values)) == values


class PlainList(list):
    """A list subclass without overrides: to_json takes the general way."""


# Integers are written eight digits at a time: each count of digits, and the
# numbers on either side of each power of ten, in both signs, by the direct
# JSON writer, the general one (a list subclass) and the YAML emitter.
@pytest.mark.parametrize("sign", [1, -1])
def test_int_digits_at_each_power_of_ten(sign):
    values = [sign * (10**k + d) for k in range(19) for d in (-1, 0, 1)]
    values += [sign * (2**63 - 1), -(2**63), 1234567890123456789 * sign]
    expected = ("[" + ",".join(map(str, values)) + "]").encode()
    assert q.to_json(values) == expected
    assert q.to_json(PlainList(values)) == expected
    assert [q.dumps(v) for v in values] == [f"{v}\n".encode() for v in values]


def test_bool_is_not_an_int():
    assert q.to_json([True, 1]) == b"[true,1]"


# A lone surrogate has an invalid 3-byte UTF-8 form; each byte becomes one
# U+FFFD, as a replacing UTF-8 decoder reads it.
REPLACED = "\ufffd" * 3


@pytest.mark.parametrize(
    "text, expected",
    [
        ("a\udc80b", "a" + REPLACED + "b"),
        ("\ud800", REPLACED),
        ("\udfff\udfff", REPLACED * 2),
        ("\ud83d\ude00", REPLACED * 2),  # a pair as two code points is two lone surrogates
        ("\u00e9\ud800\U0001f600", "\u00e9" + REPLACED + "\U0001f600"),
    ],
)
def test_lone_surrogate_becomes_three_replacement_characters(text, expected):
    assert text.encode("utf-8", "surrogatepass").decode("utf-8", "replace") == expected
    assert js({text: text}) == {expected: expected}
    assert roundtrip({text: [text]}) == {expected: [expected]}


def test_str_subclass_with_failing_str_is_unprintable(monkeypatch):
    class Bad(str):
        def __str__(self):
            raise RuntimeError("boom")

    seen = []
    monkeypatch.setattr("sys.unraisablehook", seen.append)
    assert js(Bad("x")) == "<unprintable Bad object>"
    assert len(seen) == 1


@pytest.mark.parametrize("data", [b"\xff", b"a\xc3", bytes([0xED, 0xA0, 0x80])])
def test_bytes_must_be_utf8(data):
    with pytest.raises(QuarvelEncodeError) as e:
        q.dumps(data)
    assert str(e.value).startswith("cannot serialize bytes that are not valid UTF-8")


@pytest.mark.parametrize(
    "obj, name", [(bytearray(b"x"), "bytearray"), (object(), "object"), (1j, "complex"), (int, "type")]
)
@pytest.mark.parametrize("fn", [q.dumps, q.to_json])
def test_unsupported_type(fn, obj, name):
    with pytest.raises(QuarvelUnserializableError, match=f"^type {name} is not YAML serializable$"):
        fn(obj)


def test_dict_keys_of_any_type_keep_order():
    tree = {3: "int", None: "none", (1, 2): "tuple", "s": 1}
    with pytest.raises(QuarvelEncodeError):  # a collection key has no JSON text
        q.to_json(tree)
    del tree[(1, 2)]
    assert q.to_json(tree) == b'{"3":"int","null":"none","s":1}'


# --- depth and snapshots ---------------------------------------------------


def nested(levels):
    x = []
    for _ in range(levels - 1):
        x = [x]
    return x


def test_depth_limit():
    assert q.to_json(nested(1000)).count(b"[") == 1000
    with pytest.raises(QuarvelEncodeError, match=r"^object is too deeply nested"):
        q.to_json(nested(1001))


@pytest.mark.parametrize("fn", [q.dumps, q.to_json])
def test_self_reference(fn):
    a = [1]
    a.append(a)
    d = {}
    d["self"] = d
    for obj in (a, d):
        with pytest.raises(QuarvelEncodeError) as e:
            fn(obj)
        assert str(e.value) == TOO_DEEP


def test_deep_dicts_and_tagged_values():
    d = {}
    for _ in range(999):
        d = {"k": d}
    assert q.to_json(d).count(b"{") == 1000
    t = 1
    for _ in range(999):
        t = q.QuarvelTag("!t", t)
    assert q.to_json(t) == b"1"
    with pytest.raises(QuarvelEncodeError, match="too deeply"):
        q.to_json(q.QuarvelTag("!t", t))


class Poison:
    pass


@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda: [Poison(), "x-" + str(1), Poison()], ["replaced", "x-1", "replaced"]),
        (lambda: {"a": Poison(), "b": "x-" + str(1), "c": Poison()}, {"a": "replaced", "b": "x-1", "c": "replaced"}),
    ],
)
def test_snapshot_protects_against_mutation(make, expected):
    container = make()  # holds the only reference to the fresh "x-1"

    def default(obj):
        container.clear()
        return "replaced"

    assert js(container, default=default) == expected
    container = make()
    assert roundtrip(container, default=default) == expected


# --- QuarvelTag and tags callbacks ------------------------------------------


class Point:
    def __init__(self, x, y):
        self.x, self.y = x, y


class SubPoint(Point):
    pass


def test_quarvel_tag_is_written_with_its_tag():
    text = q.dumps({"p": q.QuarvelTag("!pt", [1, 2])})
    assert b"!pt" in text
    back = q.loads(text, option=q.OPT_PASSTHROUGH_TAG)
    assert back["p"].tag == "!pt" and back["p"].value == [1, 2]
    assert js(q.QuarvelTag("!x", {"a": 1})) == {"a": 1}


@pytest.mark.parametrize(
    "result, tag",
    [
        (lambda p: ("!p", [p.x, p.y]), "!p"),
        (lambda p: ("p", [p.x, p.y]), "!<p>"),  # a tag without "!" is written verbatim
        (lambda p: q.QuarvelTag("!q", [p.x, p.y]), "!q"),
    ],
)
def test_tags_callback_results(result, tag):
    out = q.dumps(Point(1, 2), tags={Point: result})
    assert out.startswith(tag.encode() + b"\n")
    assert q.loads(out, tags={tag: lambda v: tuple(v)}) == (1, 2)


@pytest.mark.parametrize("bad", [[1, 2], ("!a",), ("!a", 1, 2), None, "!a"])
def test_tags_callback_bad_result(bad):
    with pytest.raises(QuarvelEncodeError) as e:
        q.dumps(Point(1, 2), tags={Point: lambda p: bad})
    assert str(e.value) == BAD_TAGS


def test_tags_callback_tag_must_be_str():
    with pytest.raises(TypeError):
        q.dumps(Point(1, 2), tags={Point: lambda p: (1, 2)})


def test_tags_are_looked_up_by_exact_type_only():
    called = []

    def cb(obj):
        called.append(obj)
        return ("!t", 0)

    tags = {t: cb for t in (str, int, float, bool, bytes, list, tuple, dict, set, frozenset, Point)}
    tags[q.QuarvelTag] = cb
    obj = ["s", 1, 1.0, True, b"b", [], (), {}, set(), frozenset(), q.QuarvelTag("!x", 1)]
    assert roundtrip(obj, tags=tags) is not None
    assert called == []
    with pytest.raises(QuarvelUnserializableError, match="type SubPoint"):
        q.dumps(SubPoint(1, 2), tags={Point: cb})


# --- date and time ------------------------------------------------------------

NAIVE = dt.datetime(2024, 1, 2, 3, 4, 5, 678)
AWARE = dt.datetime(2024, 1, 2, 3, 4, 5, 678, tzinfo=dt.timezone.utc)
EAST = dt.datetime(2024, 1, 2, 3, 4, 5, tzinfo=dt.timezone(dt.timedelta(hours=5, minutes=30)))
MINUS_ZERO = type("Iso", (), {"isoformat": lambda self: "2024-01-02T03:04:05-00:00"})()
SECONDS_OFFSET = dt.datetime(2024, 1, 2, tzinfo=dt.timezone(dt.timedelta(hours=1, seconds=5)))


@pytest.mark.parametrize(
    "obj, option, text",
    [
        (NAIVE, 0, "2024-01-02T03:04:05.000678"),
        (NAIVE, q.OPT_OMIT_MICROSECONDS, "2024-01-02T03:04:05"),
        (NAIVE, q.OPT_NAIVE_UTC, "2024-01-02T03:04:05.000678+00:00"),
        (NAIVE, q.OPT_NAIVE_UTC | q.OPT_UTC_Z, "2024-01-02T03:04:05.000678Z"),
        (AWARE, 0, "2024-01-02T03:04:05.000678+00:00"),
        (AWARE, q.OPT_UTC_Z | q.OPT_OMIT_MICROSECONDS, "2024-01-02T03:04:05Z"),
        (EAST, q.OPT_UTC_Z | q.OPT_NAIVE_UTC, "2024-01-02T03:04:05+05:30"),
        (MINUS_ZERO, q.OPT_UTC_Z, "2024-01-02T03:04:05-00:00"),
        # offsets with seconds are kept whole, never doubled nor cut
        (SECONDS_OFFSET, q.OPT_UTC_Z | q.OPT_NAIVE_UTC, "2024-01-02T00:00:00+01:00:05"),
        (SECONDS_OFFSET.replace(microsecond=5), q.OPT_OMIT_MICROSECONDS, "2024-01-02T00:00:00+01:00:05"),
        (dt.date(2024, 1, 2), q.OPT_NAIVE_UTC | q.OPT_UTC_Z | q.OPT_OMIT_MICROSECONDS, "2024-01-02"),
        (dt.time(3, 4, 5, 6), q.OPT_NAIVE_UTC, "03:04:05.000006"),
        (dt.time(3, 4, 5, 6), q.OPT_OMIT_MICROSECONDS, "03:04:05"),
        (dt.time(3, 4, tzinfo=dt.timezone.utc), q.OPT_UTC_Z, "03:04:00Z"),
    ],
)
def test_isoformat_normalisation(obj, option, text):
    assert js(obj, option=option) == text
    assert roundtrip(obj, option=option) == text


def test_passthrough_datetime():
    with pytest.raises(QuarvelUnserializableError, match="^type datetime is not"):
        q.dumps(NAIVE, option=q.OPT_PASSTHROUGH_DATETIME)
    assert js(NAIVE, option=q.OPT_PASSTHROUGH_DATETIME, default=lambda o: "d") == "d"


def test_isoformat_returning_non_str_falls_through():
    class Odd:
        def isoformat(self):
            return 5

        def __fspath__(self):
            return "/odd"

    assert js(Odd()) == "/odd"


def test_failing_isoformat_lookup_counts_as_missing():
    class NoLookup:
        def __getattr__(self, name):
            raise RuntimeError(name)

    with pytest.raises(RuntimeError, match="__dataclass_fields__"):
        q.dumps(NoLookup())


# --- enums and dataclasses ------------------------------------------------------


class Color(enum.Enum):
    RED = 1
    BLUE = (2, "b")


class Level(enum.IntEnum):
    HIGH = 3


class Mode(str, enum.Enum):
    FAST = "fast"

    def __str__(self):
        return "str-of-mode"


@dataclasses.dataclass
class Inner:
    z: object = None


@dataclasses.dataclass
class Outer:
    b: int
    a: Inner
    hidden: int = dataclasses.field(default=9, repr=False)


@pytest.mark.parametrize(
    "obj, expected",
    [
        (Color.RED, 1),
        (Color.BLUE, [2, "b"]),
        (Level.HIGH, 3),
        (Mode.FAST, "str-of-mode"),
        (Outer(1, Inner(Color.RED)), {"b": 1, "a": {"z": 1}, "hidden": 9}),
    ],
)
def test_enums_and_dataclasses(obj, expected):
    assert js(obj) == expected
    assert roundtrip(obj) == expected
    assert list(js(Outer(1, Inner()))) == ["b", "a", "hidden"]


def test_dataclass_class_and_passthrough():
    with pytest.raises(QuarvelUnserializableError, match="^type type is not"):
        q.dumps(Outer)
    with pytest.raises(QuarvelUnserializableError, match="^type Outer is not"):
        q.dumps(Outer(1, Inner()), option=q.OPT_PASSTHROUGH_DATACLASS)

    @dataclasses.dataclass
    class Stamp:
        v: int = 0

        def isoformat(self):
            return "2020-01-01"

    assert js(Stamp(), option=q.OPT_PASSTHROUGH_DATACLASS) == "2020-01-01"


# --- numpy ---------------------------------------------------------------------


def test_numpy():
    np = pytest.importorskip("numpy")
    opt = q.OPT_SERIALIZE_NUMPY
    assert js(np.arange(6).reshape(2, 3), option=opt) == [[0, 1, 2], [3, 4, 5]]
    assert js({"f": np.float32(0.5), "i": np.int64(-3), "b": np.bool_(True)}, option=opt) == {
        "f": 0.5,
        "i": -3,
        "b": True,
    }
    assert roundtrip(np.array([1.5, 2.0]), option=opt) == [1.5, 2.0]
    with pytest.raises(QuarvelUnserializableError, match="^type ndarray is not"):
        q.dumps(np.zeros(2))


# --- UUID, Decimal, paths, default ------------------------------------------------


class FakePath:
    def __init__(self, result):
        self.result = result

    def __fspath__(self):
        if isinstance(self.result, Exception):
            raise self.result
        return self.result


@pytest.mark.parametrize(
    "obj, expected",
    [
        (uuid.UUID(int=1), "00000000-0000-0000-0000-000000000001"),
        (decimal.Decimal("1.1"), 1.1),
        (decimal.Decimal("sNaN"), "sNaN"),
        (pathlib.PurePosixPath("/a/b"), "/a/b"),
        (FakePath("rel/x"), "rel/x"),
    ],
)
def test_uuid_decimal_path(obj, expected):
    assert js(obj) == expected
    assert roundtrip(obj) == expected


def test_fspath_returning_bytes_falls_through():
    with pytest.raises(QuarvelUnserializableError, match="^type FakePath is not"):
        q.dumps(FakePath(b"/x"))


def test_default_applies_once():
    seen = []

    def default(obj):
        seen.append(obj)
        return {"wrapped": [obj]} if isinstance(obj, Point) else str(obj)

    with pytest.raises(QuarvelUnserializableError, match="^type Point is not"):
        q.dumps(Point(1, 2), default=default)
    assert len(seen) == 1
    assert js([1j, 2j], default=default) == ["1j", "2j"]
    with pytest.raises(QuarvelUnserializableError, match="^type bytearray is not"):
        q.to_json(object(), default=lambda o: bytearray())


class Boom(Exception):
    pass


def raise_boom(*args):
    raise Boom()


class RaisingEnumValue(enum.Enum):
    A = 1

    @property
    def value(self):
        raise Boom()


@pytest.mark.parametrize(
    "obj, kw",
    [
        (object(), {"default": raise_boom}),
        (type("T", (), {"isoformat": raise_boom})(), {}),
        (FakePath(Boom()), {}),
        (Point(1, 2), {"tags": {Point: raise_boom}}),
        (type("DC", (), {"__dataclass_fields__": property(raise_boom)})(), {}),
        (type("DC", (), {"__dataclass_fields__": {"gone": None}})(), {"expect": AttributeError}),
        (type("DC", (), {"__dataclass_fields__": {1: None}})(), {"expect": TypeError}),
        (type("P", (), {"__fspath__": property(raise_boom)})(), {}),
        (RaisingEnumValue.A, {}),
        (type("I", (int,), {"__int__": raise_boom})(2**70), {}),
    ],
)
@pytest.mark.parametrize("fn", [q.dumps, q.to_json])
def test_callback_errors_propagate(fn, obj, kw):
    kw = dict(kw)
    expect = kw.pop("expect", Boom)
    if fn is q.to_json and "tags" in kw:
        pytest.skip("to_json has no tags")
    with pytest.raises(expect):
        fn(obj, **kw)


# --- the frames -----------------------------------------------------------------


@pytest.mark.parametrize(
    "kw, option, text",
    [
        ({}, 0, b"a:\n"),
        ({"null_style": "null"}, 0, b"a: null\n"),
        ({"null_style": "empty"}, q.OPT_NULL_AS_KEYWORD, b"a:\n"),
        ({"null_style": "~"}, 0, b"a: ~\n"),
        ({"null_style": "tilde"}, q.OPT_NULL_AS_KEYWORD | q.OPT_NULL_AS_TILDE, b"a: ~\n"),
        ({}, q.OPT_NULL_AS_KEYWORD, b"a: null\n"),
        ({}, q.OPT_NULL_AS_TILDE, b"a: ~\n"),
    ],
)
def test_null_style(kw, option, text):
    assert q.dumps({"a": None}, option=option, **kw) == text


@pytest.mark.parametrize(
    "value, shown", [("Null", '"Null"'), ("nil", '"nil"'), ('a"b\\c\n', '"a\\"b\\\\c\\n"'), ("", '""')]
)
def test_null_style_bad_text(value, shown):
    with pytest.raises(ValueError) as e:
        q.dumps(None, null_style=value)
    assert str(e.value) == "null_style must be 'null', 'empty', or '~', not " + shown


def test_null_flags_conflict():
    with pytest.raises(ValueError, match="^OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive$"):
        q.dumps(None, option=q.OPT_NULL_AS_KEYWORD | q.OPT_NULL_AS_TILDE)


@pytest.mark.parametrize(
    "call, exc, word",
    [
        (lambda: q.dumps(1, option="x"), TypeError, "option"),
        (lambda: q.dumps(1, option=-1), OverflowError, None),
        (lambda: q.dumps(1, width=2**64), OverflowError, None),
        (lambda: q.dumps(1, width=1.5), TypeError, "width"),
        (lambda: q.dumps(1, null_style=1), TypeError, "null_style"),
        (lambda: q.dumps(1, tags=[]), TypeError, "tags"),
        (lambda: q.dumps(), TypeError, "obj"),
        (lambda: q.dumps(1, 2), TypeError, None),
        (lambda: q.dumps(obj=1), TypeError, "obj"),
        (lambda: q.dumps(1, indent=2), TypeError, "indent"),
        (lambda: q.to_json(1, option=1.0), TypeError, "option"),
        (lambda: q.to_json(1, tags={}), TypeError, "tags"),
        (lambda: q.to_json(1, null_style="null"), TypeError, "null_style"),
    ],
)
def test_argument_errors(call, exc, word):
    with pytest.raises(exc) as e:
        call()
    if word:
        assert word in str(e.value)


def test_argument_order_option_before_null_style():
    with pytest.raises(TypeError, match="option"):
        q.dumps(1, option="x", null_style=1, tags=[])
    with pytest.raises(TypeError, match="null_style"):
        q.dumps(1, null_style=1, tags=[])


def test_none_means_absent():
    assert q.dumps(None, default=None, option=None, null_style=None, tags=None, width=None) == b"null\n"
    assert q.to_json(None, default=None, option=None) == b"null"


def test_options_reach_emitter_and_writer():
    assert q.to_json({"b": [1], "a": 2}, option=q.OPT_SORT_KEYS) == b'{"a":2,"b":[1]}'
    assert q.to_json([1], option=q.OPT_INDENT_2) == b"[\n  1\n]"
    assert q.to_json([1], option=q.OPT_INDENT_4) == b"[\n    1\n]"
    assert q.dumps({"a": [1]}, option=q.OPT_FLOW_STYLE) == b"{a: [1]}\n"
    assert q.dumps({"a": {"b": 1}}, option=q.OPT_INDENT_4) == b"a:\n    b: 1\n"
    assert q.dumps("aaaa bbbb cccc dddd eeee", width=20) == b"aaaa bbbb cccc dddd\n  eeee\n"
