"""quarvel: fast, exact YAML for Python configuration.

``loads`` / ``loads_all`` read YAML 1.2 (or 1.1) into Python objects,
``dumps`` writes YAML, ``to_json`` writes JSON. Behaviour is chosen with the
``OPT_*`` flags, combined with ``|``.
"""

import _quarvel
from _quarvel import *  # noqa: F401,F403

from . import exceptions
from ._files import dump, load, load_all
from ._annotated import QuarvelAnnotatedFloat, QuarvelAnnotatedInt, QuarvelAnnotatedStr
from .exceptions import *  # noqa: F401,F403

# Pickle finds the annotated containers as quarvel.QuarvelAnnotatedDict/List.
QuarvelAnnotatedDict = _quarvel.QuarvelAnnotatedDict
QuarvelAnnotatedList = _quarvel.QuarvelAnnotatedList


class Tags(dict):
    """A table of tag callbacks: ``Tags({"!env": handler})``.

    For ``loads`` the keys are tag texts and each callable receives the
    converted value; for ``dumps`` the keys are types and each callable
    returns a ``QuarvelTag`` or a ``(tag, value)`` tuple.
    """


__all__ = list(_quarvel.__all__) + [
    "QuarvelAnnotatedStr",
    "QuarvelAnnotatedInt",
    "QuarvelAnnotatedFloat",
    "Tags",
    "load",
    "load_all",
    "dump",
    "exceptions",
] + list(exceptions.__all__)

__version__ = "0.1.0"
