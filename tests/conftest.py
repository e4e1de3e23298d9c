import gc
import logging
import sys

import pytest


@pytest.fixture
def quarvel_warnings(caplog):
    """The texts logged on the "quarvel" logger during the test."""
    caplog.set_level(logging.WARNING, logger="quarvel")

    def texts():
        return [r.getMessage() for r in caplog.records if r.name == "quarvel"]

    return texts


@pytest.fixture
def blocks_grown():
    """How many Python memory blocks `rounds` calls of `exercise` leave
    behind, after `warmup` calls have filled the interpreter's own caches."""

    def measure(exercise, rounds=2000, warmup=100):
        for _ in range(warmup):
            exercise()
        gc.collect()
        before = sys.getallocatedblocks()
        for _ in range(rounds):
            exercise()
        gc.collect()
        return sys.getallocatedblocks() - before

    return measure
