"""Every example in docs/language.md runs against the module.

The examples are the document's ```python blocks, written as interactive
sessions: `>>> ` lines (with `... ` continuations) followed by the output
Python prints, or by a traceback whose last line is the exception's class
and exact message. Each block starts from a namespace holding `Exp` and
`VarAccess`; an example sees what the earlier examples of its block
defined."""

import contextlib
import doctest
import io
import pathlib
import re
import traceback

import pytest

import vintrel

DOC = pathlib.Path(__file__).resolve().parent.parent / "docs" / "language.md"

FENCE = re.compile(r"^```(\S*)\s*$")
HEADING = re.compile(r"^#+\s+(.*?)\s*$")


def slug(title):
    return re.sub(r"[^a-z0-9]+", "-", title.lower()).strip("-")


def python_blocks(lines):
    """Yields (section, first line number, text) for each ```python block."""
    section, start, body, lang = "top", None, [], None
    for number, line in enumerate(lines, 1):
        fence = FENCE.match(line)
        if start is None:
            if fence:
                start, lang, body = number, fence.group(1), []
            elif HEADING.match(line):
                section = slug(HEADING.match(line).group(1))
        elif fence and not fence.group(1):
            if lang == "python":
                yield section, start, "\n".join(body) + "\n"
            start = None
        else:
            body.append(line)
    assert start is None, f"line {start}: code block not closed"


def collect():
    """One entry per example: (id, its block's earlier sources, the example)."""
    cases = []
    parser = doctest.DocTestParser()
    for section, start, text in python_blocks(DOC.read_text(encoding="utf-8").splitlines()):
        examples = parser.get_examples(text)
        assert examples, f"line {start}: a python block with no >>> example"
        for i, example in enumerate(examples):
            line = start + 1 + example.lineno
            cases.append((f"{section}-L{line}", [e.source for e in examples[:i]], example))
    return cases


CASES = collect()


def run(source, namespace):
    """Runs one example as the interactive interpreter would; returns what
    it printed and the exception it raised, if any."""
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        try:
            exec(compile(source, "<example>", "single"), namespace)
        except Exception as e:
            return out.getvalue(), e
    return out.getvalue(), None


def test_the_document_has_examples():
    assert CASES, f"no examples found in {DOC}"


@pytest.mark.parametrize("setup, example", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_example(setup, example):
    namespace = {"Exp": vintrel.Exp, "VarAccess": vintrel.VarAccess}
    for source in setup:
        run(source, namespace)
    printed, error = run(example.source, namespace)
    if example.exc_msg is None:
        assert error is None, f"{example.source.strip()} raised {traceback.format_exception_only(error)[-1]!r}"
        assert printed == example.want
    else:
        assert error is not None, f"{example.source.strip()} printed {printed!r} and raised nothing"
        assert traceback.format_exception_only(error)[-1] == example.exc_msg
