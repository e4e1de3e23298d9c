"""Times the creation of annotated scalars, as annotated loading makes them.

    PYTHONPATH=build:python python benchmarks/annotated_scalars.py [count]

Needs the _quarvel_probe module of a development build (build it Release for
meaningful numbers). For each of QuarvelAnnotatedStr, QuarvelAnnotatedInt and
QuarvelAnnotatedFloat it prints the best of five runs of creating `count`
objects (default 1,000,000) with the collector paused, as a load does:

- plain: the plain str / int / float only, for scale;
- direct: the extension's fast path (allocation and fields stored in place);
- call: the class called with its eleven positional arguments.
"""

import gc
import sys

import _quarvel_probe as probe

count = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
print(f"{count:,} objects each; seconds, best of 5")
print(f"{'class':<8}{'plain':>9}{'direct':>9}{'call':>9}{'call/direct':>13}")
gc.disable()
for kind in ("str", "int", "float"):
    best = {mode: min(probe.time_scalars(kind, count, mode) for _ in range(5))
            for mode in ("plain", "direct", "call")}
    print(f"{kind:<8}{best['plain']:>9.3f}{best['direct']:>9.3f}{best['call']:>9.3f}"
          f"{best['call'] / best['direct']:>12.1f}x")
