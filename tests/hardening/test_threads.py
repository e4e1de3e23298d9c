"""Several threads loading and dumping at once, with callbacks that let
other threads run or raise in the middle."""

import threading
import time

import _quarvel
from _quarvel import dumps, loads, loads_all, to_json
from quarvel.exceptions import QuarvelParseError


def run_threads(target, count=8):
    errors = []

    def wrapped(i):
        try:
            target(i)
        except BaseException as e:  # collected and re-raised in the main thread
            errors.append(e)

    threads = [threading.Thread(target=wrapped, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        raise errors[0]


def document(i):
    return {"id": i, "name": f"worker-{i}", "items": list(range(i * 3)), "nested": {"k": [i] * i}}


def test_load_and_dump_different_documents_at_once():
    def work(i):
        value = document(i)
        for _ in range(300):
            text = dumps(value)
            assert loads(text) == value
            assert loads_all(text + b"---\n" + text) == [value, value]
            assert to_json(value).startswith(b'{"id":')

    run_threads(work)


def test_callbacks_that_release_the_lock():
    def handler(tag, value):
        time.sleep(0)  # lets the other threads run mid-conversion
        return (tag, value)

    def default(obj):
        time.sleep(0)
        return str(obj)

    def work(i):
        text = "\n".join(f"k{j}: !t{i} {j}" for j in range(50))
        expected = {f"k{j}": (f"!t{i}", str(j)) for j in range(50)}
        for _ in range(100):
            assert loads(text, tag_handler=handler) == expected
            assert loads(dumps([object()] * 5, default=default))[0].startswith("<object")

    run_threads(work)


def test_callbacks_that_raise_in_the_middle():
    class Stop(Exception):
        pass

    def work(i):
        calls = {"n": 0}

        def handler(tag, value):
            calls["n"] += 1
            if calls["n"] % 7 == 0:
                raise Stop(i)
            return value

        text = "\n".join(f"- !x {j}" for j in range(20))
        for _ in range(100):
            try:
                loads(text, tag_handler=handler)
            except Stop as e:
                assert e.args == (i,)
            try:
                dumps({"a": object()}, default=lambda o: (_ for _ in ()).throw(Stop(i)))
            except Stop as e:
                assert e.args == (i,)

    run_threads(work)


def test_parse_errors_in_many_threads_report_their_own_positions():
    def work(i):
        text = "a: 1\n" * i + "b: [\n"
        for _ in range(200):
            try:
                loads(text)
            except QuarvelParseError as e:
                assert e.line == i + 2, str(e)
            else:
                raise AssertionError("unclosed flow sequence was accepted")

    run_threads(work)


def test_memory_kept_by_threads_serves_later_calls():
    """Each thread keeps the memory of its calls for the next one: threads
    that come and go, one huge call followed by small ones, and a default
    callback that writes again while the outer call holds the thread's output
    buffer all give the same results as a fresh process would."""
    huge = {f"key{i}": [i, str(i), {"x": i / 3}] for i in range(60_000)}
    huge_text = dumps(huge)

    def nested_default(obj):
        return dumps({"inner": 1}).decode() + to_json([1, 2]).decode()

    def work(i):
        if i == 0:
            assert loads(huge_text) == huge
            assert to_json(huge).startswith(b'{"key0":[0,"0",{"x":0.0}]')
        for _ in range(50):
            value = document(i)
            assert loads(dumps(value)) == value
            assert to_json(value) == to_json(loads(to_json(value)))
            assert dumps([object()], default=nested_default) == b"- |-\n  inner: 1\n  [1,2]\n"

    for _ in range(3):  # new threads each round: caches are made and freed
        run_threads(work, count=4)
    work(1)  # and the main thread still works after the huge call


def test_directory_walks_read_ahead_in_many_threads(tmp_path):
    """Every load of a large !include_dir_* walk reads its files on a helper
    thread too; several loads at once, annotated and to edit, each get the
    whole tree in walk order, and a file that does not parse is reported
    with its name and position."""
    import quarvel

    folder = tmp_path / "parts"
    folder.mkdir()
    for j in range(40):
        (folder / f"p{j:02d}.yaml").write_text(f"name: part {j}\nlist: [a, {j}]\n")
    root = tmp_path / "configuration.yaml"
    root.write_text("named: !include_dir_named parts\nitems: !include_dir_list parts\n")
    expected = {f"p{j:02d}": {"name": f"part {j}", "list": ["a", j]} for j in range(40)}
    option = quarvel.OPT_INCLUDES | quarvel.OPT_ANNOTATED

    def work(i):
        for _ in range(20):
            conf = quarvel.load(root, option=option)
            assert conf["named"] == expected
            assert conf["items"] == list(expected.values())
            assert conf["items"][39]["name"].__line__ == 1
            assert conf["items"][39]["name"].__file__.endswith("p39.yaml")
            doc = quarvel.load(root, option=quarvel.OPT_INCLUDES | quarvel.OPT_ROUND_TRIP)
            assert doc["named"]["p07"]["list"][1] == 7

    run_threads(work, count=4)
    (folder / "p31.yaml").write_text("name: [unclosed\n")
    for _ in range(5):
        try:
            quarvel.load(root, option=option)
        except quarvel.QuarvelIncludeError as e:
            assert "line 2, column 1 in " in str(e) and e.file.endswith("p31.yaml")
        else:
            raise AssertionError("the unclosed list was accepted")
