"""Creating, re-stating, reducing and copying annotated objects releases
everything it made, error paths included."""

import copy
import os
import pickle

import pytest

import quarvel



def fresh(text):
    """A new str object each time: a leaked reference to it leaks its block."""
    return "".join(list(text))


def states():
    return [(1, 2, fresh("a.yaml"), 3, 4, fresh("!secret"), fresh("name"), 5, 2**64 - 1),
            (7, 8, None, 9, 10, None, None, 11, 12)]


def record():
    return (3, 7, fresh("conf.yaml"), 4, 11, "double", fresh("!env_var"), fresh("HOME"), 2**40, 2**41)


try:
    import _quarvel_probe as probe
except ImportError:
    probe = None


def exercise():
    for cls, content in ((quarvel.QuarvelAnnotatedDict, {"k": [1]}),
                         (quarvel.QuarvelAnnotatedList, [1, "x"])):
        obj = cls(content)
        for state in states():
            obj.__setstate__(state)
        for bad in [(1,) * 8, (1, 1, 5, 1, 1, None, None, 0, 0), (-1,) + states()[0][1:]]:
            try:
                obj.__setstate__(bad)
            except (TypeError, OverflowError):
                pass
        obj.__reduce__()
        (obj.__file__, obj.__source_tag__, obj.is_include, obj.__end_offset__)
        pickle.loads(pickle.dumps(obj))
        copy.deepcopy(obj)
    for cls, value in ((quarvel.QuarvelAnnotatedStr, "s"), (quarvel.QuarvelAnnotatedInt, 2**70),
                       (quarvel.QuarvelAnnotatedFloat, 0.5)):
        s = cls(value, *record())
        pickle.loads(pickle.dumps(s))
    if probe is not None:
        for kind, value in (("str", "s"), ("int", 2**70), ("float", 0.5)):
            probe.new_scalar(kind, value, states()[0], 1)
            probe.build(quarvel.QuarvelAnnotatedStr, kind, value, states()[0], 1, False)
        probe.new_dict(states()[0])
        probe.new_list(states()[0], 16).extend(range(20))


@pytest.mark.skipif(os.environ.get("QUARVEL_SANITIZED") == "1",
                    reason="allocation counts differ under sanitizers")
def test_repeated_use_does_not_grow_memory(blocks_grown):
    grown = blocks_grown(exercise)
    assert grown < 300, f"{grown} Python memory blocks more after 2000 rounds"
