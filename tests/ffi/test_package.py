import copy
import pickle
import subprocess
import sys

import pytest

import _quarvel
import quarvel
from quarvel import exceptions

EXCEPTION_NAMES = [
    "QuarvelParseError", "QuarvelDecodeError", "QuarvelEncodeError", "QuarvelEnvVarError",
    "QuarvelSchemaError", "QuarvelIncludeError", "QuarvelComplexKeyError", "QuarvelDuplicateKeyError",
    "QuarvelIncludeDepthError", "QuarvelSecretNotFoundError", "QuarvelUnserializableError",
    "QuarvelCircularIncludeError", "QuarvelIncludeNotFoundError", "QuarvelIncludeConfinementError",
]


def test_package_re_exports_the_module():
    for name in _quarvel.__all__:
        assert getattr(quarvel, name) is getattr(_quarvel, name)
    assert set(_quarvel.__all__) <= set(quarvel.__all__)


@pytest.mark.parametrize("name", EXCEPTION_NAMES)
def test_exception_classes(name):
    cls = getattr(exceptions, name)
    assert issubclass(cls, exceptions.QuarvelError)
    err = cls("message")
    err.line = 3
    err.include_stack = [("a.yaml", 1)]
    assert str(err) == "message" and err.line == 3
    assert getattr(quarvel, name) is cls


@pytest.mark.parametrize("sub, base", [
    ("QuarvelDuplicateKeyError", "QuarvelParseError"),
    ("QuarvelComplexKeyError", "QuarvelParseError"),
    ("QuarvelUnserializableError", "QuarvelEncodeError"),
    ("QuarvelIncludeNotFoundError", "QuarvelIncludeError"),
    ("QuarvelCircularIncludeError", "QuarvelIncludeError"),
    ("QuarvelIncludeDepthError", "QuarvelIncludeError"),
    ("QuarvelIncludeConfinementError", "QuarvelIncludeError"),
])
def test_exception_hierarchy(sub, base):
    assert issubclass(getattr(exceptions, sub), getattr(exceptions, base))


def test_parse_errors_are_value_errors():
    assert issubclass(exceptions.QuarvelParseError, ValueError)


ANNOTATED = [(quarvel.QuarvelAnnotatedStr, "text"), (quarvel.QuarvelAnnotatedInt, 42),
             (quarvel.QuarvelAnnotatedFloat, 1.5)]
RECORD = (3, 7, "conf.yaml", 3, 11, "double", "!secret", "db_pass", 40, 44)


@pytest.mark.parametrize("cls, value", ANNOTATED)
class TestAnnotatedScalars:
    def test_eleven_argument_call_and_record(self, cls, value):
        s = cls(value, *RECORD)
        assert s == value and type(s).__mro__[-2] in (str, int, float)
        assert (s.__line__, s.__column__, s.__file__, s.__end_line__, s.__end_column__) == RECORD[:5]
        assert (s.style, s.__source_tag__, s.__source_target__, s.__offset__, s.__end_offset__) == RECORD[5:]
        assert s.is_secret and not s.is_env_var and not s.is_include
        assert repr(s) == repr(value)

    def test_pickle_and_copy_keep_the_record(self, cls, value):
        s = cls(value, *RECORD)
        for clone in (pickle.loads(pickle.dumps(s)), copy.copy(s), copy.deepcopy(s)):
            assert clone == value and type(clone) is cls
            assert clone.__line__ == 3 and clone.__source_target__ == "db_pass"

    def test_record_is_read_only(self, cls, value):
        s = cls(value, *RECORD)
        with pytest.raises(AttributeError):
            s.__line__ = 1

    def test_wrong_argument_count(self, cls, value):
        with pytest.raises(TypeError):
            cls(value, 1, 2)


def test_annotated_container_pickles_by_reference_in_fresh_process():
    d = quarvel.QuarvelAnnotatedDict({"a": 1})
    payload = pickle.dumps(d)
    code = "import pickle, sys; d = pickle.loads(sys.stdin.buffer.read()); print(type(d).__name__, dict(d))"
    out = subprocess.run([sys.executable, "-c", code], input=payload, capture_output=True, check=True)
    assert out.stdout.decode().strip() == "QuarvelAnnotatedDict {'a': 1}"
