"""Code as a user writes it, touching every public name of quarvel.

Type-checked with `mypy --strict` against the installed package by
`.ci/typing`, and run by tests/ffi/test_package.py: `assert_type` states what
the checker must infer, and the runtime assertions that the inferred types
are what the calls really return. Not a test module (pytest collects only
test_*.py); it works in the folder it is given, which should be empty.
"""

from __future__ import annotations

import dataclasses
import os
import sys
from collections.abc import Callable
from pathlib import Path
from typing import Any, NoReturn, assert_type

import quarvel
from quarvel import (
    OPT_ANNOTATE_NUMBERS,
    OPT_ANNOTATED,
    OPT_DUPLICATE_KEYS_ERROR,
    OPT_ENV_VAR,
    OPT_INCLUDES,
    OPT_PASSTHROUGH_TAG,
    OPT_REJECT_COMPLEX_KEYS,
    OPT_ROUND_TRIP,
    OPT_SECRETS,
    OPT_SORT_KEYS,
    QuarvelAnnotatedDict,
    QuarvelAnnotatedFloat,
    QuarvelAnnotatedInt,
    QuarvelAnnotatedList,
    QuarvelAnnotatedStr,
    QuarvelDocument,
    QuarvelDocumentView,
    QuarvelNode,
    QuarvelTag,
    SchemaViolation,
    Tags,
)


@dataclasses.dataclass
class Point:
    x: int
    y: int


def point_tag(p: Point) -> QuarvelTag:
    return QuarvelTag("!point", [p.x, p.y])


def make_point(value: Any) -> Point:
    return Point(*value)


def reading() -> None:
    conf = quarvel.loads("name: demo\nports: [80, 443]\n")
    ports: list[int] = conf["ports"]
    assert ports == [80, 443]
    docs: list[Any] = quarvel.loads_all(b"a: 1\n---\nb: 2\n")
    assert docs == [{"a": 1}, {"b": 2}]
    assert_type(quarvel.yaml_version("%YAML 1.1\n---\na: 1\n"), str | None)
    assert quarvel.schema_ref(bytearray(b"# yaml-language-server: $schema=s.json\n")) == "s.json"

    tags: dict[str, Callable[[Any], Any]] = {"!point": make_point}
    assert quarvel.loads("p: !point [1, 2]\n", tags=tags) == {"p": Point(1, 2)}
    assert quarvel.loads("p: !point [1, 2]\n", tags=Tags(tags)) == {"p": Point(1, 2)}
    seen: list[str] = []

    def handler(tag: str, value: Any) -> Any:
        seen.append(tag)
        return value

    assert quarvel.loads("v: !unknown 3\n", tag_handler=handler) == {"v": "3"} and seen == ["!unknown"]
    tagged = quarvel.loads("p: !point [1, 2]\n", option=OPT_PASSTHROUGH_TAG)["p"]
    assert isinstance(tagged, QuarvelTag)
    assert_type(tagged.tag, str)
    assert tagged.tag == "!point" and tagged.value == [1, 2]


def annotated() -> None:
    text = "server:\n  host: example.org\n  port: 8080\n  ratio: 0.5\n  hosts: [a]\n"
    conf = quarvel.loads(text, option=OPT_ANNOTATED | OPT_ANNOTATE_NUMBERS, root_path="conf.yaml")
    assert isinstance(conf, QuarvelAnnotatedDict)
    server = conf["server"]
    assert isinstance(server, QuarvelAnnotatedDict)
    where: tuple[str | None, int, int] = (server.__file__, server.__line__, server.__column__)
    assert where == ("conf.yaml", 2, 3)
    span = (server.__end_line__, server.__end_column__, server.__offset__, server.__end_offset__)
    assert all(isinstance(n, int) for n in span)
    assert server.__source_tag__ is None and server.__source_target__ is None
    assert not (server.is_secret or server.is_env_var or server.is_include)
    hosts = server["hosts"]
    assert isinstance(hosts, QuarvelAnnotatedList) and hosts.__line__ == 5

    host, port, ratio = server["host"], server["port"], server["ratio"]
    assert isinstance(host, QuarvelAnnotatedStr)
    assert isinstance(port, QuarvelAnnotatedInt)
    assert isinstance(ratio, QuarvelAnnotatedFloat)
    assert_type(host.style, str)
    assert host.style == "plain" and host.upper() == "EXAMPLE.ORG"
    assert port + 1 == 8081 and port.__line__ == 3 and ratio.__column__ == 10
    scalar_file: str | None = host.__file__
    assert scalar_file == "conf.yaml" and host.__source_tag__ is None
    assert not (host.is_secret or host.is_env_var or host.is_include)
    made = QuarvelAnnotatedStr("x", 1, 1, None, 1, 2, "plain", None, None, 0, 1)
    assert made == "x" and made.__end_column__ == 2


def writing() -> None:
    data = {"name": "demo", "at": Point(1, 2), "n": [1, 2]}
    text: bytes = quarvel.dumps(data, option=OPT_SORT_KEYS, tags={Point: point_tag}, width=80)
    assert text.startswith(b"at: !point")
    by_pair = Tags({Point: lambda p: ("!p", [p.x, p.y])})
    assert quarvel.dumps(Point(1, 2), tags=by_pair, null_style="null") == b"!p\n  - 1\n  - 2\n"
    assert quarvel.dumps({1, 2} - {1, 2}, default=list) == b"[]\n"
    json: bytes = quarvel.to_json({"a": None}, default=str, option=quarvel.OPT_INDENT_2)
    assert json == b'{\n  "a": null\n}'


def round_trip(folder: Path) -> None:
    path = folder / "app.yaml"
    path.write_text("# app\nname: demo  # the name\nbase: &b {port: 80}\nuse: *b\nlist: [1, 2]\n")
    doc = quarvel.load(path, option=OPT_ROUND_TRIP)
    assert_type(doc, QuarvelDocument)
    assert doc.origin == str(path) and "name" in doc and len(doc) == 4
    doc["name"] = "production"
    name: QuarvelNode = doc.node["name"]
    assert name.comment == "the name" and name.style == "plain"
    name.comment = "renamed"
    name.comment_before = "the service"
    assert name.comment_before == "the service"
    position: tuple[int, int, int, int] = (name.line, name.column, name.offset, name.end_offset)
    assert position[:2] == (2, 7)
    assert name.file is None and name.tag is None and not name.is_alias
    assert name.source_tag is None and name.source_target is None
    assert not (name.is_secret or name.is_env_var or name.is_include)
    base = doc.node["base"]
    assert base.anchor == "b" and [a.line for a in base.aliases] == [4] and "port" in base
    assert doc.anchors["b"].anchor == "b"
    use = doc.node["use"]
    assert use.is_alias and use.target is not None and use.target.anchor == "b"
    copy: QuarvelNode = use.detach()
    copy.make_alias("b")
    base.rename_anchor("base")
    base.value = {"port": 81}
    doc.node["list"].anchor = "numbers"
    view = doc["list"]
    assert isinstance(view, QuarvelDocumentView)
    view.append(3)
    view.extend([4, 5])
    view.insert(0, 0)
    assert view.pop() == 5 and view.unwrap() == [0, 1, 2, 3, 4]
    assert view.range()[0] == 5 and view.node[0].value == 0
    del view[0]
    assert view.to_dict() == [1, 2, 3, 4] and view.to_yaml().startswith(b"&numbers [")
    assert doc.get("missing", 7) == 7 and doc.keys() == ["name", "base", "use", "list"]
    leaves = dict(doc.walk())
    assert leaves[("name",)] == "production" and leaves[("list", 0)] == 1
    assert doc.range() is not None and doc.to_dict()["base"] == {"port": 81}
    doc.insert(1, "added", True)
    assert doc.pop("added") is True
    del doc["use"]
    written: list[str] = doc.save()
    assert written == [str(path)]
    doc.set_origin(str(path))
    assert doc.save(str(folder / "copy.yaml")) == [str(folder / "copy.yaml")]
    again = quarvel.loads(doc.to_yaml(), option=OPT_ROUND_TRIP)
    assert_type(again, QuarvelDocument)
    assert again["name"] == "production"
    # OPT_ROUND_TRIP combined with other flags still gives a document; the
    # checker cannot tell, so the caller says which type it expects.
    combined: QuarvelDocument = quarvel.loads("a: 1\n", option=OPT_ROUND_TRIP | OPT_SORT_KEYS)
    assert isinstance(combined, QuarvelDocument)


def files_and_includes(folder: Path) -> None:
    (folder / "main.yaml").write_text("a: 1\nb: !include part.yaml\n")
    (folder / "part.yaml").write_text("c: 2\n")
    assert quarvel.load(folder / "main.yaml", option=OPT_INCLUDES) == {"a": 1, "b": {"c": 2}}
    assert quarvel.load_all(str(folder / "part.yaml")) == [{"c": 2}]
    doc = quarvel.load(folder / "main.yaml", option=OPT_ROUND_TRIP | OPT_INCLUDES)
    assert isinstance(doc, QuarvelDocument)
    doc["b"]["c"] = 3
    texts: dict[str, bytes] = quarvel.dump_includes_map(doc)
    assert texts == {str(folder / "part.yaml"): b"c: 3\n"}
    quarvel.dump_includes(doc, include_dir=folder)
    assert (folder / "part.yaml").read_text() == "c: 3\n"
    quarvel.dump({"written": True}, folder / "out.yaml", option=quarvel.OPT_EXPLICIT_START)
    assert quarvel.load(folder / "out.yaml") == {"written": True}


def errors(folder: Path) -> None:
    try:
        quarvel.loads("a: [1\n")
    except quarvel.QuarvelParseError as e:
        assert_type(e.line, int | None)
        position: tuple[str | None, int | None, int | None] = (e.file, e.line, e.column)
        assert position == (None, 2, 1)
    else:
        fail()
    for text, option, cls in [
        ("a: 1\na: 2\n", OPT_DUPLICATE_KEYS_ERROR, quarvel.QuarvelDuplicateKeyError),
        ("? [a]\n: 1\n", OPT_REJECT_COMPLEX_KEYS, quarvel.QuarvelComplexKeyError),
        ("!k a: 1\n", 0, quarvel.QuarvelDecodeError),
    ]:
        try:
            quarvel.loads(text, option=option, tag_handler=lambda tag, value: [value])
        except quarvel.QuarvelError as e:
            assert type(e) is cls
        else:
            fail()
    for obj, error in [(b"\xff", quarvel.QuarvelEncodeError), (object(), quarvel.QuarvelUnserializableError)]:
        try:
            quarvel.dumps(obj)
        except quarvel.QuarvelEncodeError as e:
            assert type(e) is error
        else:
            fail()

    schema = {"type": "object", "required": ["name"]}
    try:
        quarvel.loads("age: 3\n", schema=schema)
    except quarvel.QuarvelSchemaError as e:
        assert_type(e.schema_path, str)
        violations: list[SchemaViolation] = e.errors
        first = violations[0]
        assert_type(first.message, str)
        located: tuple[str, int, int] = (first.path, first.line, first.column)
        assert e.schema_path == "$" and located == ("$", 1, 1) and (e.line, e.column) == (1, 1)
        assert_type(first.schema_path, str)
        assert first.schema_path == "#/required"
    else:
        fail()
    dates = {"properties": {"day": {"type": "string", "format": "date"}}}
    assert quarvel.loads("day: '2026-13-01'\n", schema=dates) == {"day": "2026-13-01"}
    try:
        quarvel.loads("day: '2026-13-01'\n", schema=dates, option=quarvel.OPT_SCHEMA_FORMAT)
    except quarvel.QuarvelSchemaError as e:
        assert e.errors[0].schema_path == "#/properties/day/format"
    else:
        fail()

    (folder / "main.yaml").write_text("a: 1\nb: !include missing.yaml\n")
    try:
        quarvel.load(folder / "main.yaml", option=OPT_INCLUDES)
    except quarvel.QuarvelIncludeNotFoundError as e:
        stack: list[tuple[str, int]] = e.include_stack
        assert stack == [(str(folder / "main.yaml"), 2)] and e.file == str(folder / "missing.yaml")
    else:
        fail()
    for i in range(60):
        (folder / f"deep{i}.yaml").write_text(f"x: !include deep{i + 1}.yaml\n")
    include_errors: list[tuple[str, type[quarvel.QuarvelIncludeError]]] = [
        ("x: !include self.yaml\n", quarvel.QuarvelCircularIncludeError),
        ("x: !include ../outside.yaml\n", quarvel.QuarvelIncludeConfinementError),
        ("x: !include deep0.yaml\n", quarvel.QuarvelIncludeDepthError),
        ("x: !include [a]\n", quarvel.exceptions.QuarvelIncludeError),
    ]
    for text, include_cls in include_errors:
        (folder / "self.yaml").write_text(text)
        try:
            quarvel.load(folder / "self.yaml", option=OPT_INCLUDES)
        except quarvel.QuarvelIncludeError as e:
            assert type(e) is include_cls and isinstance(e.include_stack, list)
        else:
            fail()

    os.environ.pop("QUARVEL_USER_SCRIPT_UNSET", None)
    for text, option, directive_cls in [
        ("s: !secret nope\n", OPT_SECRETS, quarvel.QuarvelSecretNotFoundError),
        ("e: !env_var QUARVEL_USER_SCRIPT_UNSET\n", OPT_ENV_VAR, quarvel.QuarvelEnvVarError),
    ]:
        try:
            quarvel.loads(text, option=option, include_dir=folder, root_path=folder / "r.yaml")
        except quarvel.QuarvelError as e:
            assert type(e) is directive_cls and e.line == 1
        else:
            fail()


def fail() -> NoReturn:
    raise AssertionError("the call raised nothing")


def main(folder: Path) -> None:
    reading()
    annotated()
    writing()
    round_trip(folder)
    files_and_includes(folder)
    errors(folder)


if __name__ == "__main__":
    main(Path(sys.argv[1]))
