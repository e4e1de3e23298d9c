"""Deep input on a small thread in a process that cannot map another stack
segment: every stage stops with MemoryError instead of running on the
exhausted stack; and an allocation failing on a segment comes back as
MemoryError too. Each case runs in a process of its own (the address-space
cap is process-wide), so a crash fails the case, not the test run."""

import os
import subprocess
import sys
import textwrap

import pytest

CHILD = textwrap.dedent(
    r'''
    import resource, sys, threading
    import quarvel

    DEPTH = 900
    TEXT = "[" * DEPTH + "]" * DEPTH
    SOFT, HARD = resource.getrlimit(resource.RLIMIT_AS)

    def cap(*_, room=16 * 2**20):
        # By default room for small allocations, none for a 32 MiB stack segment.
        with open("/proc/self/status") as f:
            size = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + room, HARD))

    def nested():  # the list TEXT reads as
        v = []
        for _ in range(DEPTH - 1):
            v = [v]
        return v

    def on_small_thread(fn):
        out = []
        def target():
            try:
                out.append(fn())
            except BaseException as e:
                out.append(e)
        threading.stack_size(128 * 1024)
        t = threading.Thread(target=target)
        t.start()
        t.join()
        threading.stack_size(0)
        return out[0]

    class Marker:
        pass

    def probe(tag, value):
        # A nested call that fails and is handled must not fail the outer one.
        try:
            quarvel.dumps(nested())
        except MemoryError:
            return "handled"
        return "no error"

    CAP_FIRST = {
        "loads": lambda: quarvel.loads(TEXT),
        "loads_all": lambda: quarvel.loads_all(TEXT + "\n---\n" + TEXT),
        "dumps": lambda: quarvel.dumps(nested()),
        "dumps_flow": lambda: quarvel.dumps(nested(), option=quarvel.OPT_FLOW_STYLE),
        "to_json": lambda: quarvel.to_json(nested()),
    }
    # The cap comes from a callback, after the stages before it used segments.
    CAP_LATER = {
        "convert": lambda: quarvel.loads("[!cap x, " + TEXT[1:-1] + "]", tag_handler=cap),
        "emit_block": lambda: quarvel.dumps([nested(), Marker()], default=cap),
        "emit_flow": lambda: quarvel.dumps([nested(), Marker()], default=cap, option=quarvel.OPT_FLOW_STYLE),
        "write_json": lambda: quarvel.to_json([nested(), Marker()], default=cap),
        "nested_call": lambda: [cap(), quarvel.loads("[!probe x]", tag_handler=probe)][1],
    }

    def bad_alloc_on_segment():
        # One segment fits, the output that the innermost string needs does not.
        value = "x" * 60_000_000
        for _ in range(DEPTH - 1):
            value = [value]
        cap(room=48 * 2**20)
        return quarvel.dumps(value)

    case = sys.argv[1]
    CAP_LATER["bad_alloc_on_segment"] = bad_alloc_on_segment
    if case in CAP_FIRST:
        cap()
    got = on_small_thread({**CAP_FIRST, **CAP_LATER}[case])
    if case == "nested_call":
        assert got == ["handled"], repr(got)
    elif case == "bad_alloc_on_segment":
        assert type(got) is MemoryError, repr(got)
    else:
        assert type(got) is MemoryError, repr(got)
        assert str(got) == "out of stack memory for deeply nested input", str(got)

    # Once segments can be mapped again, the same thread size copes.
    resource.setrlimit(resource.RLIMIT_AS, (SOFT, HARD))
    assert on_small_thread(lambda: quarvel.loads(quarvel.dumps(nested()))) == nested()
    assert on_small_thread(lambda: quarvel.to_json(nested())) == TEXT.encode()
    print("ok")
    '''
)

THROWING = pytest.mark.skipif(bool(os.environ.get("QUARVEL_SANITIZED")),
                              reason="the sanitizer's allocator aborts where operator new would throw")
CASES = ["loads", "loads_all", "dumps", "dumps_flow",
         "to_json", "convert", "emit_block", "emit_flow", "write_json", "nested_call",
         pytest.param("bad_alloc_on_segment", marks=THROWING)]


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="needs /proc and RLIMIT_AS")
@pytest.mark.parametrize("case", CASES)
def test_stage_without_stack_raises_memory_error(case):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    done = subprocess.run([sys.executable, "-c", CHILD, case], env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0 and done.stdout.strip() == "ok", (
        f"exit {done.returncode}\n{done.stdout}\n{done.stderr}"
    )
