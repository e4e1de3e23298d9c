import array

import pytest

from _quarvel import loads, loads_all, schema_ref, yaml_version

WRONG_INPUT = "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)"
READERS = [loads, loads_all, yaml_version, schema_ref]


@pytest.mark.parametrize(
    "data",
    [
        "x: 1",
        b"x: 1",
        bytearray(b"x: 1"),
        memoryview(b"x: 1"),
        memoryview(b"..x: 1")[2:],
        memoryview(b"xx:: 11")[::2],  # non-contiguous: "x: 1"
        array.array("B", b"x: 1"),
        "x: 1".encode("utf-16-le"),
        "x: 1".encode("utf-16-be"),
        "\ufeffx: 1".encode("utf-16-le"),
        "\ufeffx: 1".encode("utf-16-be"),
        "x: 1".encode("utf-32-le"),
        "x: 1".encode("utf-32-be"),
        "\ufeffx: 1".encode("utf-32-le"),
        "\ufeffx: 1".encode("utf-32-be"),
        b"\xef\xbb\xbfx: 1",
    ],
)
def test_every_input_form_reads_the_same(data):
    assert loads(data) == {"x": 1}


def test_utf16_little_endian_detection():
    assert loads(b"\xff\xfea\x00") == "a"
    assert loads(b"a\x00b\x00") == "ab"


def test_utf32_mark_wins_over_utf16_mark():
    assert loads(b"\xff\xfe\x00\x00" + "ab".encode("utf-32-le")) == "ab"


def test_non_ascii_round_trips_through_every_encoding():
    text = "k: é€😀"
    for enc in ["utf-8", "utf-16-le", "utf-16-be", "utf-32-le", "utf-32-be"]:
        assert loads(text.encode(enc)) == {"k": "é€😀"}


@pytest.mark.parametrize(
    "data, message",
    [
        (b"\xfe\xff\x00", "invalid UTF-16: byte count is not a multiple of 2"),
        (b"\xff\xfe\x00\xd8", "invalid UTF-16: unpaired surrogate"),
        (b"\xff\xfe\x00\xdc", "invalid UTF-16: unpaired surrogate"),
        (b"\xff\xfe\x00\xd8a\x00", "invalid UTF-16: unpaired surrogate"),
        (b"\x00\x00\xfe\xff\x00", "invalid UTF-32: byte count is not a multiple of 4"),
        (b"\xff\xfe\x00\x00\x00\xd8\x00\x00", "invalid UTF-32: not a Unicode scalar value"),
        (b"\xff\xfe\x00\x00\x00\x00\x11\x00", "invalid UTF-32: not a Unicode scalar value"),
        (b"ab\xffcd", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 2"),
        (b"ab\xe2\x82", "invalid UTF-8: incomplete utf-8 byte sequence from index 2"),
        (b"ab\xe2\x82x", "invalid UTF-8: invalid utf-8 sequence of 2 bytes from index 2"),
        (b"ab\xed\xa0\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 2"),
        (b"a\xf0\x9f\x98x", "invalid UTF-8: invalid utf-8 sequence of 3 bytes from index 1"),
        (b"ab\xc0\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 2"),
    ],
)
@pytest.mark.parametrize("reader", READERS)
def test_decoding_errors(reader, data, message):
    with pytest.raises(ValueError) as e:
        reader(data)
    assert str(e.value) == message


@pytest.mark.parametrize("data", [42, None, 1.5, ["a"], memoryview(b"ab").cast("b"),
                                  array.array("H", [1, 2]), object()])
@pytest.mark.parametrize("reader", READERS)
def test_unsupported_input_type(reader, data):
    with pytest.raises(TypeError) as e:
        reader(data)
    assert str(e.value) == WRONG_INPUT


def test_lone_surrogate_in_str_raises_unicode_error():
    with pytest.raises(UnicodeEncodeError):
        loads("a: \ud800")


def test_bytearray_is_copied_before_use():
    data = bytearray(b"a: 1")
    assert loads(data) == {"a": 1}
    data[:] = b"zzzz"
    assert loads(data) == "zzzz"


def test_bytearray_changed_by_a_callback_mid_load_does_not_change_the_result():
    # Conversion runs after parsing and reads texts out of the input: for a
    # bytearray those must come from a copy, not the caller's buffer.
    data = bytearray(b"- !t first\n- second text\n- [third, fourth]\n")

    def handler(tag, value):
        data[:] = b"#" * len(data)
        return value

    assert loads(data, tag_handler=handler) == ["first", "second text", ["third", "fourth"]]
    assert loads_all(bytearray(b"a: b\n---\nc\n")) == [{"a": "b"}, "c"]


@pytest.mark.parametrize("data", ["k: v\n" * 3000, ("k%d: \u00e9t\u00e9\n" * 3000) % tuple(range(3000))])
def test_str_and_bytes_inputs_read_alike(data):
    # str input is read in place, bytes in place once checked, bytearray copied.
    expected = loads(bytearray(data.encode()))
    assert loads(data) == expected
    assert loads(data.encode()) == expected


class TestVersionSniffing:
    @pytest.mark.parametrize(
        "text, version",
        [
            ("%YAML 1.1\n---\na: 1", "1.1"),
            ("# c\n\n%YAML 1.2\n", "1.2"),
            ("a: 1\n%YAML 1.1\n", None),
            ("%YAML 01.1\n---\n", "1.1"),
            ("%YAML +1.+2\n---\n", "1.2"),
            ("\ufeff%YAML 1.1\n---\n", "1.1"),
            ("  %YAML 1.1 # c\r\n---\n", "1.1"),
            ("%TAG ! tag:x,2000:\n%YAML 1.1\n---\n", "1.1"),
            ("%YAML 1.1\n%YAML 1.2\n---\n", "1.1"),
            ("%YAML #c\n%YAML 1.2\n---\n", "1.2"),
            ("%YAML 1\n---\n", None),
            ("%YAML 1.x\n---\n", None),
            ("%YAML 4294967296.1\n---\n", None),
            ("%YAML 4294967295.0\n---\n", "4294967295.0"),
            ("---\n%YAML 1.1\n", None),
            ("", None),
            ("%YAMLX 1.1\n%YAML 1.1", "1.1"),
        ],
    )
    def test_yaml_version(self, text, version):
        assert yaml_version(text) == version

    def test_version_of_utf16_input(self):
        assert yaml_version("%YAML 1.1\n".encode("utf-16")) == "1.1"


class TestSchemaRef:
    @pytest.mark.parametrize(
        "text, ref",
        [
            ("# yaml-language-server: $schema=./schema.json\na: 1", "./schema.json"),
            ("\n\n# other\n  #   yaml-language-server:   $schema=  s.json  \r\na: 1", "s.json"),
            ("a: 1\n# yaml-language-server: $schema=./schema.json\n", None),
            ("# yaml-language-server: $schema=\n# yaml-language-server: $schema=b\n", "b"),
            ("# YAML-language-server: $schema=x\n", None),
            ("# yaml-language-server: schema=x\n", None),
            ("", None),
            ("\u3000# yaml-language-server: $schema=x\u3000\n", "x"),
        ],
    )
    def test_reference_search(self, text, ref):
        assert schema_ref(text) == ref
