"""Verdicts on configuration-like documents agree with the jsonschema package
(Draft 2020-12) applied to the loaded data, for schemas within the subset."""

import pytest

import quarvel
from quarvel.exceptions import QuarvelSchemaError

jsonschema = pytest.importorskip("jsonschema")

SERVICE = {
    "type": "object",
    "required": ["name", "replicas"],
    "additionalProperties": False,
    "properties": {
        "name": {"type": "string", "minLength": 1, "maxLength": 8},
        "replicas": {"type": "integer", "minimum": 1, "exclusiveMaximum": 10},
        "cpu": {"type": "number", "exclusiveMinimum": 0},
        "ports": {"type": "array", "maxItems": 2, "items": {"type": "integer", "maximum": 65535}},
        "env": {"type": "object", "additionalProperties": {"type": "string"}},
        "tier": {"enum": ["web", "db"]},
        "timeout": {"type": ["integer", "null"]},
        "mode": {"oneOf": [{"const": "auto"}, {"type": "integer"}], "not": {"const": 0}},
    },
}
SCHEMA = {"type": "object", "required": ["services"],
          "properties": {"services": {"type": "array", "minItems": 1, "items": SERVICE}}}

BASE = """services:
  - name: web
    replicas: 2
    cpu: 0.5
    ports: [80, 443]
    env: {A: x}
    tier: web
    timeout: ~
    mode: auto
"""


@pytest.mark.parametrize("old, new", [
    ("", ""),
    ("replicas: 2", "replicas: 10"),
    ("replicas: 2", "replicas: 0"),
    ("replicas: 2", "replicas: '2'"),
    ("cpu: 0.5", "cpu: 0"),
    ("cpu: 0.5", "cpu: 4"),
    ("[80, 443]", "[80, 443, 8080]"),
    ("[80, 443]", "[80, 70000]"),
    ("[80, 443]", "[]"),
    ("{A: x}", "{A: 5}"),
    ("{A: x}", "{}"),
    ("tier: web", "tier: cache"),
    ("timeout: ~", "timeout: 5"),
    ("timeout: ~", "timeout: 5s"),
    ("mode: auto", "mode: 3"),
    ("mode: auto", "mode: 0"),
    ("mode: auto", "mode: manual"),
    ("name: web", "name: ''"),
    ("name: web", "name: ninechars"),
    ("name: web", "label: web"),
    ("    replicas: 2\n", ""),
    ("services:\n", "services: []\nother:\n"),
])
def test_verdict_matches_jsonschema(old, new):
    text = BASE.replace(old, new, 1)
    expected = jsonschema.Draft202012Validator(SCHEMA).is_valid(quarvel.loads(text))
    try:
        quarvel.loads(text, schema=SCHEMA)
        valid = True
    except QuarvelSchemaError:
        valid = False
    assert valid == expected
