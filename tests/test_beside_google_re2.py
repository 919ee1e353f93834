"""The module beside google-re2, another extension with an RE2 of its own,
in one process: each must keep matching with its own RE2, whichever was
loaded first. Runs where google-re2 is installed (the installed-wheel
stages of the test command put it in where PyPI has a wheel for it)."""

import subprocess
import sys

import pytest

pytest.importorskip("re2")

BOTH_MATCH = r"""
import re2, vintrel
cases = [(r"^\d+-\w+$", "123-abc", True), (r"^\d+$", "12a", False), (r"\p{Greek}", "x\u03b1", True)]
for _ in range(2):
    for pattern, text, expected in cases:
        ours = vintrel.Exp("matches(t, p)").eval({"t": text, "p": pattern})
        theirs = re2.compile(pattern).search(text) is not None
        assert (ours, theirs) == (expected, expected), (pattern, text, ours, theirs)
print("ok")
"""


@pytest.mark.parametrize("first", ["re2", "vintrel"])
def test_both_re2s_match_in_one_process(first):
    code = f"import {first}\n" + BOTH_MATCH
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stdout.strip()) == (0, "ok"), done.stderr
