"""Scalar resolution under YAML 1.2 core, YAML 1.1 and the PyYAML-compatible mode."""

import math

import pytest

import _quarvel
from quarvel.exceptions import QuarvelParseError
from _quarvel import (
    OPT_ANNOTATED,
    OPT_PYYAML_COMPAT,
    OPT_ROUND_TRIP,
    OPT_UPGRADE_1_1,
    OPT_YAML_1_1,
    OPT_YAML_1_1_WARN,
    loads,
    loads_all,
)

BIG = 2**63
NAN = object()  # marker: the value must be a float NaN


def value_of(text, option=0):
    return loads("v: " + text + "\n", option=option)["v"]


def assert_reads(text, expected, option=0):
    got = value_of(text, option)
    if expected is NAN:
        assert isinstance(got, float) and math.isnan(got)
        return
    assert got == expected
    # 1 == 1.0 == True in Python: the type must match as well.
    assert type(got) is type(expected), f"{text!r} read as {got!r}"
    if isinstance(expected, float) and expected == 0.0:
        assert math.copysign(1, got) == math.copysign(1, expected)


CORE_CASES = [
    ("~", None),
    ("null", None),
    ("NULL", None),
    ("nULL", "nULL"),
    ("true", True),
    ("True", True),
    ("FALSE", False),
    ("tRUE", "tRUE"),
    ("yes", "yes"),
    ("Yes", "Yes"),
    ("on", "on"),
    ("y", "y"),
    ("NO", "NO"),
    ("0", 0),
    ("-0", 0),
    ("+12", 12),
    ("0o17", 15),
    ("0x1F", 31),
    ("0X1f", 31),
    ("-0x10", -16),
    ("017", "017"),
    ("00", "00"),
    ("0x", "0x"),
    ("0o", "0o"),
    ("0x+1", "0x+1"),
    ("0b101", "0b101"),
    ("+-5", "+-5"),
    ("--5", "--5"),
    ("9223372036854775807", BIG - 1),
    ("-9223372036854775807", -(BIG - 1)),
    ("9223372036854775808", BIG),
    ("-9223372036854775808", -BIG),
    ("123456789012345678901234567890", 123456789012345678901234567890),
    ("0x8000000000000000", "0x8000000000000000"),
    ("1_000", "1_000"),
    ("1:30", "1:30"),
    ("1e5", 100000.0),
    ("1E-2", 0.01),
    (".5", 0.5),
    ("5.", 5.0),
    ("-0.0", -0.0),
    ("+1.5", 1.5),
    ("0.1", 0.1),
    ("1.5e", "1.5e"),
    ("1.5e+", "1.5e+"),
    (".", "."),
    ("1.2.3", "1.2.3"),
    ("1_000.5", "1_000.5"),
    ("0x1p3", "0x1p3"),
    ("1e400", math.inf),
    ("-1e400", -math.inf),
    ("1e-400", 0.0),
    ("2.2250738585072011e-308", 2.2250738585072011e-308),
    (".inf", math.inf),
    ("+.Inf", math.inf),
    ("-.INF", -math.inf),
    (".NaN", NAN),
    ("-.nan", "-.nan"),
    ("inf", "inf"),
    ("nan", "nan"),
    ("2001-12-14", "2001-12-14"),
]


@pytest.mark.parametrize("text, expected", CORE_CASES)
def test_core_plain(text, expected):
    assert_reads(text, expected)


YAML11_CASES = [
    ("y", True),
    ("Y", True),
    ("n", False),
    ("N", False),
    ("Yes", True),
    ("YES", True),
    ("on", True),
    ("OFF", False),
    ("No", False),
    ("yES", "yES"),
    ("True", True),
    ("~", None),
    ("010", 8),
    ("-010", -8),
    ("09", "09"),
    ("0b101", 5),
    ("0x_1F", 31),
    ("1_000", 1000),
    ("1:30", 90),
    ("-1:30", -90),
    ("190:20:30", 685230),
    ("1:60", "1:60"),
    ("0o17", "0o17"),
    ("1_000.5", 1000.5),
    ("1:30.5", 90.5),
    ("-1:30.5", -90.5),
    ("1:30e0", "1:30e0"),
    ("-.inf", -math.inf),
    ("9223372036854775808", BIG),
    ("123_456_789_012_345_678_901", 123456789012345678901),
    ("2001-12-14", "2001-12-14"),
    # Where the two 1.1 modes part: a sign or an underscore at a leading dot.
    ("-.5", -0.5),
    ("+.5e+1", 5.0),
    ("._5", 0.5),
]


@pytest.mark.parametrize("text, expected", YAML11_CASES)
def test_yaml11_plain(text, expected):
    assert_reads(text, expected, OPT_YAML_1_1)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("y", "y"),
        ("n", "n"),
        ("Y", "Y"),
        ("yes", True),
        ("off", False),
        ("On", True),
        ("010", 8),
        ("1:30", 90),
        # PyYAML takes no sign before a leading dot and wants a digit after it.
        ("-.5", "-.5"),
        ("+.5", "+.5"),
        ("._5", "._5"),
        (".5_", 0.5),
    ],
)
def test_pyyaml_compat_plain(text, expected):
    assert_reads(text, expected, OPT_PYYAML_COMPAT)


# The number forms of the YAML 1.1 type definitions, read alike in both 1.1 modes.
NUMBERS_11 = [
    # Base 60: the first part of an integer starts with 1-9, later parts are
    # one or two digits up to 59; times of day with a leading zero stay text.
    ("00:00:00", "00:00:00"),
    ("01:30", "01:30"),
    ("00:05", "00:05"),
    ("0:30", "0:30"),
    ("1:30", 90),
    ("1:05", 65),
    ("1:5", 65),
    ("190:20:30", 685230),
    ("-1:30", -90),
    ("1_0:30", 630),
    ("1:3_0", "1:3_0"),
    ("1:030", "1:030"),
    ("1:60", "1:60"),
    ("1::30", "1::30"),
    # An underscore may follow the first digit but never lead.
    ("_1", "_1"),
    ("-_1", "-_1"),
    ("_0x1F", "_0x1F"),
    ("1_", 1),
    ("1__000", 1000),
    ("0_", 0),
    ("0_7", 7),
    ("0_8", "0_8"),
    ("0x_1F", 31),
    ("0b_1_0", 2),
    ("0x_", "0x_"),
    ("0b", "0b"),
    # Prefixes are lower case.
    ("0X1F", "0X1F"),
    ("0B101", "0B101"),
    ("0o17", "0o17"),
    # A float needs a dot, and its exponent a sign.
    ("1e5", "1e5"),
    ("1E+5", "1E+5"),
    ("1.5e+3", 1500.0),
    ("1.5E-3", 0.0015),
    ("1.5e3", "1.5e3"),
    ("1.e+2", 100.0),
    ("1.", 1.0),
    ("1_000.5", 1000.5),
    ("1.5_", 1.5),
    ("_1.5", "_1.5"),
    ("1.5e+1_0", "1.5e+1_0"),
    ("1.2.3", "1.2.3"),
    ("-0.0", -0.0),
    # Base 60 floats: the fraction belongs to the last part; the first part may be 0.
    ("1:30.5", 90.5),
    ("-1:30.5", -90.5),
    ("0:30.5", 30.5),
    ("00:00:01.5", 1.5),
    ("1:5.5", 65.5),
    ("1:30.", 90.0),
    ("1:60.5", "1:60.5"),
    ("1.5:30", "1.5:30"),
    ("1:30.5e+1", "1:30.5e+1"),
    ("-0:0.0", -0.0),
    # Whatever form a number is written in, it keeps its value past 64 bits.
    ("0xFFFFFFFFFFFFFFFFFF", 2**72 - 1),
    ("-0x8000000000000000", -(2**63)),
    ("0b" + "1" * 70, 2**70 - 1),
    ("-0777777777777777777777777", -(8**24 - 1)),
    ("99999999999999:00:00:00", 99999999999999 * 60**3),
    ("1:00:00:00:00:00:00:00:00:00:00:00", 60**11),
    ("-9223372036854775808", -BIG),
]


@pytest.mark.parametrize("option", [OPT_YAML_1_1, OPT_PYYAML_COMPAT])
@pytest.mark.parametrize("text, expected", NUMBERS_11)
def test_yaml11_number_forms(text, expected, option):
    assert_reads(text, expected, option)


def test_pyyaml_compat_keeps_times_of_day():
    doc = "trigger:\n  platform: time\n  at: 00:00:00\nevery: 01:30\nlegacy: 1:30\n"
    assert loads(doc, option=OPT_PYYAML_COMPAT) == {
        "trigger": {"platform": "time", "at": "00:00:00"},
        "every": "01:30",
        "legacy": 90,
    }


TAGGED_CASES = [
    (0, "!!int 0x10", 16),
    (0, "!!int '42'", 42),
    (0, "!!float .inf", math.inf),
    (0, "!!float 1e3", 1000.0),
    (0, "!!bool TRUE", True),
    (0, "!!bool false", False),
    (0, "!!null something", None),
    (0, "!!str 123", "123"),
    (0, "!!str true", "true"),
    (0, "!<tag:yaml.org,2002:int> 7", 7),
    (0, "!!binary AAAA", "AAAA"),
    (0, "!!timestamp 2001-12-14", "2001-12-14"),
    (OPT_YAML_1_1, "!!int 1_0", 10),
    (OPT_YAML_1_1, "!!bool on", True),
    (OPT_YAML_1_1, "!!float 1:30.5", 90.5),
    (OPT_YAML_1_1, "!!int 0xFFFFFFFFFFFFFFFFFF", 2**72 - 1),
    (OPT_YAML_1_1, "!!float 1e5", 100000.0),
    (OPT_PYYAML_COMPAT, "!!float -.5", -0.5),
]


@pytest.mark.parametrize("option, text, expected", TAGGED_CASES)
def test_tagged(option, text, expected):
    assert_reads(text, expected, option)


# A scalar explicitly tagged as a number keeps its value where the untagged
# gate would not apply: "!!float 5" is 5.0, and an out-of-range "!!int" keeps
# its digits instead of collapsing to 0.
@pytest.mark.parametrize(
    "option, text, expected",
    [
        (0, "!!float 5", 5.0),
        (OPT_YAML_1_1, "!!float 1_000", 1000.0),
        (0, "!!int 99999999999999999999", 99999999999999999999),
        (0, "!!int -0x10000000000000000", -(2**64)),
        (OPT_YAML_1_1, "!!int 99_999_999_999_999_999_999", 99999999999999999999),
    ],
)
def test_tagged_numbers_keep_their_value(option, text, expected):
    assert_reads(text, expected, option)


@pytest.mark.parametrize("option", [0, OPT_YAML_1_1, OPT_PYYAML_COMPAT])
@pytest.mark.parametrize("text", ["'true'", '"123"', "'~'", '"yes"', "|\n  42\n"])
def test_quoted_and_block_scalars_are_strings(option, text):
    got = value_of(text, option)
    assert isinstance(got, str)


def test_quoted_merge_key_is_a_plain_string():
    assert loads("base: &b {x: 1}\nm:\n  '<<': *b\n") == {"base": {"x": 1}, "m": {"<<": {"x": 1}}}


class TestModeChoice:
    @pytest.mark.parametrize(
        "prefix, option, expected",
        [
            ("", 0, "yes"),
            ("", OPT_YAML_1_1, True),
            ("", OPT_UPGRADE_1_1, True),
            ("%YAML 1.1\n---\n", 0, True),
            ("%YAML 1.2\n---\n", OPT_YAML_1_1, "yes"),
            ("%YAML 1.2\n---\n", OPT_UPGRADE_1_1, "yes"),
            ("%YAML 1.2\n---\n", OPT_PYYAML_COMPAT, True),
        ],
    )
    def test_directive_and_options(self, prefix, option, expected):
        assert loads(prefix + "v: yes\n", option=option) == {"v": expected}

    def test_pyyaml_compat_ignores_a_1_2_directive(self):
        assert loads("%YAML 1.2\n---\nv: y\nw: 010\n", option=OPT_PYYAML_COMPAT) == {"v": "y", "w": 8}

    def test_directive_after_first_document_does_not_change_mode(self):
        docs = loads_all("a: yes\n...\n%YAML 1.1\n---\nb: yes\n")
        assert docs == [{"a": "yes"}, {"b": "yes"}]


def warning_for(text, old, new, line, column):
    return f"YAML 1.1 syntax '{text}' resolves as {old} in 1.1 but {new} in 1.2 at line {line}, column {column}"


class TestDifferenceWarnings:
    WARN = OPT_YAML_1_1 | OPT_YAML_1_1_WARN

    def test_each_differing_scalar_is_reported_in_order(self, quarvel_warnings):
        loads("a: yes\nb: 010\nc: 0o17\nd: 0x10\ne: 'on'\nf: 1_000\n", option=self.WARN)
        assert quarvel_warnings() == [
            warning_for("yes", "bool", "str", 1, 4),
            warning_for("010", "int", "str", 2, 4),
            warning_for("1_000", "int", "str", 6, 4),
        ]

    def test_texts_that_1_1_reads_as_strings_raise_none(self, quarvel_warnings):
        loads("a: 00:00:00\nb: 1e5\nc: 0X1F\nd: 1:30\n", option=self.WARN)
        assert quarvel_warnings() == [warning_for("1:30", "int", "str", 4, 4)]

    def test_keys_are_checked_too(self, quarvel_warnings):
        loads("off: 1\n", option=self.WARN)
        assert quarvel_warnings() == [warning_for("off", "bool", "str", 1, 1)]

    @pytest.mark.parametrize(
        "text, option",
        [
            ("v: yes\n", OPT_YAML_1_1),  # warnings not asked for
            ("v: yes\n", OPT_YAML_1_1_WARN),  # 1.2 mode: nothing to compare
            ("%YAML 1.2\n---\nv: yes\n", OPT_YAML_1_1 | OPT_YAML_1_1_WARN),
        ],
    )
    def test_no_warning(self, quarvel_warnings, text, option):
        loads(text, option=option)
        assert quarvel_warnings() == []

    def test_directive_1_1_with_warn_option(self, quarvel_warnings):
        loads("%YAML 1.1\n---\nv: on\n", option=OPT_YAML_1_1_WARN)
        assert quarvel_warnings() == [warning_for("on", "bool", "str", 3, 4)]

    def test_pyyaml_compat_follows_the_warn_option(self, quarvel_warnings):
        loads("v: y\nw: yes\n", option=OPT_PYYAML_COMPAT | OPT_YAML_1_1_WARN)
        assert quarvel_warnings() == [warning_for("yes", "bool", "str", 2, 4)]


def test_options_are_module_constants():
    assert _quarvel.OPT_YAML_1_1 == 0x1 and _quarvel.OPT_PYYAML_COMPAT == 0x2


# A core tag on text that is no such value is refused where it stands, on
# every path, rather than read as 0, 0.0 or False.
INVALID_TAGGED = [
    (0, "!!int abc", "cannot read 'abc' as !!int at line 1, column 7"),
    (0, "a: !!int 1.5", "cannot read '1.5' as !!int at line 1, column 10"),
    (0, "a: !!int\nb: 1", "cannot read '' as !!int at line 2, column 1"),
    (0, "!!float abc", "cannot read 'abc' as !!float at line 1, column 9"),
    (0, "- !!bool yes", "cannot read 'yes' as !!bool at line 1, column 10"),
    (0, "!<tag:yaml.org,2002:bool> null", "cannot read 'null' as !!bool at line 1, column 27"),
    (OPT_YAML_1_1, "!!int abc", "cannot read 'abc' as !!int at line 1, column 7"),
    (OPT_YAML_1_1, "k: !!bool maybe", "cannot read 'maybe' as !!bool at line 1, column 11"),
    (OPT_YAML_1_1, "!!float x", "cannot read 'x' as !!float at line 1, column 9"),
    (OPT_PYYAML_COMPAT, "!!bool y", "cannot read 'y' as !!bool at line 1, column 8"),
]


@pytest.mark.parametrize("path", [0, OPT_ANNOTATED, OPT_ROUND_TRIP], ids=["plain", "annotated", "round-trip"])
@pytest.mark.parametrize("option, text, message", INVALID_TAGGED)
def test_core_tag_on_text_that_does_not_fit_is_refused(path, option, text, message):
    with pytest.raises(QuarvelParseError) as info:
        loaded = loads(text, option=option | path)
        if path == OPT_ROUND_TRIP:
            loaded.to_dict()
    assert str(info.value) == message
