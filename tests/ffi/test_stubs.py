"""The type stubs of the extension describe it, and every public name is documented.

Editors show the docstrings of `python/_quarvel-stubs/__init__.pyi` (the
extension's own functions carry only their signature line), so the stub must
name what the module defines, document each of it, and give the parameters
the runtime accepts.
"""

import ast
import inspect
import sys
from pathlib import Path

import pytest

import _quarvel
import quarvel

PYTHON_SOURCES = Path(__file__).resolve().parents[2] / "python"
STUB = PYTHON_SOURCES / "_quarvel-stubs" / "__init__.pyi"
NO_STUB = f"no type stubs at {STUB}"


def _parse_stub():
    if not STUB.is_file():
        return None
    return ast.parse(STUB.read_text(encoding="utf-8"), filename=str(STUB))


TREE = _parse_stub()
needs_stub = pytest.mark.skipif(TREE is None, reason=NO_STUB)


def _is_private(name):
    """A single-underscore name; dunders such as `__line__` are public."""
    return name.startswith("_") and not (name.startswith("__") and name.endswith("__"))


def _decorator_names(fn):
    names = []
    for d in fn.decorator_list:
        if isinstance(d, ast.Name):
            names.append(d.id)
        elif isinstance(d, ast.Attribute):
            names.append(d.attr)
    return names


def _is_accessor(fn):
    """The setter or deleter half of a property: documented by its getter."""
    return any(n in ("setter", "deleter") for n in _decorator_names(fn))


def _is_property(fn):
    return "property" in _decorator_names(fn)


class Stub:
    """What the stub defines: top-level functions, classes and variables."""

    def __init__(self, tree):
        self.functions = {}  # the last definition: for overloads, the general one
        self.overloads = {}  # every @overload variant, by name
        self.classes = {}
        self.variables = set()
        for node in tree.body if tree else []:
            if isinstance(node, ast.FunctionDef):
                self.functions[node.name] = node
                if "overload" in _decorator_names(node):
                    self.overloads.setdefault(node.name, []).append(node)
            elif isinstance(node, ast.ClassDef):
                self.classes[node.name] = node
            elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
                self.variables.add(node.target.id)
            elif isinstance(node, ast.Assign):
                self.variables.update(t.id for t in node.targets if isinstance(t, ast.Name))

    def top_level_names(self):
        return set(self.functions) | set(self.classes) | self.variables

    def own_members(self, cls_name):
        """The getters and methods a class body defines, by name."""
        members = {}
        cls = self.classes.get(cls_name)
        for node in cls.body if cls else []:
            if isinstance(node, ast.FunctionDef) and not _is_accessor(node):
                members.setdefault(node.name, node)
        return members

    def stub_bases(self, cls_name):
        """The bases of a stub class that the stub itself defines."""
        cls = self.classes.get(cls_name)
        bases = cls.bases if cls else []
        return [b.id for b in bases if isinstance(b, ast.Name) and b.id in self.classes]

    def foreign_bases(self, cls_name):
        """Bases from outside the stub, such as `dict[Any, Any]`."""
        return [b for b in self.classes[cls_name].bases
                if not (isinstance(b, ast.Name) and b.id in self.classes)]

    def lineage(self, cls_name):
        """The class and its stub bases, nearest first."""
        order = []
        pending = [cls_name]
        while pending:
            name = pending.pop(0)
            if name not in order:
                order.append(name)
                pending.extend(self.stub_bases(name))
        return order

    def member(self, cls_name, name):
        for owner in self.lineage(cls_name):
            found = self.own_members(owner).get(name)
            if found is not None:
                return found
        return None

    def members(self, cls_name):
        merged = {}
        for owner in reversed(self.lineage(cls_name)):
            merged.update(self.own_members(owner))
        return merged


STUBS = Stub(TREE)

RUNTIME_CLASSES = [n for n in _quarvel.__all__ if isinstance(getattr(_quarvel, n), type)]
RUNTIME_FUNCTIONS = [n for n in _quarvel.__all__ if inspect.isbuiltin(getattr(_quarvel, n))]


def _stub_params(params, arity=1):
    """Parametrization over stub-derived values, skipped when there is no stub."""
    if TREE is None:
        return [pytest.param(*[None] * arity, marks=pytest.mark.skip(reason=NO_STUB))]
    return params


# ---- the same names on both sides ----------------------------------------------


@needs_stub
@pytest.mark.parametrize("name", _quarvel.__all__)
def test_runtime_name_is_declared_in_the_stub_as_the_same_kind(name):
    value = getattr(_quarvel, name)
    if isinstance(value, type):
        assert name in STUBS.classes, f"{name} is a class at run time but not in the stub"
    elif callable(value):
        assert name in STUBS.functions, f"{name} is a function at run time but not in the stub"
    else:
        assert name in STUBS.variables, f"{name} is a constant at run time but not in the stub"


@pytest.mark.parametrize(
    "name", _stub_params(sorted(n for n in STUBS.top_level_names() if not n.startswith("_"))))
def test_public_stub_name_exists_at_run_time(name):
    assert hasattr(_quarvel, name), f"the stub declares {name}, which _quarvel does not define"


def _runtime_attributes(cls):
    """Public methods and properties of a runtime class, plus its data
    descriptors such as `__line__` (but not `__dict__`/`__weakref__`)."""
    names = []
    for name, value in vars(cls).items():
        if name in ("__dict__", "__weakref__", "__doc__", "__module__"):
            continue
        descriptor = inspect.isdatadescriptor(value) or inspect.ismemberdescriptor(value)
        if descriptor or (not name.startswith("_") and callable(value)):
            names.append(name)
    return names


@needs_stub
@pytest.mark.parametrize(
    "cls_name, attr",
    [(c, a) for c in RUNTIME_CLASSES for a in _runtime_attributes(getattr(_quarvel, c))])
def test_runtime_attribute_is_declared_in_the_stub(cls_name, attr):
    assert STUBS.member(cls_name, attr) is not None, (
        f"{cls_name}.{attr} exists at run time but the stub does not declare it")


@pytest.mark.parametrize(
    "cls_name, attr",
    _stub_params([(c, a) for c in RUNTIME_CLASSES if c in STUBS.classes
                  for a in sorted(STUBS.members(c))], arity=2))
def test_stub_attribute_exists_at_run_time(cls_name, attr):
    assert hasattr(getattr(_quarvel, cls_name), attr), (
        f"the stub declares {cls_name}.{attr}, which does not exist at run time")


def _stub_assignment(name):
    for node in TREE.body:
        if isinstance(node, ast.Assign) and any(getattr(t, "id", None) == name for t in node.targets):
            return node.value
    return None


@needs_stub
def test_stub_lists_the_runtime_all_literally():
    # Type checkers read what `from _quarvel import *` gives from a literal
    # list only; quarvel re-exports the extension that way.
    value = _stub_assignment("__all__")
    assert isinstance(value, ast.List), "__all__ is not a literal list in the stub"
    assert ast.literal_eval(value) == list(_quarvel.__all__)


@needs_stub
def test_flags_are_declared_final_with_their_runtime_values():
    # `OPT_ROUND_TRIP: Final = 16` is what lets `loads` pick its overload;
    # a flag whose declared value drifted would pick it wrongly.
    declared = {}
    for node in TREE.body:
        if isinstance(node, ast.AnnAssign) and node.target.id.startswith("OPT_"):
            assert isinstance(node.annotation, ast.Name) and node.annotation.id == "Final", node.target.id
            declared[node.target.id] = ast.literal_eval(node.value)
    assert declared == {n: getattr(_quarvel, n) for n in _quarvel.__all__ if n.startswith("OPT_")}


def _package_overloads(name):
    """The @overload variants of a function of the Python package, which
    declares them under `if TYPE_CHECKING:`."""
    tree = ast.parse((PYTHON_SOURCES / "quarvel" / "_files.py").read_text(encoding="utf-8"))
    return [node for node in ast.walk(tree) if isinstance(node, ast.FunctionDef)
            and node.name == name and "overload" in _decorator_names(node)]


def _option_annotation(fn):
    (option,) = [a for a in fn.args.kwonlyargs if a.arg == "option"]
    return option.annotation


def _round_trip_overload_sets():
    if TREE is None:
        return _stub_params([])
    return [pytest.param(STUBS.overloads.get("loads", []), id="_quarvel.loads"),
            pytest.param(_package_overloads("load"), id="quarvel.load")]


@pytest.mark.parametrize("overloads", _round_trip_overload_sets())
def test_round_trip_overload_names_the_flag_value_and_returns_a_document(overloads):
    assert len(overloads) == 2
    special, general = overloads
    literal = _option_annotation(special)
    assert ast.unparse(literal.value) == "Literal"
    assert ast.literal_eval(literal.slice) == _quarvel.OPT_ROUND_TRIP
    assert ast.unparse(special.returns) == "QuarvelDocument"
    assert ast.unparse(_option_annotation(general)) == "int | None"
    # The variants differ in the option's type and default only.
    names = [[(p, kind) for p, kind, _ in _stub_shape(fn, drop_receiver=False)] for fn in overloads]
    assert names[0] == names[1]


@pytest.mark.parametrize("text", ["", "a: 1\n", "- x\n", "--- 1\n--- 2\n", "# only a comment\n"])
@pytest.mark.parametrize("read", ["loads", "load"])
def test_round_trip_flag_alone_always_gives_a_document(tmp_path, text, read):
    # What the overload promises, whatever the text holds.
    if read == "load":
        path = tmp_path / "d.yaml"
        path.write_text(text)
        result = quarvel.load(path, option=quarvel.OPT_ROUND_TRIP)
    else:
        result = quarvel.loads(text, option=quarvel.OPT_ROUND_TRIP)
    assert type(result) is _quarvel.QuarvelDocument


# ---- docstrings in the stub -----------------------------------------------------


def _documented_stub_objects():
    """Qualified names of the stub's functions, classes, methods and properties
    that need a docstring: everything public, and every class (the typing-only
    helpers document what they stand for)."""
    out = [n for n in STUBS.functions if not _is_private(n)]
    for cls_name in STUBS.classes:
        out.append(cls_name)
        out.extend(f"{cls_name}.{m}" for m in STUBS.own_members(cls_name) if not _is_private(m))
    return out


def _stub_node(qualname):
    cls_name, _, member = qualname.partition(".")
    if member:
        return STUBS.own_members(cls_name)[member]
    return STUBS.classes.get(cls_name) or STUBS.functions[cls_name]


@pytest.mark.parametrize("qualname", _stub_params(_documented_stub_objects()))
def test_stub_object_has_a_docstring(qualname):
    doc = ast.get_docstring(_stub_node(qualname))
    assert doc and doc.strip(), f"{qualname} has no docstring in {STUB.name}"


@needs_stub
def test_every_overload_variant_has_a_docstring():
    # Editors show the docstring of the variant a call matches.
    assert STUBS.overloads
    for name, variants in STUBS.overloads.items():
        for fn in variants:
            assert ast.get_docstring(fn), f"an overload of {name} has no docstring"


@needs_stub
def test_property_setters_belong_to_a_documented_getter():
    # A setter without its getter would be an undocumented write-only name.
    for cls_name, cls in STUBS.classes.items():
        for node in cls.body:
            if isinstance(node, ast.FunctionDef) and _is_accessor(node):
                getter = STUBS.own_members(cls_name).get(node.name)
                assert getter is not None and _is_property(getter), f"{cls_name}.{node.name}"


# ---- parameters agree with the runtime's text signatures -------------------------


def _runtime_shape(sig, drop_receiver):
    params = list(sig.parameters.values())
    if drop_receiver:
        assert params and params[0].name == "self", f"runtime signature {sig} has no self"
        params = params[1:]
    return [(p.name, p.kind, p.default is not inspect.Parameter.empty) for p in params]


def _stub_shape(fn, drop_receiver):
    a = fn.args
    kind = inspect.Parameter
    positional = [(p.arg, kind.POSITIONAL_ONLY) for p in a.posonlyargs]
    positional += [(p.arg, kind.POSITIONAL_OR_KEYWORD) for p in a.args]
    first_default = len(positional) - len(a.defaults)
    shape = [(name, k, i >= first_default) for i, (name, k) in enumerate(positional)]
    if a.vararg:
        shape.append((a.vararg.arg, kind.VAR_POSITIONAL, False))
    shape += [(p.arg, kind.KEYWORD_ONLY, d is not None) for p, d in zip(a.kwonlyargs, a.kw_defaults)]
    if a.kwarg:
        shape.append((a.kwarg.arg, kind.VAR_KEYWORD, False))
    if drop_receiver:
        assert shape and shape[0][0] in ("self", "cls"), f"stub {fn.name} has no receiver"
        shape = shape[1:]
    return shape


def _is_catch_all(sig):
    kinds = {p.kind for p in sig.parameters.values()}
    return kinds == {inspect.Parameter.VAR_POSITIONAL, inspect.Parameter.VAR_KEYWORD}


# Text signatures in the extension that do not say what the function accepts;
# the stub follows the behaviour (see test_stub_follows_behaviour_where_the_text_signature_errs).
# strict: when the extension is corrected, the entry must go.
_TEXT_SIGNATURE_FAULTS = {
    "QuarvelDocument.get": "takes key and an optional default, positional only",
    "QuarvelDocumentView.get": "takes key and an optional default, positional only",
    "QuarvelNode.make_alias": "takes name positionally only",
    "QuarvelAnnotatedDict.__setstate__": "takes state positionally only",
    "QuarvelAnnotatedList.__setstate__": "takes state positionally only",
}


def _written_signature(obj):
    """The text signature the extension wrote for `obj`; None where there is
    none. From 3.13 on, CPython makes one up for one-argument methods that
    have none, naming the argument "object"; that one says nothing."""
    sig = getattr(obj, "__text_signature__", None)
    if sig == "($self, object, /)" and sys.version_info >= (3, 13):
        return None
    return sig


def _signature_cases():
    """(qualname, runtime object, stub def name, is a method) for every runtime
    object with a text signature that the stub declares."""
    cases = [(n, getattr(_quarvel, n), n, False)
             for n in RUNTIME_FUNCTIONS if getattr(_quarvel, n).__text_signature__]
    for cls_name in RUNTIME_CLASSES:
        cls = getattr(_quarvel, cls_name)
        if cls.__text_signature__ and not _is_catch_all(inspect.signature(cls)):
            ctor = "__init__" if STUBS.member(cls_name, "__init__") else "__new__"
            cases.append((cls_name, cls, f"{cls_name}.{ctor}", True))
        for name, value in vars(cls).items():
            if name == "__new__" or not _written_signature(value):
                continue
            if _is_private(name) or (name.startswith("__") and not STUBS.member(cls_name, name)):
                continue  # protocol methods the stub leaves to `object`
            cases.append((f"{cls_name}.{name}", value, f"{cls_name}.{name}", True))
    if TREE is None:
        return _stub_params([], arity=3)
    params = []
    for qualname, obj, stub_name, method in cases:
        marks = ()
        if qualname in _TEXT_SIGNATURE_FAULTS:
            marks = pytest.mark.xfail(strict=True, reason=_TEXT_SIGNATURE_FAULTS[qualname])
        params.append(pytest.param(obj, stub_name, method, id=qualname, marks=marks))
    return params


def _stub_def(stub_name):
    cls_name, _, member = stub_name.partition(".")
    if not member:
        return STUBS.functions.get(cls_name)
    return STUBS.member(cls_name, member) if cls_name in STUBS.classes else None


@pytest.mark.parametrize("runtime, stub_name, method", _signature_cases())
def test_stub_parameters_match_the_text_signature(runtime, stub_name, method):
    fn = _stub_def(stub_name)
    assert fn is not None, f"the stub does not declare {stub_name}"
    # A class's own signature has no receiver; its stub __init__ has self.
    receiver = method and not isinstance(runtime, type)
    expected = _runtime_shape(inspect.signature(runtime), drop_receiver=receiver)
    assert _stub_shape(fn, drop_receiver=method) == expected


@needs_stub
@pytest.mark.parametrize("cls_name", ["QuarvelAnnotatedDict", "QuarvelAnnotatedList"])
def test_catch_all_constructor_stays_the_builtin_one_in_the_stub(cls_name):
    # The runtime advertises (*_args, **_kwargs); the stub keeps the typed
    # constructor of dict/list, which the class accepts.
    cls = getattr(_quarvel, cls_name)
    assert _is_catch_all(inspect.signature(cls))
    assert STUBS.member(cls_name, "__init__") is None and STUBS.member(cls_name, "__new__") is None
    assert STUBS.foreign_bases(cls_name), f"{cls_name} has no builtin base in the stub"
    base = cls.__mro__[1]
    assert cls([("a", 1)]) == base([("a", 1)])


def _keyword_calls():
    """Calls that pass by keyword what the stub declares positional-only."""
    doc = _quarvel.loads("a: &x 1\nb: 2\n", option=_quarvel.OPT_ROUND_TRIP)
    node = doc.node["b"]
    record = (1, 2, None, 3, 4, None, None, 5, 6)
    return {
        "QuarvelDocument.get": lambda: doc.get(key="a"),
        "QuarvelDocumentView.get": lambda: _quarvel.loads(
            "m: {a: 1}\n", option=_quarvel.OPT_ROUND_TRIP)["m"].get("a", default=None),
        "QuarvelDocument.set_origin": lambda: doc.set_origin(path="x.yaml"),
        "QuarvelNode.make_alias": lambda: node.make_alias(name="x"),
        "QuarvelAnnotatedDict.__setstate__":
            lambda: _quarvel.QuarvelAnnotatedDict().__setstate__(state=record),
        "QuarvelAnnotatedList.__setstate__":
            lambda: _quarvel.QuarvelAnnotatedList().__setstate__(state=record),
    }


@needs_stub
@pytest.mark.parametrize("qualname", sorted(_keyword_calls()))
def test_stub_follows_behaviour_where_the_text_signature_errs(qualname):
    cls_name, _, member = qualname.partition(".")
    fn = STUBS.member(cls_name, member)
    assert fn is not None
    shape = _stub_shape(fn, drop_receiver=True)
    assert all(kind == inspect.Parameter.POSITIONAL_ONLY for _, kind, _ in shape), shape
    with pytest.raises(TypeError, match="keyword"):
        _keyword_calls()[qualname]()


def test_get_default_is_optional_at_run_time():
    doc = _quarvel.loads("m: {a: 1}\n", option=_quarvel.OPT_ROUND_TRIP)
    assert doc.get("missing") is None and doc["m"].get("missing") is None
    assert doc.get("missing", 7) == 7 and doc["m"].get("a") == 1
    if TREE is not None:
        for cls_name in ("QuarvelDocument", "QuarvelDocumentView"):
            assert _stub_shape(STUBS.member(cls_name, "get"), drop_receiver=True)[-1] == (
                "default", inspect.Parameter.POSITIONAL_ONLY, True)


# ---- the Python package ------------------------------------------------------------


def _python_defined(name):
    value = getattr(quarvel, name)
    extension = any(value is v for v in vars(_quarvel).values())
    return not extension and (inspect.isfunction(value) or inspect.isclass(value))


PACKAGE_NAMES = [n for n in quarvel.__all__ if _python_defined(n)]


def test_package_names_include_the_file_helpers():
    assert {"load", "load_all", "dump", "Tags", "QuarvelAnnotatedStr"} <= set(PACKAGE_NAMES)


@pytest.mark.parametrize("name", PACKAGE_NAMES)
def test_python_defined_public_name_has_its_own_docstring(name):
    value = getattr(quarvel, name)
    doc = value.__dict__.get("__doc__") if inspect.isclass(value) else value.__doc__
    assert doc and doc.strip(), f"quarvel.{name} has no docstring of its own"


def _annotated_scalar_attributes():
    out = []
    for name in ("QuarvelAnnotatedStr", "QuarvelAnnotatedInt", "QuarvelAnnotatedFloat"):
        cls = getattr(quarvel, name)
        seen = set()
        for owner in cls.__mro__:
            if not owner.__module__.startswith("quarvel"):
                continue
            for attr, value in vars(owner).items():
                if attr in seen or _is_private(attr) or attr in ("__dict__", "__weakref__"):
                    continue
                if (isinstance(value, property) or inspect.ismemberdescriptor(value)
                        or inspect.isgetsetdescriptor(value)):
                    seen.add(attr)
                    out.append((name, attr))
    return out


ANNOTATED_ATTRIBUTES = _annotated_scalar_attributes()


def test_annotated_scalar_attributes_are_found():
    # The fields of the extension's str and float types are part of the list.
    assert ("QuarvelAnnotatedStr", "style") in ANNOTATED_ATTRIBUTES
    assert ("QuarvelAnnotatedFloat", "__file__") in ANNOTATED_ATTRIBUTES
    assert ("QuarvelAnnotatedInt", "__line__") in ANNOTATED_ATTRIBUTES


@pytest.mark.parametrize("cls_name, attr", ANNOTATED_ATTRIBUTES)
def test_annotated_scalar_attribute_has_a_docstring(cls_name, attr):
    # inspect.getdoc is what help() shows; it reads slot docstrings from a
    # __slots__ mapping.
    doc = inspect.getdoc(getattr(getattr(quarvel, cls_name), attr))
    assert doc and doc.strip(), f"quarvel.{cls_name}.{attr} has no docstring"
