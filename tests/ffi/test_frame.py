import logging

import pytest

import _quarvel
from _quarvel import loads, loads_all
from quarvel.exceptions import QuarvelParseError

LOADS_ALL_UNSUPPORTED = (
    "loads_all() does not support OPT_INCLUDES, OPT_SECRETS, OPT_ENV_VAR, or OPT_ROUND_TRIP; "
    "use loads() for include resolution and round-trip editing"
)
TAGS_MESSAGE = "tags must be a dict (or Tags) mapping each tag name to a callable"
NULL_CONFLICT = "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive"


class TestArguments:
    @pytest.mark.parametrize("fn", [loads, loads_all])
    @pytest.mark.parametrize("option, exc", [("1", TypeError), (1.0, TypeError), (-1, OverflowError),
                                             (2**64, OverflowError)])
    def test_bad_option(self, fn, option, exc):
        with pytest.raises(exc) as e:
            fn("a", option=option)
        if exc is TypeError:
            assert "option" in str(e.value)

    def test_option_accepts_index_protocol_and_none(self):
        class Flag:
            def __index__(self):
                return 0

        assert loads("a", option=Flag()) == "a"
        assert loads("a", option=None, tags=None, tag_handler=None) == "a"

    @pytest.mark.parametrize("call", [
        lambda: loads(),
        lambda: loads("a", "b"),
        lambda: loads(data="a"),
        lambda: loads("a", nonsense=1),
        lambda: loads_all("a", include_dir="."),
        lambda: _quarvel.yaml_version("a", option=1),
        lambda: _quarvel.schema_ref(),
    ])
    def test_bad_calls_raise_type_error(self, call):
        with pytest.raises(TypeError):
            call()

    @pytest.mark.parametrize("name", ["include_dir", "root_path"])
    def test_path_arguments_must_be_path_like(self, name):
        with pytest.raises(TypeError) as e:
            loads("a", **{name: 3})
        assert name in str(e.value)


class TestOptionChecks:
    def test_schema_resolver_needs_auto(self):
        with pytest.raises(ValueError) as e:
            loads("a: 1", schema_resolver=lambda ref: None)
        assert str(e.value) == 'schema_resolver requires schema="auto"'

    def test_auto_needs_resolver(self):
        with pytest.raises(ValueError) as e:
            loads("a: 1", schema="auto")
        assert str(e.value) == (
            'schema="auto" requires a schema_resolver callable to resolve the in-file reference'
        )

    def test_auto_without_reference_does_not_call_resolver(self):
        calls = []
        assert loads("a: 1", schema="auto", schema_resolver=calls.append) == {"a": 1}
        assert calls == []

    def test_resolver_called_with_reference_and_none_means_no_schema(self):
        calls = []
        text = "# yaml-language-server: $schema=./s.json\na: 1"
        assert loads(text, schema="auto", schema_resolver=lambda r: calls.append(r)) == {"a": 1}
        assert calls == ["./s.json"]

    def test_resolver_exception_propagates(self):
        def boom(ref):
            raise KeyError(ref)

        with pytest.raises(KeyError):
            loads("# yaml-language-server: $schema=x\na: 1", schema="auto", schema_resolver=boom)

    @pytest.mark.parametrize("tags", [[], "x", 1, ()])
    @pytest.mark.parametrize("fn", [loads, loads_all])
    def test_tags_must_be_a_dict(self, fn, tags):
        with pytest.raises(TypeError) as e:
            fn("a: 1", tags=tags)
        assert str(e.value) == TAGS_MESSAGE

    def test_tags_dict_subclass_is_accepted(self):
        import quarvel

        assert loads("a: 1", tags=quarvel.Tags()) == {"a": 1}

    def test_check_order_schema_then_tags_then_null_style(self):
        both_nulls = _quarvel.OPT_ROUND_TRIP | _quarvel.OPT_NULL_AS_KEYWORD | _quarvel.OPT_NULL_AS_TILDE
        with pytest.raises(ValueError, match="schema_resolver"):
            loads("a", schema_resolver=len, tags=[], option=both_nulls)
        with pytest.raises(TypeError, match="tags must be"):
            loads("a", tags=[], option=both_nulls)
        with pytest.raises(ValueError) as e:
            loads("a", option=both_nulls)
        assert str(e.value) == NULL_CONFLICT

    def test_input_errors_come_before_option_checks(self):
        with pytest.raises(TypeError, match="requires str"):
            loads(42, schema_resolver=len)

    @pytest.mark.parametrize("flag", ["OPT_INCLUDES", "OPT_SECRETS", "OPT_ENV_VAR", "OPT_ROUND_TRIP"])
    def test_loads_all_rejects_directive_and_round_trip_bits(self, flag):
        with pytest.raises(ValueError) as e:
            loads_all("a", option=getattr(_quarvel, flag))
        assert str(e.value) == LOADS_ALL_UNSUPPORTED
        with pytest.raises(TypeError, match="requires str"):
            loads_all(42, option=getattr(_quarvel, flag))


class TestErrorsAndWarnings:
    def test_syntax_error_position_attributes(self):
        with pytest.raises(QuarvelParseError) as e:
            loads("]")
        err = e.value
        assert str(err).endswith(" at line 1, column 1")
        assert (err.file, err.line, err.column) == (None, 1, 1)

    def test_every_error_is_a_quarvel_error(self):
        import quarvel

        with pytest.raises(quarvel.QuarvelError):
            loads("a: [")

    def test_warnings_reach_the_quarvel_logger(self, quarvel_warnings):
        loads("a: 1\na: 2", option=_quarvel.OPT_DUPLICATE_KEYS_WARN)
        assert quarvel_warnings() == [
            "duplicate mapping key 'a' at line 2, column 1; keeping the last value"
        ]

    def test_warning_with_logging_disabled_still_succeeds(self):
        logging.disable(logging.CRITICAL)
        try:
            assert loads("a: 1\na: 2", option=_quarvel.OPT_DUPLICATE_KEYS_WARN) == {"a": 2}
        finally:
            logging.disable(logging.NOTSET)

    def test_failing_log_handler_never_turns_into_an_error(self):
        class Broken(logging.Handler):
            def emit(self, record):
                raise RuntimeError("handler failed")

            def handleError(self, record):
                raise RuntimeError("handler failed twice")

        logger = logging.getLogger("quarvel")
        handler = Broken()
        logger.addHandler(handler)
        try:
            assert loads("a: 1\na: 2", option=_quarvel.OPT_DUPLICATE_KEYS_WARN) == {"a": 2}
        finally:
            logger.removeHandler(handler)
