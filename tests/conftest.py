import logging

import pytest


@pytest.fixture
def quarvel_warnings(caplog):
    """The texts logged on the "quarvel" logger during the test."""
    caplog.set_level(logging.WARNING, logger="quarvel")

    def texts():
        return [r.getMessage() for r in caplog.records if r.name == "quarvel"]

    return texts
