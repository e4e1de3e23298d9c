"""Published schemas against the jsonschema package: for real-world
documents and variants of them with faults put in, the same verdict and the
same set of failing document paths.

The schemas are the ones the check-jsonschema wheel ships under
check_jsonschema/builtin_schemas/vendor/ (GitHub workflows and Dependabot
from SchemaStore, draft 7; the Compose file format and Read the Docs,
draft 2020-12). They are not kept here: the tests read them from the folder
QUARVEL_PUBLISHED_SCHEMAS names, or from an installed check_jsonschema, and
are skipped when neither is there. To fetch them:

    pip download --no-deps check-jsonschema && unzip check_jsonschema-*.whl -d x
    export QUARVEL_PUBLISHED_SCHEMAS=x/check_jsonschema/builtin_schemas/vendor

Set QUARVEL_YAML_CORPUS to a folder of YAML files to check every file there
against every schema as well (they mostly fail, so the failing paths get a
thorough comparison).
"""

import importlib.util
import json
import os
import pathlib

import pytest

import quarvel
from quarvel.exceptions import QuarvelSchemaError

jsonschema = pytest.importorskip("jsonschema")

NAMES = ["github-workflows", "compose-spec", "dependabot", "readthedocs"]


def schema_folder():
    if os.environ.get("QUARVEL_PUBLISHED_SCHEMAS"):
        return pathlib.Path(os.environ["QUARVEL_PUBLISHED_SCHEMAS"])
    found = importlib.util.find_spec("check_jsonschema")
    if found and found.origin:
        return pathlib.Path(found.origin).parent / "builtin_schemas" / "vendor"
    return None


FOLDER = schema_folder()
if not FOLDER or not all((FOLDER / f"{name}.json").is_file() for name in NAMES):
    pytest.skip("the published schemas are not here: set QUARVEL_PUBLISHED_SCHEMAS to the "
                "check-jsonschema wheel's builtin_schemas/vendor folder", allow_module_level=True)
SCHEMAS = {name: json.loads((FOLDER / f"{name}.json").read_text(encoding="utf-8"))
           for name in NAMES}

WORKFLOW = """\
name: CI
on:
  push:
    branches: [main]
  pull_request:
  schedule:
    - cron: '0 3 * * 1'
permissions:
  contents: read
env:
  PYTHONUNBUFFERED: '1'
concurrency:
  group: ci-${{ github.ref }}
  cancel-in-progress: true
jobs:
  test:
    runs-on: ${{ matrix.os }}
    timeout-minutes: 30
    strategy:
      fail-fast: false
      matrix:
        os: [ubuntu-latest, macos-latest]
        python: ['3.11', '3.12']
    steps:
      - uses: actions/checkout@v4
      - uses: actions/setup-python@v5
        with:
          python-version: ${{ matrix.python }}
      - name: Test
        run: python -m pytest -q
        env:
          CI: 'true'
  publish:
    needs: [test]
    if: github.event_name == 'push'
    runs-on: ubuntu-latest
    steps:
      - run: echo done
        shell: bash
"""

COMPOSE = """\
services:
  web:
    image: nginx:1.27
    ports: ['8080:80', {target: 443, published: 8443}]
    depends_on:
      db:
        condition: service_healthy
    environment:
      MODE: production
    deploy:
      replicas: 2
      resources:
        limits: {cpus: '0.5', memory: 256M}
  db:
    image: postgres:16
    healthcheck:
      test: [CMD, pg_isready]
      interval: 10s
      retries: 5
    volumes: [data:/var/lib/postgresql/data]
volumes:
  data: {}
networks:
  default:
    driver: bridge
"""

DEPENDABOT = """\
version: 2
updates:
  - package-ecosystem: pip
    directory: /
    schedule:
      interval: weekly
      day: monday
    open-pull-requests-limit: 5
    labels: [dependencies]
    ignore:
      - dependency-name: numpy
        versions: ['>=2']
  - package-ecosystem: github-actions
    directory: /
    schedule:
      interval: monthly
"""

READTHEDOCS = """\
version: 2
build:
  os: ubuntu-22.04
  tools:
    python: '3.12'
sphinx:
  configuration: docs/conf.py
formats: [pdf]
python:
  install:
    - requirements: docs/requirements.txt
    - method: pip
      path: .
"""

BASES = {"github-workflows": WORKFLOW, "compose-spec": COMPOSE, "dependabot": DEPENDABOT,
         "readthedocs": READTHEDOCS}

# Faults put into the base texts: (old, new) replaced once.
EDITS = {
    "github-workflows": [
        ("", ""), ("timeout-minutes: 30", "timeout-minutes: thirty"),
        ("runs-on: ubuntu-latest", "runs-on: 5"), ("fail-fast: false", "fail-fast: sometimes"),
        ("      - uses: actions/checkout@v4\n", "      - with: {a: 1}\n"),
        ("cancel-in-progress: true", "cancel-in-progress: []"), ("contents: read", "contents: all"),
        ("needs: [test]", "needs: []"), ("    - cron: '0 3 * * 1'\n", "    - when: daily\n"),
        ("  publish:", "  2publish:"), ("        shell: bash", "        shell: bash\n        colour: red"),
        ("jobs:", "jobz:"), ("  pull_request:\n", "  pull_request:\n  pushed:\n"),
        ("permissions:\n  contents: read", "permissions: write-all"),
        ("permissions:\n  contents: read", "permissions: everything"),
    ],
    "compose-spec": [
        ("", ""), ("replicas: 2", "replicas: two"), ("interval: 10s", "interval: [10s]"),
        ("condition: service_healthy", "condition: service_ready"), ("image: postgres:16", "imagee: x"),
        ("data: {}", "data: 5"), ("driver: bridge", "driver: [bridge]"),
        ("{target: 443, published: 8443}", "{target: '443x'}"), ("  db:\n", "  'bad name!':\n"),
        ("MODE: production", "MODE: {nested: 1}"), ("retries: 5", "retries: -1.5"),
    ],
    "dependabot": [
        ("", ""), ("version: 2", "version: 1"), ("interval: weekly", "interval: hourly"),
        ("package-ecosystem: pip", "package-ecosystem: pipx"), ("open-pull-requests-limit: 5",
                                                                "open-pull-requests-limit: -1"),
        ("labels: [dependencies]", "labels: [dependencies, dependencies]"),
        ("    directory: /\n    schedule:\n      interval: monthly\n", "    schedule: {}\n"),
        ("day: monday", "day: someday"), ("      - dependency-name: numpy\n        versions: ['>=2']\n", "      - versions: []\n"),
    ],
    "readthedocs": [
        ("", ""), ("version: 2", "version: 3"), ("os: ubuntu-22.04", "os: windows"),
        ("formats: [pdf]", "formats: [pdf, pdf]"), ("formats: [pdf]", "formats: all"),
        ("method: pip", "method: conda"), ("configuration: docs/conf.py", "builder: html\n  extra: 1"),
        ("    - requirements: docs/requirements.txt\n", "    - {}\n"),
    ],
}

# Where jsonschema reports a keyword's failure at the object or array,
# quarvel reports it at the property or item concerned: compared at the
# object or array. The message names the property (whose key may hold dots).
AT_OBJECT = ("/additionalProperties", "/unevaluatedProperties", "/propertyNames")
AT_ARRAY = ("/additionalItems", "/unevaluatedItems")


def compared_path(v):
    if v.schema_path.endswith(AT_OBJECT):
        key = v.message.split("'")[1]
        return v.path[: -len(key) - 1]
    if v.schema_path.endswith(AT_ARRAY):
        return v.path.rsplit("[", 1)[0]
    return v.path


def path_text(parts):
    out = "$"
    for p in parts:
        out += f"[{p}]" if isinstance(p, int) else f".{p}"
    return out


def expected_paths(name, data):
    validator = jsonschema.validators.validator_for(SCHEMAS[name])(SCHEMAS[name])
    return {path_text(e.absolute_path) for e in validator.iter_errors(data)}


def quarvel_paths(name, text):
    try:
        quarvel.loads(text, schema=SCHEMAS[name])
    except QuarvelSchemaError as e:
        assert e.errors, str(e)
        return {compared_path(v) for v in e.errors}
    return set()


CASES = [(name, old, new) for name, edits in EDITS.items() for old, new in edits]


@pytest.mark.parametrize("name, old, new", CASES)
def test_same_failing_paths_as_jsonschema(name, old, new):
    text = BASES[name].replace(old, new, 1)
    assert text != BASES[name] or not old
    assert quarvel_paths(name, text) == expected_paths(name, quarvel.loads(text))


def test_base_documents_are_valid_and_most_edits_make_faults():
    # Some edits stay valid (the schemas allow expressions and strings in
    # many places); the comparison needs failures above all.
    assert all(quarvel_paths(name, text) == set() for name, text in BASES.items())
    edits = [(name, old, new) for name, old, new in CASES if old]
    faulty = [e for e in edits if quarvel_paths(e[0], BASES[e[0]].replace(e[1], e[2], 1))]
    assert len(faulty) >= len(edits) * 3 // 4


CORPUS = os.environ.get("QUARVEL_YAML_CORPUS")


@pytest.mark.skipif(not CORPUS, reason="QUARVEL_YAML_CORPUS is not set")
@pytest.mark.parametrize("name", list(SCHEMAS))
def test_corpus_against_each_schema(name):
    compared = 0
    for path in sorted(pathlib.Path(CORPUS).rglob("*.y*ml")):
        text = path.read_text(encoding="utf-8", errors="replace")
        try:
            data = quarvel.loads(text)
            json.dumps(data)  # JSON data only: jsonschema sees what quarvel sees
        except (quarvel.QuarvelError, TypeError, ValueError):
            continue
        if data is None:
            continue  # no document: nothing is validated
        assert quarvel_paths(name, text) == expected_paths(name, data), path
        compared += 1
    assert compared > 0
