"""Loading with a schema, side by side with PyYAML's C loader plus jsonschema.

    PYTHONPATH=build:python python benchmarks/schema_validation.py [--quick]

On the configuration corpora of run.py (10 KB and 1 MB of YAML) with a schema
that uses types, required, properties, items, enums, bounds and
additionalProperties, prints the best time of:

- quarvel.loads without a schema, for scale;
- quarvel.loads with the schema (the two called in turn);
- yaml.load with CSafeLoader, then jsonschema's Draft 2020-12 validator
  (built once, outside the timing).

The cost of validation is the second line over the first; the speed-up is the
third line over the second. Build quarvel in Release for meaningful numbers.
"""

import argparse
import gc
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpora  # noqa: E402
from run import best_time, yaml, yaml_text  # noqa: E402

import quarvel  # noqa: E402

try:
    import jsonschema
except ImportError:  # pragma: no cover
    jsonschema = None

SERVICE = {
    "type": "object",
    "required": ["name", "enabled", "replicas", "image", "ports"],
    "additionalProperties": False,
    "properties": {
        "name": {"type": "string", "minLength": 1, "maxLength": 64},
        "enabled": {"type": "boolean"},
        "replicas": {"type": "integer", "minimum": 1, "maximum": 100},
        "image": {"type": "string", "minLength": 1},
        "cpu": {"type": "number", "exclusiveMinimum": 0, "maximum": 64},
        "ports": {"type": "array", "maxItems": 16,
                  "items": {"type": "integer", "minimum": 1, "maximum": 65535}},
        "env": {"type": "object", "additionalProperties": {"type": "string"}},
        "labels": {
            "type": "object",
            "properties": {"tier": {"enum": ["web", "db", "cache", "batch"]},
                           "owner": {"type": "string"}},
        },
        "healthcheck": {
            "type": "object",
            "properties": {
                "path": {"type": "string"},
                "interval": {"type": "integer", "minimum": 1},
                "timeout": {"type": ["integer", "null"]},
            },
        },
    },
}

SCHEMA = {
    "type": "object",
    "required": ["version", "defaults", "services"],
    "additionalProperties": False,
    "properties": {
        "version": {"enum": [1, 2, 3]},
        "defaults": {
            "type": "object",
            "required": ["retries"],
            "additionalProperties": False,
            "properties": {
                "retries": {"type": "integer", "minimum": 0, "maximum": 10},
                "log_level": {"enum": ["debug", "info", "warning", "error"]},
            },
        },
        "services": {"type": "array", "minItems": 1, "items": SERVICE},
    },
}

# The same rules written as published schemas write them: parts in $defs
# reached by $ref, patterns on names, patternProperties for the
# environment, oneOf where a value has two forms.
SCHEMA_REFS = {
    "$defs": {
        "name": {"type": "string", "pattern": "^[a-z][a-z0-9-]*$", "maxLength": 64},
        "port": {"oneOf": [{"type": "integer", "minimum": 1, "maximum": 65535},
                           {"type": "string", "pattern": "^[0-9]+(/(tcp|udp))?$"}]},
        "env": {"type": "object", "patternProperties": {"^[A-Z_][A-Z0-9_]*$": {"type": "string"}},
                "additionalProperties": False},
        "labels": SERVICE["properties"]["labels"],
        "healthcheck": SERVICE["properties"]["healthcheck"],
        "service": {**SERVICE, "properties": {
            **SERVICE["properties"], "name": {"$ref": "#/$defs/name"},
            "ports": {"type": "array", "maxItems": 16, "items": {"$ref": "#/$defs/port"}},
            "env": {"$ref": "#/$defs/env"}, "labels": {"$ref": "#/$defs/labels"},
            "healthcheck": {"$ref": "#/$defs/healthcheck"}}},
    },
    **SCHEMA,
    "properties": {**SCHEMA["properties"],
                   "services": {"type": "array", "minItems": 1, "items": {"$ref": "#/$defs/service"}}},
}


def interleaved_best(first, second, repeat, least=1.0):
    """The best times of two functions called in turn, one call each per
    round, so that a change in the machine's load shows in both alike rather
    than as the difference between them."""
    best = [float("inf"), float("inf")]
    gc.collect()
    start = time.perf_counter()
    rounds = 0
    while rounds < 3 * repeat or (time.perf_counter() - start < least and rounds < 20000):
        for i, fn in enumerate((first, second)):
            t0 = time.perf_counter()
            fn()
            best[i] = min(best[i], time.perf_counter() - t0)
        rounds += 1
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer runs")
    args = parser.parse_args()
    repeat = 3 if args.quick else 10
    cases = [("config 10 KB", 10_000, SCHEMA), ("config 1 MB", 1_000_000, SCHEMA),
             ("config 1 MB, $ref-heavy schema", 1_000_000, SCHEMA_REFS)]
    for name, size, schema in cases:
        validator = jsonschema.Draft202012Validator(schema) if jsonschema else None
        raw = yaml_text(corpora.config_data(size)).encode()
        quarvel.loads(raw, schema=schema)  # the corpus satisfies the schema
        plain, checked = interleaved_best(lambda: quarvel.loads(raw),
                                          lambda: quarvel.loads(raw, schema=schema), repeat)
        print(f"\n{name} ({len(raw):,} bytes)")
        print(f"  {'quarvel.loads':<34} {plain * 1000:10.2f} ms")
        print(f"  {'quarvel.loads(schema=...)':<34} {checked * 1000:10.2f} ms"
              f"   validation adds {100 * (checked - plain) / plain:.0f}%")
        if yaml is None or validator is None:
            print("  (PyYAML or jsonschema missing: no comparison)")
            continue

        def peer():
            validator.validate(yaml.load(raw, Loader=yaml.CSafeLoader))

        other = best_time(peer, max(1, repeat // 3))
        print(f"  {'CSafeLoader + jsonschema 2020-12':<34} {other * 1000:10.2f} ms"
              f"   quarvel is {other / checked:.1f}x faster")


if __name__ == "__main__":
    main()
