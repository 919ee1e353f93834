"""matches keeps its compiled patterns (per expression for a literal pattern,
process-wide for one from the data): every call answers, and fails, exactly
as the first one did, whatever was compiled, kept or evicted in between."""

import threading

import pytest

from vintrel import Exp

# (pattern, text, result or the reason quoted in the error message)
TABLE = [
    ("b", "abc", True),
    ("^b", "abc", False),
    ("", "", True),
    (r"^\w+@\w+\.\w+$", "alice@example.com", True),
    (r"^\w+@\w+\.\w+$", "alice at example.com", False),
    (r"^\w+$", "éte", True),
    (r"^\d+$", "١٢٣", True),
    (r"^[\s\d]+$", "\u3000 1", True),
    (r"\W", "é", False),
    (r"^\w\b", "é", False),  # RE2's word boundary is ASCII
    ("(", "a", "missing ): ("),
    (r"(\d", "1", r"missing ): (\d"),
    (r"[a-\d]", "1", r"invalid escape sequence: \d"),
    ("a(?=b)", "ab", "invalid perl operator: (?="),
    (r"\w{1000}", "a", "pattern too large - compile failed"),
]


def outcome(exp, bindings):
    try:
        return exp.eval(bindings)
    except ValueError as e:
        return e.args


def expected(want):
    return want if isinstance(want, bool) else (f"Invalid regex pattern: '{want}'",)


def literal(pattern):
    return Exp(f"matches(t, r'{pattern}')")


DYNAMIC = Exp("matches(t, p)")


def test_literal_and_data_patterns_answer_alike_on_every_call():
    literals = [literal(p) for p, _, _ in TABLE]  # none raises: errors wait for eval
    order = list(range(len(TABLE)))
    for round_ in range(4):
        # Forward, backward, then interleaved with a stride.
        if round_ == 1:
            order.reverse()
        elif round_ >= 2:
            order = [(i * 5 + round_) % len(TABLE) for i in range(len(TABLE))]
        for i in order:
            pattern, text, want = TABLE[i]
            assert outcome(literals[i], {"t": text}) == expected(want), pattern
            assert outcome(DYNAMIC, {"t": text, "p": pattern}) == expected(want), pattern


@pytest.mark.parametrize(
    "text, bindings, cls, message",
    [
        ("matches(t, '(')", {"t": 1}, TypeError, "Expected a string as the first argument, got: 'int'"),
        ("matches(t, p)", {"t": None, "p": "("}, TypeError, "Expected a string as the first argument, got: 'null'"),
        ("matches('(')", {}, ValueError, "Expected 2 arguments, got 1"),
        ("matches(t, '(', t)", {"t": "a"}, ValueError, "Expected 2 arguments, got 3"),
        ("matches(t, '(')", {"t": "a"}, ValueError, "Invalid regex pattern: 'missing ): ('"),
    ],
)
def test_invalid_pattern_fails_at_eval_after_the_argument_checks(text, bindings, cls, message):
    exp = Exp(text)
    for _ in range(3):
        with pytest.raises(cls) as info:
            exp.eval(bindings)
        assert type(info.value) is cls and info.value.args == (message,)


def test_more_distinct_patterns_than_the_cache_holds():
    # Well past the process-wide bound of 1024, twice over, with patterns
    # that fail mixed in; each answer is checked, not just compared.
    n = 2500
    for _ in range(2):
        for i in range(n):
            assert DYNAMIC.eval({"t": f"a{i}b", "p": f"^a{i}b$"}) is True
            assert DYNAMIC.eval({"t": f"a{i}c", "p": f"^a{i}b$"}) is False
            if i % 10 == 0:
                assert outcome(DYNAMIC, {"t": "x", "p": f"({i}"}) == (f"Invalid regex pattern: 'missing ): ({i}'",)


def test_threads_sharing_patterns_while_others_evict():
    want = [expected(w) for _, _, w in TABLE]
    shared = [literal(p) for p, _, _ in TABLE]
    failures = []
    barrier = threading.Barrier(6)

    def same_and_different(k):
        barrier.wait()
        for r in range(60):
            i = (r * (k + 1)) % len(TABLE)
            pattern, text, _ = TABLE[i]
            if outcome(shared[i], {"t": text}) != want[i] or outcome(DYNAMIC, {"t": text, "p": pattern}) != want[i]:
                failures.append((k, pattern))

    def evicting(k):
        barrier.wait()
        for r in range(1500):
            p = f"^e{k}x{r}$"
            if DYNAMIC.eval({"t": p[1:-1], "p": p}) is not True:
                failures.append((k, p))

    threads = [threading.Thread(target=same_and_different, args=(k,)) for k in range(4)]
    threads += [threading.Thread(target=evicting, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
