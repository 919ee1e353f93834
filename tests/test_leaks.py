"""Nothing leaks: many calls of every method, on success and on every error
path, leave the inputs' reference counts, the traced Python memory, the
number of live objects and the process size where they were."""

import collections.abc
import gc
import itertools
import os
import sys
import tracemalloc

import pytest

import vintrel


class Boom(Exception):
    pass


class RaisingMapping(collections.abc.Mapping):
    def __getitem__(self, k):
        raise Boom(k)

    def __iter__(self):
        return iter(["a", "b"])

    def __len__(self):
        return 2


def nested_list(depth):
    v = []
    for _ in range(depth):
        v = [v]
    return v


def self_list():
    v = [1, "x"]
    v.append(v)
    return v


BIG = "é" * 5000  # large enough that a leaked copy shows in the process size
EXP = vintrel.Exp(
    "contains(user.roles, 'admin') && format('{0}/{1}', user.name, len(big)) != '' && matches(user.name, '^A')")
TEXT_EXP = vintrel.Exp("replace(big, 'é', 'e') == big || split(big, 'x') == [big] || base64Encode(big) == ''")
PATH = vintrel.VarAccess("user.roles[1]")
MISSING = vintrel.VarAccess("user.nope[3]")
GOOD = {"user": {"name": "Ada", "roles": ["dev", "admin", BIG], "meta": {"k": [1.5, None, True, 2**64 - 1]}},
        "big": BIG}
REPLACEMENT = {"new": [BIG, {"deep": nested_list(50)}]}
SET = {1, 2}
DEEP = nested_list(100_000)
LOOP = self_list()
HUGE_INT = 10**400
LONE = "\ud800" + BIG
RAISING = RaisingMapping()
COUNTER = itertools.count()


def ignoring(error, fn, *args, **kwargs):
    try:
        fn(*args, **kwargs)
    except error:
        pass
    else:
        raise AssertionError(f"{fn} did not raise {error.__name__}")


# name: (one call, the inputs whose reference counts must not move)
CASES = {
    "Exp()": (lambda: vintrel.Exp("a.b[0] == 'x' || [1, {'k': 2.5}] == a"), []),
    # Every compiled name gets a str of its own, which must go with the Exp.
    "Exp() new names": (lambda: vintrel.Exp(f"name_{next(COUNTER)}.x == 1"), []),
    "Exp() parse error": (lambda: ignoring(ValueError, vintrel.Exp, "a == (" + BIG), [BIG]),
    "Exp() Eof": (lambda: ignoring(ValueError, vintrel.Exp, "a b" + BIG), []),
    "Exp() TooLarge": (lambda: ignoring(ValueError, vintrel.Exp, "(" * 300 + "1" + ")" * 300), []),
    "Exp() not a str": (lambda: ignoring(TypeError, vintrel.Exp, GOOD), [GOOD]),
    "Exp() keyword": (lambda: ignoring(TypeError, vintrel.Exp, exp=BIG), [BIG]),
    "Exp() lone surrogate": (lambda: ignoring(UnicodeEncodeError, vintrel.Exp, LONE), [LONE]),
    "eval": (lambda: EXP.eval(GOOD), [EXP, GOOD, BIG]),
    "eval by keyword": (lambda: EXP.eval(bindings=GOOD), [EXP, GOOD]),
    "eval text built-ins": (lambda: TEXT_EXP.eval(GOOD), [TEXT_EXP, GOOD, BIG]),
    "eval returning data": (lambda: vintrel.Exp("user").eval(GOOD), [GOOD]),
    "eval NameError": (lambda: ignoring(NameError, vintrel.Exp("nope.x").eval, GOOD), [GOOD]),
    "eval TypeError": (lambda: ignoring(TypeError, vintrel.Exp("len(1) || big").eval, GOOD), [GOOD]),
    "eval ValueError": (lambda: ignoring(ValueError, vintrel.Exp("base64Decode(big)").eval, GOOD), [GOOD]),
    "eval regex error": (lambda: ignoring(ValueError, vintrel.Exp("matches(big, '(')").eval, GOOD), [GOOD]),
    "eval argument count": (lambda: ignoring(ValueError, vintrel.Exp("format('{3}', big)").eval, GOOD), [GOOD]),
    "eval undefined function": (lambda: ignoring(NameError, vintrel.Exp("nope(big)").eval, GOOD), [GOOD]),
    "eval not a dict": (lambda: ignoring(TypeError, EXP.eval, [GOOD]), [EXP, GOOD]),
    "eval key not a str": (lambda: ignoring(TypeError, EXP.eval, {"a": GOOD, 1: GOOD}), [GOOD]),
    "eval set value": (lambda: ignoring(TypeError, EXP.eval, {"a": GOOD, "s": [BIG, SET]}), [GOOD, SET, BIG]),
    "eval huge int": (lambda: ignoring(TypeError, EXP.eval, {"a": GOOD, "i": HUGE_INT}), [GOOD, HUGE_INT]),
    "eval too deep": (lambda: ignoring(RecursionError, EXP.eval, {"a": GOOD, "d": DEEP}), [GOOD, DEEP]),
    "eval cycle": (lambda: ignoring(RecursionError, EXP.eval, {"l": LOOP}), [LOOP]),
    "eval raising mapping": (lambda: ignoring(Boom, EXP.eval, {"a": GOOD, "m": RAISING}), [GOOD, RAISING]),
    "eval lone surrogate": (lambda: ignoring(UnicodeEncodeError, EXP.eval, {"a": GOOD, "s": LONE}), [GOOD, LONE]),
    "eval missing argument": (lambda: ignoring(TypeError, EXP.eval), [EXP]),
    "Exp ==": (lambda: (EXP == TEXT_EXP, EXP != EXP, EXP == GOOD), [EXP, TEXT_EXP, GOOD]),
    "Exp hash": (lambda: ignoring(TypeError, hash, EXP), [EXP]),
    "Exp <": (lambda: ignoring(TypeError, lambda: EXP < TEXT_EXP), [EXP, TEXT_EXP]),
    "VarAccess()": (lambda: vintrel.VarAccess("a.'b c'[2].d"), []),
    "VarAccess() error": (lambda: ignoring(ValueError, vintrel.VarAccess, "a." + BIG), [BIG]),
    "VarAccess() not a str": (lambda: ignoring(TypeError, vintrel.VarAccess, GOOD), [GOOD]),
    "VarAccess() lone surrogate": (lambda: ignoring(UnicodeEncodeError, vintrel.VarAccess, LONE), [LONE]),
    "access": (lambda: PATH.access(GOOD), [PATH, GOOD]),
    "access NameError": (lambda: ignoring(NameError, MISSING.access, GOOD), [MISSING, GOOD]),
    "access TypeError": (lambda: ignoring(TypeError, PATH.access, {"u": GOOD, "s": SET}), [PATH, GOOD, SET]),
    "access too deep": (lambda: ignoring(RecursionError, PATH.access, DEEP), [PATH, DEEP]),
    "replace": (lambda: PATH.replace(GOOD, REPLACEMENT), [PATH, GOOD, REPLACEMENT]),
    "replace NameError": (lambda: ignoring(NameError, MISSING.replace, GOOD, REPLACEMENT), [GOOD, REPLACEMENT]),
    "replace bad replacement": (lambda: ignoring(TypeError, PATH.replace, GOOD, [SET]), [GOOD, SET]),
    "replace bad value": (lambda: ignoring(Boom, PATH.replace, [RAISING], GOOD), [GOOD, RAISING]),
    "access_from_bindings": (lambda: PATH.access_from_bindings(GOOD), [PATH, GOOD]),
    "access_from_bindings NameError": (lambda: ignoring(NameError, MISSING.access_from_bindings, GOOD), [GOOD]),
    "access_from_bindings not a dict": (lambda: ignoring(TypeError, PATH.access_from_bindings, [GOOD]), [GOOD]),
    "VarAccess == and hash": (lambda: (PATH == MISSING, PATH != GOOD, hash(PATH)), [PATH, MISSING, GOOD]),
}

# Calls per measurement; the deep cases walk 1000 levels each time.
HEAVY = {"eval too deep", "eval cycle", "access too deep", "Exp() TooLarge"}


def settle():
    for _ in range(3):
        gc.collect()


@pytest.mark.parametrize("name", CASES)
def test_reference_counts_and_python_memory_stay_flat(name):
    call, inputs = CASES[name]
    n = 300 if name in HEAVY else 2000
    for _ in range(200):  # warm up: one-time tables, caches, interned text
        call()
    settle()
    refs = [sys.getrefcount(o) for o in inputs]
    tracemalloc.start()
    try:
        # Free lists and caches fill during the first window; only what
        # keeps growing in the second is a leak.
        for _ in range(n):
            call()
        settle()
        first, _ = tracemalloc.get_traced_memory()
        objects = len(gc.get_objects())
        for _ in range(n):
            call()
        settle()
        second, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert [sys.getrefcount(o) for o in inputs] == refs
    # One leaked object per call would be n objects and at least 16 n bytes.
    assert len(gc.get_objects()) - objects < n // 10
    assert second - first < n * 4, f"{second - first} bytes kept over {n} calls"


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(os.environ.get("VINTREL_SANITIZED") == "1",
                    reason="the sanitizer keeps freed memory in quarantine")
@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_process_size_stays_flat():
    # Native memory (trees, paths, converted values, engine errors) is not
    # traced by tracemalloc; a leak of it shows in the resident size. Every
    # case touches a 10 kB text, so a case that leaks anything holding it
    # costs 10 kB per call, 30 MB over the run.
    calls = [call for name, (call, _) in CASES.items() if name not in HEAVY]
    for _ in range(100):
        for call in calls:
            call()
    settle()
    before = resident_bytes()
    rounds = 3000
    for _ in range(rounds):
        for call in calls:
            call()
    settle()
    grown = resident_bytes() - before
    assert grown < 16 * 2**20, f"resident size grew by {grown >> 20} MiB over {rounds * len(calls)} calls"
