"""QuarvelAnnotatedDict and QuarvelAnnotatedList: construction, the record,
its getters, pickling and copying, garbage collection."""

import copy
import gc
import pickle
import threading

import pytest

import quarvel

D = quarvel.QuarvelAnnotatedDict
L = quarvel.QuarvelAnnotatedList

GETTERS = ["__line__", "__column__", "__file__", "__end_line__", "__end_column__", "__offset__",
           "__end_offset__", "__source_tag__", "__source_target__", "is_secret", "is_env_var",
           "is_include"]
EMPTY = {"__line__": 0, "__column__": 0, "__file__": None, "__end_line__": 0, "__end_column__": 0,
         "__offset__": 0, "__end_offset__": 0, "__source_tag__": None, "__source_target__": None,
         "is_secret": False, "is_env_var": False, "is_include": False}
# (line, column, file, end line, end column, source tag, source target, offset, end offset)
STATE = (12, 3, "/config/packages/lights.yaml", 14, 1, "!include", "lights.yaml", 2**40, 2**64 - 1)


def record(obj):
    return {name: getattr(obj, name) for name in GETTERS}


def annotated(cls, content, state=STATE):
    obj = cls(content)
    obj.__setstate__(state)
    return obj


@pytest.mark.parametrize("cls, args, kwargs, expected", [
    (D, (), {}, {}),
    (D, ({"a": 1},), {}, {"a": 1}),
    (D, ([("a", 1), ("b", 2)],), {"c": 3}, {"a": 1, "b": 2, "c": 3}),
    (D, (), {"x": None}, {"x": None}),
    (L, (), {}, []),
    (L, ([1, [2]],), {}, [1, [2]]),
    (L, ("ab",), {}, ["a", "b"]),
])
def test_construction_fills_like_the_base_and_leaves_the_record_empty(cls, args, kwargs, expected):
    obj = cls(*args, **kwargs)
    assert obj == expected and type(obj) is cls
    assert isinstance(obj, dict if cls is D else list)
    assert record(obj) == EMPTY


@pytest.mark.parametrize("cls", [D, L])
def test_creation_alone_ignores_the_arguments(cls):
    obj = cls.__new__(cls, [("a", 1)], b=2)
    assert obj == (cls() if cls is L else {}) and record(obj) == EMPTY


@pytest.mark.parametrize("cls, bad", [(D, ([1, 2],)), (D, (1,)), (L, (1,)), (D, ({}, {}))])
def test_construction_rejects_what_the_base_rejects(cls, bad):
    with pytest.raises(TypeError):
        cls(*bad)


@pytest.mark.parametrize("cls", [D, L])
def test_getters_in_order_and_signatures(cls):
    getsets = [name for name, v in vars(cls).items() if type(v).__name__ == "getset_descriptor"]
    assert getsets == GETTERS
    assert cls.is_secret.__doc__ == "Whether this node's value was produced by a `!secret` directive."
    assert cls.__text_signature__ == "(*_args, **_kwargs)"
    assert cls.__reduce__.__text_signature__ == "($self)"
    assert cls.__setstate__.__text_signature__ == "($self, state)"


@pytest.mark.parametrize("cls", [D, L])
@pytest.mark.parametrize("name", GETTERS)
def test_every_attribute_is_read_only(cls, name):
    obj = annotated(cls, [])
    before = record(obj)
    with pytest.raises(AttributeError):
        setattr(obj, name, 5)
    with pytest.raises(AttributeError):
        delattr(obj, name)
    assert record(obj) == before


@pytest.mark.parametrize("cls", [D, L])
def test_setstate_replaces_the_whole_record(cls):
    obj = annotated(cls, [])
    assert (obj.__line__, obj.__column__, obj.__file__) == (12, 3, "/config/packages/lights.yaml")
    assert (obj.__end_line__, obj.__end_column__) == (14, 1)
    assert (obj.__offset__, obj.__end_offset__) == (2**40, 2**64 - 1)
    assert (obj.__source_tag__, obj.__source_target__) == ("!include", "lights.yaml")
    obj.__setstate__((1, 2, None, 3, 4, None, None, 5, 6))
    assert obj.__reduce__()[2] == (1, 2, None, 3, 4, None, None, 5, 6)
    assert obj.__file__ is None and obj.__source_tag__ is None and not obj.is_include


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


def test_setstate_takes_index_objects_and_str_subclasses():
    class Path(str):
        pass

    d = D()
    d.__setstate__((Index(7), True, Path("a.yaml"), 0, 0, None, "t", Index(2**63), 9))
    assert d.__reduce__()[2] == (7, 1, "a.yaml", 0, 0, None, "t", 2**63, 9)
    assert type(d.__file__) is Path


@pytest.mark.parametrize("tag, flags", [
    ("!secret", (True, False, False)),
    ("!env_var", (False, True, False)),
    ("!include", (False, False, True)),
    ("!include_dir_list", (False, False, True)),
    ("!include_dir_named", (False, False, True)),
    ("!include_dir_merge_list", (False, False, True)),
    ("!include_dir_merge_named", (False, False, True)),
    ("!includes", (False, False, False)),
    ("!include_dir", (False, False, False)),
    ("!Secret", (False, False, False)),
    ("!custom", (False, False, False)),
    ("", (False, False, False)),
    (None, (False, False, False)),
])
def test_provenance_flags_follow_the_source_tag(tag, flags):
    for cls in (D, L):
        obj = annotated(cls, [], (1, 1, None, 1, 2, tag, None, 0, 1))
        assert (obj.is_secret, obj.is_env_var, obj.is_include) == flags


BAD_STATES = [
    ([1, 1, None, 1, 1, None, None, 0, 0], TypeError),
    ((1, 1, None, 1, 1, None, None, 0), TypeError),
    ((1, 1, None, 1, 1, None, None, 0, 0, 0), TypeError),
    ((), TypeError),
    (("1", 1, None, 1, 1, None, None, 0, 0), TypeError),
    ((1, 1.0, None, 1, 1, None, None, 0, 0), TypeError),
    ((1, 1, 5, 1, 1, None, None, 0, 0), TypeError),
    ((1, 1, b"f", 1, 1, None, None, 0, 0), TypeError),
    ((1, 1, None, 1, 1, 3, None, 0, 0), TypeError),
    ((1, 1, None, 1, 1, None, ["x"], 0, 0), TypeError),
    ((1, 1, None, 1, 1, None, None, 0, None), TypeError),
    ((-1, 1, None, 1, 1, None, None, 0, 0), OverflowError),
    ((1, 1, None, 1, 1, None, None, 2**64, 0), OverflowError),
    (None, TypeError),
]


@pytest.mark.parametrize("cls", [D, L])
@pytest.mark.parametrize("state, error", BAD_STATES)
def test_setstate_rejects_malformed_state_and_keeps_the_record(cls, state, error):
    obj = annotated(cls, [])
    before = record(obj)
    with pytest.raises(error):
        obj.__setstate__(state)
    assert record(obj) == before


def test_reduce_shapes():
    d = annotated(D, {"a": 1, "b": [2]})
    cls, args, state, list_items, dict_items = d.__reduce__()
    assert (cls, args, state, list_items) == (D, (), STATE, None)
    assert list(dict_items) == [("a", 1), ("b", [2])]
    lst = annotated(L, [1, "x"])
    cls, args, state, list_items, dict_items = lst.__reduce__()
    assert (cls, args, state, dict_items) == (L, (), STATE, None)
    assert list(list_items) == [1, "x"]


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("cls, content", [(D, {"a": 1, "b": {"c": [1, 2]}}), (L, [1, "two", [3]]),
                                          (D, {}), (L, [])])
def test_pickle_round_trip_keeps_items_and_record(protocol, cls, content):
    obj = annotated(cls, content)
    back = pickle.loads(pickle.dumps(obj, protocol))
    assert type(back) is cls and back == content
    assert record(back) == record(obj)


def test_copy_shares_values_and_deepcopy_copies_them():
    inner = annotated(L, [1, 2], (5, 6, "inner.yaml", 5, 12, None, None, 40, 46))
    outer = annotated(L, [inner, {"k": "v"}])
    shallow = copy.copy(outer)
    assert shallow == outer and shallow is not outer and shallow[0] is inner
    assert record(shallow) == record(outer)
    deep = copy.deepcopy(outer)
    assert type(deep) is L and deep == outer
    assert deep[0] is not inner and deep[1] is not outer[1]
    assert record(deep) == record(outer)
    assert type(deep[0]) is L and record(deep[0]) == record(inner)
    d = annotated(D, {"list": inner})
    assert copy.copy(d)["list"] is inner
    deep_d = copy.deepcopy(d)
    assert deep_d["list"] is not inner and record(deep_d["list"]) == record(inner)
    assert record(deep_d) == record(d)


def test_deepcopy_keeps_shared_and_recursive_structure():
    shared = annotated(L, [1])
    outer = annotated(D, {"a": shared, "b": shared})
    outer["self"] = outer
    deep = copy.deepcopy(outer)
    assert deep["a"] is deep["b"] and deep["a"] is not shared
    assert deep["self"] is deep


def test_python_subclasses_keep_the_record_and_pickle():
    sub = SubDict({"a": 1})
    sub.__setstate__(STATE)
    sub.extra = "kept in the instance dict"
    assert record(sub) == record(annotated(D, {}))
    back = pickle.loads(pickle.dumps(sub))
    assert type(back) is SubDict and back == {"a": 1} and back.__line__ == 12
    del sub, back
    gc.collect()


class SubDict(D):
    pass


class Finalized:
    def __init__(self, flag):
        self.flag = flag

    def __del__(self):
        self.flag.append(True)


@pytest.mark.parametrize("cls", [D, L])
def test_cycles_through_the_record_are_collected(cls):
    class Path(str):
        pass

    collected = []
    obj = cls()
    path = Path("cycle.yaml")
    path.owner = obj  # obj -> record -> path -> obj
    path.finalized = Finalized(collected)
    obj.__setstate__((1, 1, path, 1, 1, None, None, 0, 0))
    del obj, path
    gc.collect()
    assert collected == [True]


@pytest.mark.parametrize("cls", [D, L])
def test_cycles_through_the_items_are_collected(cls):
    collected = []
    obj = annotated(cls, [])
    if cls is D:
        obj["self"] = obj
        obj["f"] = Finalized(collected)
    else:
        obj.extend([obj, Finalized(collected)])
    del obj
    gc.collect()
    assert collected == [True]


@pytest.mark.parametrize("cls", [D, L])
def test_releasing_a_very_deep_chain_does_not_overflow_the_stack(cls):
    head = cls()
    for _ in range(200_000):
        node = cls()
        if cls is D:
            node["next"] = head
        else:
            node.append(head)
        head = node
    del head, node


def test_concurrent_readers_see_whole_records():
    # With the global lock nothing conflicts; without it a conflicting access
    # raises "already borrowed" rather than showing a half-written record.
    states = [(1, 2, "a.yaml", 3, 4, "!secret", "a", 5, 6),
              (10, 20, "b.yaml", 30, 40, None, None, 50, 60)]
    obj = annotated(D, {}, states[0])
    seen_bad = []
    stop = threading.Event()

    def guarded(action):
        try:
            return action()
        except RuntimeError as e:
            assert str(e) == "already borrowed"
            return None

    def writer():
        i = 0
        while not stop.is_set():
            guarded(lambda: obj.__setstate__(states[i % 2]))
            i += 1

    def reader():
        for _ in range(20_000):
            state = guarded(lambda: obj.__reduce__()[2])
            if state is not None and state not in states:
                seen_bad.append(state)

    threads = [threading.Thread(target=writer)] + [threading.Thread(target=reader) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads[1:]:
        t.join()
    stop.set()
    threads[0].join()
    assert seen_bad == []
