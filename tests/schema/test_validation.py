"""Validation of loaded documents against a schema: messages, positions,
paths, the full violation list, and the load paths it runs on."""

import pytest

import quarvel
from quarvel import OPT_ANNOTATED, OPT_YAML_1_1
from quarvel.exceptions import QuarvelSchemaError, QuarvelUnserializableError, SchemaViolation


def violation(text, schema, **kw):
    with pytest.raises(QuarvelSchemaError) as info:
        quarvel.loads(text, schema=schema, **kw)
    return info.value


PORT_INT = {"properties": {"port": {"type": "integer"}}}


# (text, schema, message, path, line, column) of the first violation.
@pytest.mark.parametrize("text, schema, message, path, line, column", [
    ("age: 3\n", {"type": "object", "required": ["name"]},
     "missing required property 'name'", "$", 1, 1),
    ('port: "80"\n', PORT_INT, "expected type integer, found string", "$.port", 1, 7),
    ("port: 80.0\n", PORT_INT, "expected type integer, found number", "$.port", 1, 7),
    ("5", {"type": ["string", "null"]}, "expected type string | null, found integer", "$", 1, 1),
    ("5", {"type": [1, 2]}, "expected type , found integer", "$", 1, 1),
    ("5", {"type": []}, "expected type , found integer", "$", 1, 1),
    ("[1, -2]", {"items": {"minimum": 0}}, "value -2 is less than minimum 0", "$[1]", 1, 5),
    ("a: 1\nb: 2\n", {"properties": {"a": {}}, "additionalProperties": False},
     "additional property 'b' is not allowed", "$.b", 2, 4),
    ("3", {"oneOf": [{"type": "integer"}, {"type": "number"}]},
     "value matches 2 of the oneOf schemas (exactly one required)", "$", 1, 1),
    ("3", {"oneOf": []}, "value matches 0 of the oneOf schemas (exactly one required)", "$", 1, 1),
    ("3", {"anyOf": [{"type": "string"}, {"maximum": 1}]},
     "value does not match any of the anyOf schemas"
     " (closest is #/anyOf/1: value 3 is greater than maximum 1)", "$", 1, 1),
    ("3", {"anyOf": []}, "value does not match any of the anyOf schemas", "$", 1, 1),
    ("3", {"not": {"type": "integer"}}, "value must not match the 'not' schema", "$", 1, 1),
    ("3", {"not": {}}, "value must not match the 'not' schema", "$", 1, 1),
    ("a", False, "value is not allowed (schema is false)", "$", 1, 1),
    ("x: [a, b]", {"properties": {"x": {"items": False}}},
     "value is not allowed (schema is false)", "$.x[0]", 1, 5),
    ("x", {"enum": []}, "value is not one of the allowed enum values", "$", 1, 1),
    ("x", {"enum": ["y", 1]}, "value is not one of the allowed enum values", "$", 1, 1),
    ("x", {"const": "y"}, "value does not equal the required const", "$", 1, 1),
    ("1.5", {"minimum": 2.5}, "value 1.5 is less than minimum 2.5", "$", 1, 1),
    ("1.5", {"maximum": 0.001}, "value 1.5 is greater than maximum 0.001", "$", 1, 1),
    ("3", {"exclusiveMinimum": 3}, "value 3 is not greater than 3", "$", 1, 1),
    ("3.0", {"exclusiveMaximum": 3}, "value 3 is not less than 3", "$", 1, 1),
    ("1e20", {"maximum": 1e-7}, "value 100000000000000000000 is greater than maximum 0.0000001",
     "$", 1, 1),
    ("-7", {"minimum": -6.5}, "value -7 is less than minimum -6.5", "$", 1, 1),
    (".inf", {"maximum": 5}, "value inf is greater than maximum 5", "$", 1, 1),
    # Big integers compare as doubles and are written as the shortest double.
    (str(2**70), {"maximum": 2**69}, "value 1180591620717411300000 is greater than maximum "
     "590295810358705700000", "$", 1, 1),
    ("abcd", {"maxLength": 3}, "string is longer than maxLength 3", "$", 1, 1),
    ("ab", {"minLength": 3.0}, "string is shorter than minLength 3", "$", 1, 1),
    ("[1, 2]", {"maxItems": 1}, "array has more than maxItems 1", "$", 1, 1),
    ("[]", {"minItems": 1.0}, "array has fewer than minItems 1", "$", 1, 1),
    ("servers:\n  - {port: 1}\n  - {port: 2}\n  - {port: x}\n",
     {"properties": {"servers": {"items": {"properties": {"port": {"type": "integer"}}}}}},
     "expected type integer, found string", "$.servers[2].port", 4, 12),
    ('"a.b": {c: 1}', {"additionalProperties": {"additionalProperties": False}},
     "additional property 'c' is not allowed", "$.a.b.c", 1, 12),
    ("---\n", {"type": "object"}, "expected type object, found null", "$", 1, 1),
    ("k: !!str\n", {"properties": {"k": {"type": "null"}}},
     "expected type null, found string", "$.k", 2, 1),
    ("k: !custom 5\n", {"properties": {"k": {"type": "integer"}}},
     "expected type integer, found string", "$.k", 1, 12),
])
def test_first_violation(text, schema, message, path, line, column):
    e = violation(text, schema)
    assert str(e) == f"schema validation failed: {message} at {path} (line {line}, column {column})"
    assert (e.schema_path, e.line, e.column) == (path, line, column)
    assert e.errors[0][:4] == (message, path, line, column)


@pytest.mark.parametrize("text, schema", [
    ("1.0", {"enum": [1, "a"]}),
    ("1", {"enum": [1.0]}),
    ("", {"const": None}),
    ("~", {"const": None}),
    ("null", {"type": "null"}),
    ("héé", {"maxLength": 3}),
    ("héé", {"minLength": 3}),
    ("anything: [1, {b: 2}]", True),
    ("anything: [1, {b: 2}]", {}),
    ("[]", {"const": []}),
    ("{a: 1, b: [x]}", {"const": {"b": ["x"], "a": 1}}),
    ("[1, [2]]", {"enum": [[1], [1, [2.0]]]}),
    ("nan", {"type": "string"}),
    (".nan", {"minimum": 0, "maximum": 0, "exclusiveMinimum": 0, "exclusiveMaximum": 0}),
    ("3", {"exclusiveMinimum": True, "exclusiveMaximum": True}),
    ("3", {"type": "integer", "allOf": [{"minimum": 1}, {"maximum": 5}]}),
    ("3", {"anyOf": [{"type": "string"}, {"minimum": 1}]}),
    ("3", {"oneOf": [{"type": "string"}, {"type": "integer"}]}),
    ("3", {"not": {"type": "string"}}),
    (str(2**70), {"type": "integer", "minimum": 2**69, "const": 2**70}),
    ("0x1fffffffffffffffff", {"minimum": 2**72}),  # a string in YAML 1.2: no numeric checks
    ("a: 1", {"required": []}),
    ("{1: a}", {"required": ["1"], "additionalProperties": False, "properties": {"1": {}}}),
    ("[a, b]", {"items": [{"type": "integer"}]}),  # list-form items imposes nothing
    ("abc", {"maxLength": 2.5, "minLength": "9"}),  # unusable bounds are ignored
    ("x", {"type": "color"}),  # an unknown type name matches everything
    ("x", {"frobnicate": 1, "properties": 7, "required": "x", "enum": "y", "allOf": {}}),
    ("{a: [1, 2]}", {"properties": {"a": {"items": {"type": "integer"}, "maxItems": 2}}}),
])
def test_accepted(text, schema):
    quarvel.loads(text, schema=schema)


@pytest.mark.parametrize("text", ["a: 1", "[1, 2]", "x", "", "---\n"])
def test_false_rejects_every_document_true_accepts_it(text):
    quarvel.loads(text, schema=True)
    quarvel.loads(text, schema={})
    if text.strip():
        with pytest.raises(QuarvelSchemaError):
            quarvel.loads(text, schema=False)


def test_every_violation_is_listed_in_order():
    text = "a: x\nb: [1, -1, -2]\nc: 3\n"
    schema = {
        "required": ["a", "z", "y"],
        "properties": {"a": {"type": "integer", "minLength": 2}, "b": {"items": {"minimum": 0}}},
        "additionalProperties": False,
    }
    e = violation(text, schema)
    assert e.errors == [
        ("missing required property 'z'", "$", 1, 1, "#/required"),
        ("missing required property 'y'", "$", 1, 1, "#/required"),
        ("expected type integer, found string", "$.a", 1, 4, "#/properties/a/type"),
        ("string is shorter than minLength 2", "$.a", 1, 4, "#/properties/a/minLength"),
        ("value -1 is less than minimum 0", "$.b[1]", 2, 8, "#/properties/b/items/minimum"),
        ("value -2 is less than minimum 0", "$.b[2]", 2, 12, "#/properties/b/items/minimum"),
        ("additional property 'c' is not allowed", "$.c", 3, 4, "#/additionalProperties"),
    ]
    assert all(isinstance(v, SchemaViolation) for v in e.errors)
    first = e.errors[0]
    assert (first.message, first.path, first.line, first.column) == (
        "missing required property 'z'", e.schema_path, e.line, e.column)


def test_sub_results_of_combinators_are_not_reported():
    schema = {"anyOf": [{"type": "string"}, {"minimum": 10}], "not": {"maximum": 100},
              "oneOf": [{"type": "string"}]}
    e = violation("5", schema)
    assert [v.message for v in e.errors] == [
        "value does not match any of the anyOf schemas"
        " (closest is #/anyOf/1: value 5 is less than minimum 10)",
        "value matches 0 of the oneOf schemas (exactly one required)"
        " (closest is #/oneOf/0: expected type string, found integer)",
        "value must not match the 'not' schema",
    ]


def test_nested_combinators_inside_a_probe_still_count_right():
    # The inner oneOf runs inside anyOf: both sub-schemas match, so it fails.
    inner = {"oneOf": [{"type": "integer"}, {"minimum": 0}]}
    violation("3", {"anyOf": [inner]})
    quarvel.loads("-3", schema={"anyOf": [inner]})


@pytest.mark.parametrize("option, accepted", [(0, False), (OPT_YAML_1_1, True)])
def test_scalars_resolve_by_the_mode_of_the_load(option, accepted):
    schema = {"properties": {"on": {"type": "boolean"}}}
    text = "on: yes\n"
    if accepted:
        quarvel.loads(text, schema=schema, option=option)
    else:
        assert violation(text, schema, option=option).schema_path == "$.on"


def test_yaml_directive_chooses_the_mode():
    quarvel.loads("%YAML 1.1\n---\nyes\n", schema={"type": "boolean"})


@pytest.mark.parametrize("option", [0, OPT_ANNOTATED])
def test_runs_on_plain_and_configuration_paths(option):
    e = violation("a: 1\nb: {c: x}\n", {"properties": {"b": {"properties": {"c": {"type": "integer"}}}}},
                  option=option)
    assert (e.schema_path, e.line, e.column) == ("$.b.c", 2, 8)
    assert quarvel.loads("a: 1", schema={"required": ["a"]}, option=option) == {"a": 1}


def test_aliases_validate_as_their_anchored_node():
    text = "base: &b {port: 80}\nuse: *b\n"
    schema = {"additionalProperties": {"required": ["port"], "properties": {"port": {"maximum": 50}}}}
    e = violation(text, schema)
    # The alias's copy is shown at the alias; the node inside it at its own place.
    assert [(v.path, v.line, v.column) for v in e.errors] == [("$.base.port", 1, 17),
                                                              ("$.use.port", 1, 17)]
    e = violation("a: &x 5\nb: *x\n", {"additionalProperties": {"type": "string"}})
    assert [(v.path, v.line, v.column) for v in e.errors] == [("$.a", 1, 7), ("$.b", 2, 4)]


def test_an_alias_names_the_nearest_earlier_anchor():
    # Loading gives b = 1 and d = [1]; validation must check those same values.
    text = "a: &x 1\nb: *x\nl: &y [*x]\nc: &x two\nd: *y\ne: *x\n"
    assert quarvel.loads(text) == {"a": 1, "b": 1, "l": [1], "c": "two", "d": [1], "e": "two"}
    schema = {"properties": {"b": {"type": "integer"}, "d": {"items": {"type": "integer"}},
                             "e": {"type": "string"}}}
    quarvel.loads(text, schema=schema)


def test_empty_documents_and_streams():
    assert quarvel.loads("", schema=False) is None
    assert quarvel.loads("# only a comment\n", schema=False) is None
    # The first document is the one checked, even when a later one would fail.
    assert quarvel.loads("1\n---\nx\n", schema={"type": "integer"}) == 1


class TestSchemaAuto:
    TEXT = "# yaml-language-server: $schema=./s.json\nport: x\n"

    def test_resolver_result_is_the_schema(self):
        seen = []

        def resolver(ref):
            seen.append(ref)
            return PORT_INT

        with pytest.raises(QuarvelSchemaError):
            quarvel.loads(self.TEXT, schema="auto", schema_resolver=resolver)
        assert seen == ["./s.json"]

    @pytest.mark.parametrize("text", [TEXT, "port: x\n# yaml-language-server: $schema=./s.json\n"])
    def test_none_or_no_reference_means_no_validation(self, text):
        calls = []

        def resolver(ref):
            calls.append(ref)

        assert quarvel.loads(text, schema="auto", schema_resolver=resolver) == {"port": "x"}
        assert len(calls) == (1 if text.startswith("#") else 0)

    def test_resolver_exception_passes_unchanged(self):
        def resolver(ref):
            raise KeyError(ref)

        with pytest.raises(KeyError):
            quarvel.loads(self.TEXT, schema="auto", schema_resolver=resolver)


class Opaque:
    pass


@pytest.mark.parametrize("schema", [{"type": Opaque()}, {"properties": {"a": {1j: 2}}}, Opaque()])
def test_unencodable_schema_raises_the_encoder_error(schema):
    with pytest.raises(QuarvelUnserializableError):
        quarvel.loads("a: 1", schema=schema)


@pytest.mark.parametrize("schema", [
    {"type": 5}, {"minimum": "1"}, {"minimum": None},
    {"required": [1, None]}, {"properties": [1]}, {"additionalProperties": "no"},
    {"items": 5}, {"allOf": {"type": "string"}}, {"enum": {"a": 1}},
    {1: "type", None: [], "type": {"nested": "object"}}, ["type", "string"], "string", 7, None,
])
def test_malformed_schema_parts_never_raise(schema):
    assert quarvel.loads("a: [1, x]", schema=schema) == {"a": [1, "x"]}


def outcome(text, schema, option=0):
    try:
        quarvel.loads(text, schema=schema, option=option)
    except QuarvelSchemaError as e:
        return e.errors
    return []


# The plain path tells most valid documents from their value tree and
# composes the syntax tree only otherwise; the configuration path always
# checks the syntax tree. Both must reach the same verdict on every text.
@pytest.mark.parametrize("text, schema", [
    ("1: a\n", {"required": ["1"], "additionalProperties": False, "properties": {"1": {}}}),
    ("~: a\n", {"properties": {"~": {"type": "integer"}}}),
    ("true: a\n", {"required": ["true"]}),
    ("1.5: a\n", {"additionalProperties": False}),
    ("k: !custom 5\n", {"properties": {"k": {"type": "integer"}}}),
    ("k: !custom [1]\n", {"properties": {"k": {"type": "array", "items": {"type": "string"}}}}),
    ("k: !!str 5\n", {"properties": {"k": {"type": "string"}}}),
    ("base: &b {x: 1}\nuse:\n  <<: *b\n  y: 2\n", {"additionalProperties": {"required": ["x"]}}),
    ("a: &x 5\nb: *x\n", {"additionalProperties": {"type": "string"}}),
    ("glob: '*.py'\nn: 3\n", {"properties": {"n": {"maximum": 2}}}),
    ("a: 1\na: x\n", {"properties": {"a": {"type": "integer"}}}),
    ("[1, {a: [x, 2]}]", {"items": {"anyOf": [{"type": "integer"},
                                             {"properties": {"a": {"items": {"type": "integer"}}}}]}}),
    ("{a: 1, b: 2}", {"const": {"a": 1, "b": 2}}),
    ("{a: 1, 2: b}", {"const": {"a": 1}}),
])
def test_plain_and_configuration_paths_agree(text, schema):
    plain = outcome(text, schema)
    assert plain == outcome(text, schema, OPT_ANNOTATED)
    # The verdict of a valid document is the same without the quick check's help.
    assert (plain == []) == (outcome(text, {"allOf": [schema]}, OPT_ANNOTATED) == [])


@pytest.mark.parametrize("extra", [0, quarvel.OPT_INCLUDES])
def test_a_document_to_edit_is_validated_too(tmp_path, extra):
    # A schema given with OPT_ROUND_TRIP is checked, not silently ignored.
    (tmp_path / "inc.yaml").write_text("port: http\n")
    text = "web: !include inc.yaml\n" if extra else "web:\n  port: http\n"
    schema = {"properties": {"web": {"properties": {"port": {"type": "integer"}}}}}
    with pytest.raises(quarvel.QuarvelSchemaError) as e:
        quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP | extra, schema=schema,
                      include_dir=str(tmp_path))
    assert e.value.schema_path == "$.web.port"
    doc = quarvel.loads("web:\n  port: 80\n", option=quarvel.OPT_ROUND_TRIP, schema=schema)
    assert doc.to_dict() == {"web": {"port": 80}}


_CACHE_SETUP = """
shared = {"type": "integer", "minimum": 1}
schema = {"properties": {"a": shared, "b": {"allOf": [shared, shared]}, "c": {"format": "email"}}}
props = schema["properties"]
"""
_CACHE_CHANGES = [
    "pass",
    "shared.update(minimum=5)",
    "shared.update(minimum=5.0)",
    "shared.update(minimum=True)",
    'props.update(b={"allOf": [dict(shared), dict(shared)]})',
    'props.update(b={"allOf": [shared, shared]})',
    'shared.update(type=["integer", "string"])',
    'props.pop("a")',
]
_CACHE_TEXTS = ["a: 0\nb: 0\nc: x\n", "a: 3\nb: 7\nc: x@y.z\n", "a: '3'\nb: '0'\n"]
_CACHE_REPORT = """
import quarvel
from quarvel.exceptions import QuarvelSchemaError

def errors(text, **kw):
    try:
        quarvel.loads(text, **kw)
    except QuarvelSchemaError as e:
        return [(v.message, v.path, v.schema_path) for v in e.errors]
    return None

def report(texts):
    out = []
    for option in (None, quarvel.OPT_SCHEMA_FORMAT):
        for text in texts:
            out.append(errors(text, schema=schema, option=option))
            out.append(errors("# yaml-language-server: $schema=s\\n" + text, option=option,
                              schema="auto", schema_resolver=lambda _: schema))
    return out
"""


def test_a_schema_read_once_serves_later_loads_only_while_it_is_unchanged():
    # A schema is kept once read, for the loads that follow with an identical
    # one, given directly or through a schema_resolver. Changed in place
    # between loads (down to the type of a bound, and which parts are the
    # same object: a part applied twice is reported once), it must give what
    # a process that never saw it before gives.
    import json
    import subprocess
    import sys

    here = {}
    exec(_CACHE_SETUP + _CACHE_REPORT, here)
    for step, change in enumerate(_CACHE_CHANGES):
        exec(change, here)
        seen = here["report"](_CACHE_TEXTS)
        replay = "\n".join(_CACHE_CHANGES[: step + 1])
        code = (_CACHE_SETUP + replay + _CACHE_REPORT +
                f"import json; print(json.dumps(report({_CACHE_TEXTS!r})))")
        fresh = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                               check=True)
        assert json.loads(json.dumps(seen)) == json.loads(fresh.stdout), change
