"""Shared helpers for the vintrel test suite."""

import importlib.util

import pytest

import vintrel


@pytest.fixture
def fresh_module():
    """Makes a new module object from the loaded extension file and runs
    its exec step; `before_exec(module)` may prepare the module first.
    sys.modules is left alone."""

    def make(before_exec=None):
        spec = importlib.util.spec_from_file_location("vintrel", vintrel.__file__)
        module = importlib.util.module_from_spec(spec)
        if before_exec is not None:
            before_exec(module)
        spec.loader.exec_module(module)
        return module

    return make
