import threading

import pytest

from _quarvel import OPT_PASSTHROUGH_TAG, QuarvelTag, loads, loads_all
from quarvel.exceptions import QuarvelDecodeError


class TestTypeMapping:
    def test_basic_document(self):
        assert loads("a: 1\nb: [1, 2]") == {"a": 1, "b": [1, 2]}

    @pytest.mark.parametrize("text, value", [
        ("~", None), ("true", True), ("-17", -17), ("1.5", 1.5), ("x", "x"),
        ("9223372036854775807", 2**63 - 1),
        ("9223372036854775808", 2**63),
        ("-9223372036854775809", -(2**63) - 1),
        ("123456789012345678901234567890", 123456789012345678901234567890),
    ])
    def test_scalars(self, text, value):
        result = loads(text)
        assert result == value and type(result) is type(value)

    def test_big_int_with_underscores_in_yaml_1_1(self):
        from _quarvel import OPT_YAML_1_1

        assert loads("123_456_789_012_345_678_901", option=OPT_YAML_1_1) == 123456789012345678901

    @pytest.mark.parametrize(
        "text, value",
        [
            ("0x" + "f" * 4000, 16**4000 - 1),  # more than 4300 decimal digits
            ("0x" + "f" * 100_000, 16**100_000 - 1),  # longer than a change of base allows
        ],
        ids=["4000", "100000"],
    )
    def test_big_int_in_a_power_of_two_base_is_an_int(self, text, value):
        from _quarvel import OPT_YAML_1_1

        assert loads(text, option=OPT_YAML_1_1) == value

    @pytest.mark.parametrize("text", ["1_" + "0" * 5000, "1" + ":00" * 3000])
    def test_too_many_decimal_digits_is_a_parse_error(self, text):
        from _quarvel import OPT_YAML_1_1
        from quarvel.exceptions import QuarvelParseError

        with pytest.raises(QuarvelParseError, match="integer has more than"):
            loads(text, option=OPT_YAML_1_1)

    def test_repeated_key_keeps_first_position_and_last_value(self):
        assert list(loads("a: 1\nb: 2\na: 3").items()) == [("a", 3), ("b", 2)]

    def test_empty_stream_gives_none(self):
        assert loads("") is None
        assert loads("# only a comment\n") is None
        assert loads_all("") == []

    def test_loads_uses_the_first_document_but_checks_all(self):
        assert loads("--- 1\n--- 2\n") == 1
        assert loads_all("--- 1\n--- 2\n") == [1, 2]
        with pytest.raises(Exception):
            loads("--- 1\n--- [\n")


class TestKeys:
    def test_equal_key_strings_are_one_interned_object(self):
        docs = loads("- {k: 1}\n- {k: 2}")
        (k1,), (k2,) = docs[0].keys(), docs[1].keys()
        assert k1 is k2

    def test_non_ascii_keys(self):
        assert loads("é: 1\n😀: 2") == {"é": 1, "😀": 2}

    def test_collection_keys_become_tuples(self):
        assert loads("[1, 2]: x") == {(1, 2): "x"}
        assert loads("{a: 1}: x") == {(("a", 1),): "x"}
        assert loads("? [[1], {b: [2]}]\n: x") == {((1,), (("b", (2,)),)): "x"}

    def test_unhashable_tagged_key(self):
        with pytest.raises(QuarvelDecodeError) as e:
            loads("!k a: 1", tag_handler=lambda tag, value: [value])
        assert str(e.value) == "mapping key is not hashable in Python"

    def test_many_distinct_keys(self):
        n = 100_000
        text = "\n".join(f"key{i}: {i}" for i in range(n))
        result = loads(text)
        assert len(result) == n and result["key99999"] == 99999


class TestTags:
    def test_unknown_tag_is_dropped_and_scalar_stays_text(self):
        assert loads("!mytag 5") == "5"

    def test_passthrough(self):
        t = loads("!mytag 5", option=OPT_PASSTHROUGH_TAG)
        assert isinstance(t, QuarvelTag)
        assert (t.tag, t.value) == ("!mytag", "5")
        assert repr(t) == "QuarvelTag('!mytag', ...)"

    def test_tags_take_precedence_over_handler(self):
        seen = []
        result = loads(
            "a: !env x\nb: !other [1]",
            tags={"!env": lambda v: ("env", v)},
            tag_handler=lambda tag, v: seen.append((tag, v)) or "handled",
        )
        assert result == {"a": ("env", "x"), "b": "handled"}
        assert seen == [("!other", [1])]

    def test_handler_results_are_used_as_they_are(self):
        assert loads("!t {a: 1}", tag_handler=lambda tag, v: None) is None

    def test_callback_exceptions_propagate(self):
        def boom(v):
            raise LookupError("from callback")

        with pytest.raises(LookupError, match="from callback"):
            loads("- !x 1", tags={"!x": boom})

    def test_dict_subclass_tags_use_plain_lookup(self):
        class Tags(dict):
            def __getitem__(self, key):  # never consulted
                raise AssertionError("lookup went through __getitem__")

        assert loads("!x 1", tags=Tags({"!x": int})) == 1

    def test_standard_tags_are_consumed(self):
        assert loads("!!str 123") == "123"
        assert loads("!!int '7'") == 7
        assert loads("!!binary aGk=") == "aGk="

    def test_loads_all_applies_tags(self):
        assert loads_all("--- !a 1\n--- !b 2", tags={"!a": int}, tag_handler=lambda t, v: t) == [1, "!b"]


class TestDeepInput:
    def test_deep_nesting_in_a_small_thread_stack(self):
        depth = 1000
        text = "[" * depth + "]" * depth
        results = []

        def run():
            value = loads(text)
            for _ in range(depth - 1):
                value = value[0]
            results.append(value)

        old = threading.stack_size(256 * 1024)
        try:
            t = threading.Thread(target=run)
            t.start()
            t.join()
        finally:
            threading.stack_size(old)
        assert results == [[]]

    def test_deep_block_nesting(self):
        depth = 999
        text = "".join("  " * i + "k:\n" for i in range(depth)) + "  " * depth + "v"
        value = loads(text)
        for _ in range(depth):
            value = value["k"]
        assert value == "v"

    def test_several_threads_at_once(self):
        docs = [f"n: {i}\nitems: [{', '.join(str(j) for j in range(i))}]\n" for i in range(40)]
        errors = []

        def worker(i):
            try:
                for _ in range(50):
                    assert loads(docs[i]) == {"n": i, "items": list(range(i))}
            except Exception as e:  # pragma: no cover - reported below
                errors.append(e)

        threads = [threading.Thread(target=worker, args=(i,)) for i in range(len(docs))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert errors == []
