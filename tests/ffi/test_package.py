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
