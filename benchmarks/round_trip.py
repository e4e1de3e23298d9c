"""Round-trip editing benchmarks, side by side with ruamel.yaml's round-trip mode.

    python benchmarks/round_trip.py [--quick]

Per corpus: round-trip loading, the document's plain values (to_dict against
plain loads of the same text), and 1,000 reads and 1,000 writes through views.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpora  # noqa: E402
from run import RuamelYAML, best_time, print_table, yaml_text  # noqa: E402

import quarvel  # noqa: E402

EDITS = 1000


def ruamel_rt():
    return RuamelYAML(typ="rt", pure=True)


def views_read(doc, count):
    services = doc["services"]
    n = len(services)
    for i in range(count):
        services[i % n]["replicas"]


def views_write(doc, count):
    services = doc["services"]
    n = len(services)
    for i in range(count):
        services[i % n]["replicas"] = i


def bench(name, text, repeat):
    raw = text.encode()
    opt = quarvel.OPT_ROUND_TRIP
    doc = quarvel.loads(raw, option=opt)
    rows = [("quarvel round-trip loads", best_time(lambda: quarvel.loads(raw, option=opt), repeat))]
    if RuamelYAML is not None:
        rows.append(("ruamel.yaml rt load",
                     best_time(lambda: ruamel_rt().load(text), max(1, repeat // 3))))
    print_table(f"round-trip loads: {name} ({len(raw) / 1e6:.2f} MB)", rows,
                "quarvel round-trip loads")

    rows = [("doc.to_dict()", best_time(doc.to_dict, repeat)),
            ("quarvel.loads (plain)", best_time(lambda: quarvel.loads(raw), repeat))]
    print_table(f"to_dict against plain loads: {name}", rows, "doc.to_dict()")

    rows = [(f"{EDITS} reads via views", best_time(lambda: views_read(doc, EDITS), repeat)),
            (f"{EDITS} writes via views", best_time(lambda: views_write(doc, EDITS), repeat))]
    if RuamelYAML is not None:
        data = ruamel_rt().load(text)
        rows.append((f"ruamel {EDITS} reads", best_time(lambda: views_read(data, EDITS), repeat)))
        rows.append((f"ruamel {EDITS} writes", best_time(lambda: views_write(data, EDITS), repeat)))
    print_table(f"reads and writes: {name}", rows, f"{EDITS} reads via views")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true", help="fewer repeats")
    args = parser.parse_args()
    repeat = 3 if args.quick else 7
    for name, size in [("config 10 KB", 10_000), ("config 1 MB", 1_000_000)]:
        bench(name, yaml_text(corpora.config_data(size)), repeat)


if __name__ == "__main__":
    main()
