import subprocess
import sys

import pytest

import _quarvel

FUNCTIONS = {
    "loads": "(data, /, *, option=None, include_dir=None, schema=None, schema_resolver=None, "
    "tag_handler=None, tags=None, root_path=None, on_missing_secret=None, on_missing_env_var=None)",
    "loads_all": "(data, /, *, option=None, tag_handler=None, tags=None)",
    "dumps": "(obj, /, *, default=None, option=None, null_style=None, tags=None, width=None)",
    "to_json": "(obj, /, *, default=None, option=None)",
    "schema_ref": "(data, /)",
    "yaml_version": "(data, /)",
    "dump_includes": "(doc, /, *, include_dir=None)",
    "dump_includes_map": "(doc, /)",
}

OPTIONS = [
    "OPT_YAML_1_1", "OPT_PYYAML_COMPAT", "OPT_UPGRADE_1_1", "OPT_YAML_1_1_WARN", "OPT_ROUND_TRIP",
    "OPT_ANNOTATED", "OPT_ANNOTATE_NUMBERS", "OPT_INCLUDES", "OPT_INCLUDE_DIR_RECURSIVE", "OPT_SECRETS",
    "OPT_ENV_VAR", "OPT_SECRET_NOT_FOUND_WARN", "OPT_ENV_VAR_NOT_FOUND_WARN", "OPT_PASSTHROUGH_TAG",
    "OPT_DUPLICATE_KEYS_ERROR", "OPT_DUPLICATE_KEYS_WARN", "OPT_REJECT_COMPLEX_KEYS", "OPT_INDENT_2",
    "OPT_INDENT_4", "OPT_INDENTLESS_SEQUENCES", "OPT_FLOW_STYLE", "OPT_SORT_KEYS", "OPT_EXPLICIT_START",
    "OPT_EXPLICIT_END", "OPT_SINGLE_QUOTES", "OPT_NULL_AS_KEYWORD", "OPT_NULL_AS_TILDE",
    "OPT_SERIALIZE_NUMPY", "OPT_PASSTHROUGH_DATETIME", "OPT_PASSTHROUGH_DATACLASS",
    "OPT_OMIT_MICROSECONDS", "OPT_NAIVE_UTC", "OPT_UTC_Z",
    "OPT_SCHEMA_FORMAT",
]

CLASSES = ["QuarvelDocument", "QuarvelDocumentView", "QuarvelNode", "QuarvelTag",
           "QuarvelAnnotatedDict", "QuarvelAnnotatedList"]


def test_all_lists_every_public_name_in_order():
    assert _quarvel.__all__ == list(FUNCTIONS) + OPTIONS + CLASSES
    public = {n for n in dir(_quarvel) if not n.startswith("_")}
    assert public == set(_quarvel.__all__)
    assert _quarvel.__doc__ == ""


@pytest.mark.parametrize("name", list(FUNCTIONS))
def test_function_signature_and_docstring(name):
    fn = getattr(_quarvel, name)
    assert fn.__text_signature__ == FUNCTIONS[name]
    assert fn.__doc__ is None or fn.__doc__ == ""
    assert fn.__module__ == "_quarvel"


def test_option_values_are_distinct_ascending_bits():
    values = [getattr(_quarvel, n) for n in OPTIONS]
    assert values == [1 << i for i in range(34)]
    assert _quarvel.OPT_UTC_Z == 4294967296


def test_33_bit_option_is_accepted():
    assert _quarvel.loads("a: 1", option=_quarvel.OPT_YAML_1_1 | _quarvel.OPT_UTC_Z) == {"a": 1}
    assert _quarvel.loads("a: 1", option=1 << 63) == {"a": 1}  # unnamed bits are ignored


def test_class_names_and_modules():
    assert _quarvel.QuarvelAnnotatedDict.__module__ == "quarvel"
    assert _quarvel.QuarvelAnnotatedList.__module__ == "quarvel"
    assert issubclass(_quarvel.QuarvelAnnotatedDict, dict)
    assert issubclass(_quarvel.QuarvelAnnotatedList, list)
    # The other classes name the extension module, so that creating them
    # raises no "has no __module__" DeprecationWarning at import.
    for name in ["QuarvelDocument", "QuarvelDocumentView", "QuarvelNode", "QuarvelTag"]:
        cls = getattr(_quarvel, name)
        assert cls.__name__ == name
        assert cls.__module__ == "_quarvel"


def test_import_is_clean_under_warnings_as_errors():
    code = "import quarvel; quarvel.loads('a: 1')"
    subprocess.run([sys.executable, "-W", "error", "-c", code], check=True)


def test_editing_classes_are_not_instantiable():
    for name in ["QuarvelDocument", "QuarvelDocumentView", "QuarvelNode"]:
        with pytest.raises(TypeError):
            getattr(_quarvel, name)()


def test_importing_the_module_does_not_import_the_exceptions():
    code = (
        "import sys, _quarvel\n"
        "assert 'quarvel.exceptions' not in sys.modules\n"
        "try:\n    _quarvel.loads('a: [')\nexcept Exception as e:\n    print(type(e).__module__)\n"
        "assert 'quarvel.exceptions' in sys.modules\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "quarvel.exceptions"


def test_a_missing_exception_class_is_an_internal_fault():
    code = (
        "import sys, types, _quarvel\n"
        "import quarvel\n"
        "sys.modules['quarvel.exceptions'] = types.ModuleType('quarvel.exceptions')\n"
        "try:\n    _quarvel.loads('a: [')\nexcept SystemError as e:\n    print(e)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "failed to import exception quarvel.exceptions.QuarvelParseError"


class TestQuarvelTag:
    def test_attributes_and_repr(self):
        t = _quarvel.QuarvelTag("!mytag", [1])
        assert t.tag == "!mytag" and t.value == [1]
        assert repr(t) == "QuarvelTag('!mytag', ...)"
        assert _quarvel.QuarvelTag(tag="!a", value=None).tag == "!a"

    def test_identity_semantics_and_read_only(self):
        a, b = _quarvel.QuarvelTag("!x", 1), _quarvel.QuarvelTag("!x", 1)
        assert a != b and a == a
        with pytest.raises(AttributeError):
            a.tag = "!y"

    @pytest.mark.parametrize("args", [(1, 2), (b"!x", 2), ("!x",), ()])
    def test_bad_arguments(self, args):
        with pytest.raises(TypeError):
            _quarvel.QuarvelTag(*args)

    def test_docstring(self):
        assert _quarvel.QuarvelTag.__doc__.startswith("A custom-tagged YAML value")
        assert _quarvel.QuarvelTag.__text_signature__ == "(tag, value)"

    def test_cycles_are_collected(self):
        import gc
        import weakref

        class Box:
            pass

        box = Box()
        box.tag = _quarvel.QuarvelTag("!x", box)
        ref = weakref.ref(box)
        del box
        gc.collect()
        assert ref() is None
