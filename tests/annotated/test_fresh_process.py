"""Annotated objects pickled here are read back, copied and deep-copied in a
new interpreter that has imported nothing but quarvel."""

import pickle
import subprocess
import sys

import quarvel

STATE = (3, 7, "conf.yaml", 4, 11, "!include", "lights.yaml", 40, 2**64 - 1)
SCALAR_RECORD = (3, 7, "conf.yaml", 4, 11, "literal", "!secret", "db_pass", 40, 2**64 - 1)

CHILD = r"""
import copy, pickle, sys
import quarvel

CONTAINER = ("__line__", "__column__", "__file__", "__end_line__", "__end_column__",
             "__offset__", "__end_offset__", "__source_tag__", "__source_target__",
             "is_secret", "is_env_var", "is_include")
SCALAR = ("__line__", "__column__", "__file__", "__end_line__", "__end_column__", "style",
          "__source_tag__", "__source_target__", "__offset__", "__end_offset__", "is_secret")

objects = pickle.loads(sys.stdin.buffer.read())
report = []
for obj in objects:
    names = CONTAINER if isinstance(obj, (dict, list)) else SCALAR
    for variant in (obj, copy.copy(obj), copy.deepcopy(obj)):
        plain = next(b for b in type(obj).__mro__ if b in (dict, list, str, int, float))(variant)
        report.append((type(variant).__module__, type(variant).__name__, plain,
                       tuple(getattr(variant, n) for n in names)))
print(repr(report))
"""


def test_unpickle_copy_and_deepcopy_in_a_new_interpreter():
    d = quarvel.QuarvelAnnotatedDict({"a": 1, "b": [1, 2]})
    d.__setstate__(STATE)
    lst = quarvel.QuarvelAnnotatedList(["x", {"y": None}])
    lst.__setstate__(STATE)
    scalars = [quarvel.QuarvelAnnotatedStr("text", *SCALAR_RECORD),
               quarvel.QuarvelAnnotatedInt(2**70, *SCALAR_RECORD),
               quarvel.QuarvelAnnotatedFloat(2.5, *SCALAR_RECORD)]
    payload = pickle.dumps([d, lst, *scalars])
    done = subprocess.run([sys.executable, "-c", CHILD], input=payload, capture_output=True)
    assert done.returncode == 0, done.stderr.decode()
    report = eval(done.stdout.decode())  # noqa: S307 - our own child's repr output

    container_record = STATE[:5] + STATE[7:] + STATE[5:7] + (False, False, True)
    scalar_record = SCALAR_RECORD + (True,)
    expected = []
    for name, plain, rec in [("QuarvelAnnotatedDict", {"a": 1, "b": [1, 2]}, container_record),
                             ("QuarvelAnnotatedList", ["x", {"y": None}], container_record),
                             ("QuarvelAnnotatedStr", "text", scalar_record),
                             ("QuarvelAnnotatedInt", 2**70, scalar_record),
                             ("QuarvelAnnotatedFloat", 2.5, scalar_record)]:
        expected += [("quarvel", name, plain, rec)] * 3
    assert report == expected
