"""References, drafts and the keywords beyond the first subset: their
messages, document paths, schema paths and positions, the note on a failed
anyOf/oneOf, other documents through schema_resolver, and the schemas that
cannot be used."""

import pytest

import quarvel
from quarvel import OPT_ANNOTATED, OPT_SCHEMA_FORMAT
from quarvel.exceptions import QuarvelSchemaError

DRAFT7 = "http://json-schema.org/draft-07/schema#"


def errors(text, schema, **kw):
    with pytest.raises(QuarvelSchemaError) as info:
        quarvel.loads(text, schema=schema, **kw)
    return [tuple(v) for v in info.value.errors]


# (text, schema, [(message, path, line, column, schema_path), ...]): every
# violation, on both load paths.
@pytest.mark.parametrize("text, schema, expected", [
    ("x: {y: 1}\n", {"$defs": {"s": {"required": ["z"]}}, "properties": {"x": {"$ref": "#/$defs/s"}}},
     [("missing required property 'z'", "$.x", 1, 4, "#/$defs/s/required")]),
    ("a: 5\n", {"$id": "https://x.org/root.json", "properties": {"a": {"$ref": "item.json#top"}},
                "$defs": {"i": {"$id": "item.json", "$defs": {"t": {"$anchor": "top", "maximum": 1}}}}},
     [("value 5 is greater than maximum 1", "$.a", 1, 4, "#/$defs/i/$defs/t/maximum")]),
    ("a/b: 5\n", {"properties": {"a/b": {"$ref": "#/$defs/x~1y%25"}}, "$defs": {"x/y%": {"type": "string"}}},
     [("expected type string, found integer", "$.a/b", 1, 6, "#/$defs/x~1y%/type")]),
    ("jobs:\n  Build: {}\n", {"properties": {"jobs": {"patternProperties": {"^[a-z]+$": {"required": ["x"]}},
                                                     "additionalProperties": False}}},
     [("additional property 'Build' is not allowed", "$.jobs.Build", 2, 10,
       "#/properties/jobs/additionalProperties")]),
    ("{ab: 1, Cd: 2}", {"propertyNames": {"pattern": "^[a-z]+$"}},
     [("property name 'Cd' does not match propertyNames", "$.Cd", 1, 9, "#/propertyNames")]),
    ("id: AB-1", {"properties": {"id": {"pattern": "^[a-z]+$"}}},
     [("string does not match pattern '^[a-z]+$'", "$.id", 1, 5, "#/properties/id/pattern")]),
    ("[1, x, 2]", {"prefixItems": [{"type": "integer"}], "items": {"type": "integer"}},
     [("expected type integer, found string", "$[1]", 1, 5, "#/items/type")]),
    ("[1, x, 2]", {"$schema": DRAFT7, "items": [{"type": "integer"}], "additionalItems": False},
     [("value is not allowed (schema is false)", "$[1]", 1, 5, "#/additionalItems"),
      ("value is not allowed (schema is false)", "$[2]", 1, 8, "#/additionalItems")]),
    ("[1, 2, 1]", {"uniqueItems": True}, [("array items 0 and 2 are equal (uniqueItems)", "$", 1, 1, "#/uniqueItems")]),
    ("[{a: [1]}, {a: [1.0]}]", {"uniqueItems": True},
     [("array items 0 and 1 are equal (uniqueItems)", "$", 1, 1, "#/uniqueItems")]),
    ("[a, 1, b]", {"contains": {"type": "integer"}, "maxContains": 0, "minContains": 0},
     [("1 item matches contains, more than maxContains 0", "$", 1, 1, "#/maxContains")]),
    ("[a]", {"contains": {"type": "integer"}}, [("array has no item that matches contains", "$", 1, 1, "#/contains")]),
    ("0.35", {"multipleOf": 0.1}, [("value 0.35 is not a multiple of 0.1", "$", 1, 1, "#/multipleOf")]),
    ("{a: 1, b: 2}", {"maxProperties": 1, "minProperties": 3},
     [("object has fewer than minProperties 3", "$", 1, 1, "#/minProperties"),
      ("object has more than maxProperties 1", "$", 1, 1, "#/maxProperties")]),
    ("{a: 1}", {"dependentRequired": {"a": ["b"]}, "dependentSchemas": {"a": {"maxProperties": 0}}},
     [("missing property 'b', required when 'a' is present", "$", 1, 1, "#/dependentRequired/a"),
      ("object has more than maxProperties 0", "$", 1, 1, "#/dependentSchemas/a/maxProperties")]),
    ("{a: 1}", {"$schema": DRAFT7, "dependencies": {"a": ["b"]}},
     [("missing property 'b', required when 'a' is present", "$", 1, 1, "#/dependencies/a")]),
    ("{kind: t, n: x}", {"if": {"properties": {"kind": {"const": "t"}}},
                         "then": {"properties": {"n": {"type": "integer"}}}, "else": {"required": ["q"]}},
     [("expected type integer, found string", "$.n", 1, 14, "#/then/properties/n/type")]),
    ("{a: 1, b: 2}", {"allOf": [{"properties": {"a": True}}], "unevaluatedProperties": False},
     [("unevaluated property 'b' is not allowed", "$.b", 1, 11, "#/unevaluatedProperties")]),
    ("[1, 2]", {"prefixItems": [True], "unevaluatedItems": {"maximum": 1}},
     [("value 2 is greater than maximum 1", "$[1]", 1, 5, "#/unevaluatedItems/maximum")]),
    ("5", {"minimum": 5, "exclusiveMinimum": True}, [("value 5 is not greater than 5", "$", 1, 1, "#/minimum")]),
    # Draft 7 ignores the keywords beside a $ref; 2020-12 applies them.
    ("[1, 2, 3]", {"$schema": DRAFT7, "definitions": {"a": {"maxItems": 5}},
                   "allOf": [{"$ref": "#/definitions/a", "maxItems": 1}], "minItems": 4},
     [("array has fewer than minItems 4", "$", 1, 1, "#/minItems")]),
    ("[1, 2, 3]", {"$defs": {"a": {"maxItems": 5}}, "$ref": "#/$defs/a", "maxItems": 1},
     [("array has more than maxItems 1", "$", 1, 1, "#/maxItems")]),
])
@pytest.mark.parametrize("option", [0, OPT_ANNOTATED])
def test_violations(text, schema, expected, option):
    assert errors(text, schema, option=option) == expected


# The note of a failed anyOf / oneOf names the branch most like the value:
# the fewest violations, a wrong type counting as furthest.
@pytest.mark.parametrize("schema, message", [
    ({"anyOf": [{"type": "string"}, {"type": "object", "required": ["a", "b"]},
                {"type": "object", "required": ["a"]}]},
     "value does not match any of the anyOf schemas (closest is #/anyOf/2: "
     "missing required property 'a')"),
    ({"oneOf": [{"$ref": "#/$defs/step"}, {"type": "array"}],
      "$defs": {"step": {"properties": {"run": {"type": "string"}}}}},
     "value matches 0 of the oneOf schemas (exactly one required) (closest is #/oneOf/0: "
     "expected type string, found integer at $.run)"),
])
def test_closest_branch_note(schema, message):
    assert errors("run: 5\n", schema)[0][0] == message


def test_references_to_other_documents_go_through_the_resolver():
    documents = {"https://x.org/defs.json": {"$defs": {"port": {"type": "integer", "maximum": 65535}}},
                 "https://x.org/other.json": {"$ref": "defs.json#/$defs/port"}}
    asked = []

    def resolver(uri):
        asked.append(uri)
        return documents.get(uri)

    schema = {"$id": "https://x.org/main.json",
              "properties": {"port": {"$ref": "other.json"}, "alt": {"$ref": "defs.json#/$defs/port"}}}
    assert errors("port: 70000\nalt: 1\n", schema, schema_resolver=resolver) == [
        ("value 70000 is greater than maximum 65535", "$.port", 1, 7,
         "https://x.org/defs.json#/$defs/port/maximum")]
    assert asked == ["https://x.org/other.json", "https://x.org/defs.json"]  # each once


@pytest.mark.parametrize("schema, resolver, message", [
    ({"$ref": "other.json"}, None, "the reference 'other.json' at #/$ref names another document, "
     "'other.json', and no schema_resolver was given to provide it"),
    ({"$ref": "other.json"}, lambda uri: None,
     "the schema refers to 'other.json', which schema_resolver did not provide (it returned None)"),
    ({"$ref": "#/$defs/missing"}, None, "the reference '#/$defs/missing' at #/$ref names nothing in the schema"),
    ({"$ref": "#nowhere"}, None, "the reference '#nowhere' at #/$ref names nothing in the schema"),
    ({"properties": {"a": {"pattern": "(a"}}}, None, "invalid regular expression in the schema at "
     "#/properties/a/pattern: "),
    ({"patternProperties": {"[": {}}}, None, "invalid regular expression in the schema at #/patternProperties/[: "),
])
def test_schemas_that_cannot_be_used(schema, resolver, message):
    # Raised before any node is checked, even for a document the schema
    # would accept.
    with pytest.raises(QuarvelSchemaError) as info:
        quarvel.loads("a: 1", schema=schema, schema_resolver=resolver)
    assert str(info.value).startswith(message)
    assert (info.value.schema_path, info.value.line, info.value.errors) == ("", None, [])


def test_resolver_exceptions_pass_unchanged():
    def resolver(uri):
        raise KeyError(uri)

    with pytest.raises(KeyError):
        quarvel.loads("a: 1", schema={"$ref": "x.json"}, schema_resolver=resolver)


@pytest.mark.parametrize("schema", [
    {"$ref": "#"},
    {"$defs": {"a": {"$ref": "#/$defs/b"}, "b": {"allOf": [{"$ref": "#/$defs/a"}]}}, "$ref": "#/$defs/a"},
    {"anyOf": [{"type": "string"}, {"$ref": "#"}]},
    {"properties": {"a": {"$ref": "#/$defs/x"}}, "$defs": {"x": {"not": {"$ref": "#/$defs/x"}}}},
])
@pytest.mark.parametrize("option", [0, OPT_ANNOTATED])
def test_reference_loops_without_progress_are_reported(schema, option):
    with pytest.raises(QuarvelSchemaError) as info:
        quarvel.loads("a: 1", schema=schema, option=option)
    assert "the schema's references loop without moving into the document" in str(info.value)


def test_recursive_schemas_follow_the_document():
    tree = {"$defs": {"node": {"type": "object", "required": ["v"],
                               "properties": {"v": {"type": "integer"},
                                              "kids": {"type": "array", "items": {"$ref": "#/$defs/node"}}}}},
            "$ref": "#/$defs/node"}
    deep = "v: 1\nkids:\n" + "".join("  " * i + "- v: 1\n" + "  " * i + "  kids:\n" for i in range(1, 60))
    quarvel.loads(deep + "  " * 60 + "- v: 2\n", schema=tree)
    assert errors("v: 1\nkids: [{v: 2, kids: [{w: 3}]}]\n", tree) == [
        ("missing required property 'v'", "$.kids[0].kids[0]", 2, 22, "#/$defs/node/required")]


@pytest.mark.parametrize("text, valid", [
    ("[2024-02-29, 12:30:00Z, 2024-02-29T12:30:00.5+01:00, a.b@c.org, ex-ample.com, 10.0.0.1, "
     "'::1', 'https://x.org/a?b#c', 123e4567-e89b-12d3-a456-426614174000, '^a+$']", True),
    ("[2023-02-29, 12:30:00Z, 2024-02-29T12:30:00Z, a.b@c.org, ex-ample.com, 10.0.0.1, "
     "'::1', 'https://x.org/a?b#c', 123e4567-e89b-12d3-a456-426614174000, '^a+$']", False),
    ("[2024-02-29, '25:00:00Z', 2024-02-29T12:30:00Z, a.b@c.org, ex-ample.com, 10.0.0.1, "
     "'::1', 'https://x.org/a?b#c', 123e4567-e89b-12d3-a456-426614174000, '^a+$']", False),
    ("[2024-02-29, 12:30:00Z, 2024-02-29T12:30:00Z, a.b@c.org, -x.com, 010.0.0.1, "
     "'1::2::3', 'no scheme', 123e4567, '(']", False),
])
def test_formats_are_asserted_only_on_request(text, valid):
    names = ["date", "time", "date-time", "email", "hostname", "ipv4", "ipv6", "uri", "uuid", "regex"]
    schema = {"prefixItems": [{"format": n} for n in names]}
    quarvel.loads(text, schema=schema)  # an annotation by default
    if valid:
        quarvel.loads(text, schema=schema, option=OPT_SCHEMA_FORMAT)
    else:
        with pytest.raises(QuarvelSchemaError):
            quarvel.loads(text, schema=schema, option=OPT_SCHEMA_FORMAT)


@pytest.mark.parametrize("text, divisor, valid", [
    ("0.0075", 0.0001, True), ("0.3", 0.1, True), ("1e308", 0.123456789, False),
    (str(10**40), 7, False), (str(7 * 10**40), 7, True), (str(3 * 2**70), 2**70, True),
    ("4.0", 2, True), ("19.99", 0.01, True), ("19.995", 0.01, False), (".inf", 1, False),
])
def test_multiple_of_is_exact(text, divisor, valid):
    schema = {"multipleOf": divisor}
    if valid:
        quarvel.loads(text, schema=schema)
    else:
        with pytest.raises(QuarvelSchemaError):
            quarvel.loads(text, schema=schema)
