"""Side-by-side benchmarks of quarvel against other YAML and JSON libraries.

    python benchmarks/run.py [--quick]

Prints, per corpus, the best-of-N time of each library and its ratio to
quarvel, then the peak memory each loader adds (measured in a fresh process).
"""

import argparse
import gc
import json
import os
import random
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpora  # noqa: E402

import quarvel  # noqa: E402

try:
    import yaml
except ImportError:  # pragma: no cover
    yaml = None
try:
    import orjson
except ImportError:  # pragma: no cover
    orjson = None
try:
    from annotatedyaml.loader import parse_yaml as ha_parse_yaml
except ImportError:  # needs Python 3.13 and the bench extra
    ha_parse_yaml = None
try:
    from ruamel.yaml import YAML as RuamelYAML
except ImportError:  # pragma: no cover
    RuamelYAML = None

# Pure-Python loaders are too slow for the big corpora; they run up to this size.
SLOW_LIMIT = 1_200_000


def best_time(fn, repeat, budget=20.0, least=0.3):
    """The best of at least `repeat` runs; fast functions run until `least`
    seconds have passed (up to 2000 runs) so their best time is a stable one."""
    times = []
    # One collection up front: collecting before every run would walk all the
    # corpora held in memory and leave the caches cold for small cases.
    gc.collect()
    start = time.perf_counter()
    while True:
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
        elapsed = time.perf_counter() - start
        if elapsed > budget or len(times) >= 2000:
            break
        if len(times) >= repeat and elapsed > least:
            break
    return min(times)


def yaml_text(data, multi=False):
    dump = yaml.dump_all if multi else yaml.dump
    return dump(data, Dumper=yaml.CSafeDumper, sort_keys=False, default_flow_style=False)


def pyyaml_loader(loader):
    def load(text, multi):
        if multi:
            return list(yaml.load_all(text, Loader=loader))
        return yaml.load(text, Loader=loader)

    return load


def ruamel_load(text, multi):
    ry = RuamelYAML(typ="safe", pure=True)
    return list(ry.load_all(text)) if multi else ry.load(text)


def peer_loaders(size):
    """Other YAML loaders, each called as load(text, multi)."""
    out = {}
    if yaml is not None:
        out["PyYAML CSafeLoader"] = pyyaml_loader(yaml.CSafeLoader)
        if size <= SLOW_LIMIT:
            out["PyYAML SafeLoader"] = pyyaml_loader(yaml.SafeLoader)
    if RuamelYAML is not None and size <= SLOW_LIMIT:
        out["ruamel.yaml safe"] = ruamel_load
    return out


def build_corpora(quick):
    sizes = [("config 10 KB", 10_000), ("config 1 MB", 1_000_000)]
    if not quick:
        sizes.append(("config 20 MB", 20_000_000))
    result = []
    for name, size in sizes:
        data = corpora.config_data(size)
        result.append((name, yaml_text(data), data, False))
    docs = corpora.manifest_docs(300 if quick else 3000)
    result.append(("manifests stream", yaml_text(docs, multi=True), docs, True))
    text = corpora.string_heavy_yaml(300 if quick else 3000)
    result.append(("string-heavy", text, None, False))
    text = corpora.anchors_yaml(300 if quick else 3000)
    result.append(("anchors and merges", text, None, False))
    return result


def print_table(title, rows, reference):
    print(f"\n{title}")
    ref = dict(rows)[reference]
    for name, seconds in rows:
        ratio = seconds / ref if ref else float("nan")
        print(f"  {name:<24} {seconds * 1000:10.2f} ms   {ratio:8.2f}x")


def bench_loads(corpus_list, repeat):
    for name, text, data, multi in corpus_list:
        raw = text.encode()
        size = len(raw)
        rows = []
        load = quarvel.loads_all if multi else quarvel.loads
        rows.append(("quarvel.loads", best_time(lambda: load(raw), repeat)))
        for lname, fn in peer_loaders(size).items():
            rows.append((lname, best_time(lambda f=fn: f(raw, multi), max(1, repeat // 3))))
        if data is not None:
            js = json.dumps(data)
            jb = js.encode()
            rows.append(("json.loads (same data)", best_time(lambda: json.loads(js), repeat)))
            if orjson is not None:
                rows.append(("orjson.loads (same data)", best_time(lambda: orjson.loads(jb), repeat)))
        print_table(f"loads: {name} ({size / 1e6:.2f} MB of YAML)", rows, "quarvel.loads")
        per_mb = dict(rows)["quarvel.loads"] / (size / 1e6)
        print(f"  quarvel: {per_mb * 1000:.2f} ms per MB")


def bench_annotated(corpus_list, repeat):
    """Loading with source positions, beside Home Assistant's loader; plain
    loads and the round-trip tree composition for scale."""
    for name, text, data, multi in corpus_list:
        if multi or data is None:
            continue
        raw = text.encode()
        opt = quarvel.OPT_ANNOTATED
        rows = [("quarvel annotated", best_time(lambda: quarvel.loads(raw, option=opt), repeat))]
        rows.append(("quarvel.loads", best_time(lambda: quarvel.loads(raw), repeat)))
        if ha_parse_yaml is not None and len(raw) <= SLOW_LIMIT:
            rows.append(("annotatedyaml", best_time(lambda: ha_parse_yaml(text), max(1, repeat // 3))))
        print_table(f"annotated loads: {name}", rows, "quarvel annotated")
    if ha_parse_yaml is None:
        print("  (annotatedyaml not installed: it needs Python 3.13 and the bench extra)")


def bench_dumps(corpus_list, repeat):
    for name, _text, data, _multi in corpus_list:
        if data is None:
            continue
        rows = [("quarvel.dumps", best_time(lambda: quarvel.dumps(data), repeat))]
        if yaml is not None:
            rows.append(("PyYAML CSafeDumper", best_time(lambda: yaml_text(data), max(1, repeat // 3))))
        rows.append(("json.dumps", best_time(lambda: json.dumps(data), repeat)))
        print_table(f"dumps: {name}", rows, "quarvel.dumps")
        rows = [("quarvel.to_json", best_time(lambda: quarvel.to_json(data), repeat))]
        if orjson is not None:
            rows.append(("orjson.dumps", best_time(lambda: orjson.dumps(data), repeat)))
        rows.append(("json.dumps", best_time(lambda: json.dumps(data), repeat)))
        print_table(f"to_json: {name}", rows, "quarvel.to_json")
    # Shapes where the JSON writer's per-value work shows: many small
    # containers, and floats that need all seventeen digits.
    rng = random.Random(4)
    shapes = [
        ("100,000 small dicts",
         [{"id": i, "name": f"n{i}", "ok": i % 2 == 0, "v": None} for i in range(100_000)]),
        ("400,000 floats", [rng.random() * 10 ** rng.randint(-5, 8) for _ in range(400_000)]),
    ]
    for name, data in shapes:
        rows = [("quarvel.to_json", best_time(lambda: quarvel.to_json(data), repeat))]
        if orjson is not None:
            rows.append(("orjson.dumps", best_time(lambda: orjson.dumps(data), repeat)))
        rows.append(("json.dumps", best_time(lambda: json.dumps(data), repeat)))
        print_table(f"to_json: {name}", rows, "quarvel.to_json")


# ru_maxrss survives exec (the child would inherit this process's peak), so
# the probe reads the peak of its own address space from /proc instead.
MEMORY_PROBE = r"""
import sys

def status_kib(field):
    with open('/proc/self/status') as f:
        for line in f:
            if line.startswith(field + ':'):
                return int(line.split()[1])

sys.path.insert(0, {bench_dir!r})
import corpora
text = open({path!r}, 'rb').read()
lib = {lib!r}
if lib == 'quarvel':
    import quarvel
    load = quarvel.loads
elif lib == 'pyyaml-c':
    import yaml
    load = lambda t: yaml.load(t, Loader=yaml.CSafeLoader)
else:
    import json
    text = text.decode()
    load = json.loads
# A small document first: the pages of each library's code and tables are
# then resident, so the figure is the memory of one load, not code size.
load(b'{{"a": [1, 2.5, "x\\n"]}}' if lib != 'json' else '{{"a": [1, 2.5, "x\\n"]}}')
before = status_kib('VmRSS')
value = load(text)
print(status_kib('VmHWM') - before)
"""


def bench_memory(corpus_list):
    import tempfile

    print("\npeak memory added by one load (KiB, fresh process; lower is better)")
    bench_dir = os.path.dirname(os.path.abspath(__file__))
    for name, text, data, multi in corpus_list:
        if multi or data is None:
            continue
        with tempfile.TemporaryDirectory() as tmp:
            ypath = os.path.join(tmp, "in.yaml")
            jpath = os.path.join(tmp, "in.json")
            with open(ypath, "w") as f:
                f.write(text)
            with open(jpath, "w") as f:
                json.dump(data, f)
            cells = []
            for lib, path in [("quarvel", ypath), ("pyyaml-c", ypath), ("json", jpath)]:
                code = MEMORY_PROBE.format(bench_dir=bench_dir, path=path, lib=lib)
                out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
                cells.append(f"{lib} {out.stdout.strip() or 'n/a':>8}")
            print(f"  {name:<20} " + "   ".join(cells))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true", help="smaller corpora, fewer repeats")
    parser.add_argument("--only", choices=["loads", "annotated", "dumps", "memory"], action="append")
    args = parser.parse_args()
    repeat = 3 if args.quick else 7
    corpus_list = build_corpora(args.quick)
    only = set(args.only or ["loads", "annotated", "dumps", "memory"])
    if "loads" in only:
        bench_loads(corpus_list, repeat)
    if "annotated" in only:
        bench_annotated(corpus_list, repeat)
    if "dumps" in only:
        bench_dumps(corpus_list, repeat)
    if "memory" in only:
        bench_memory(corpus_list)


if __name__ == "__main__":
    main()
