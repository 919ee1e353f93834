"""Shared compiled objects read shared bindings while other threads change
those bindings: every call ends in a value or a clear exception, and the
process survives. Short by default; VINTREL_STRESS_SECONDS asks for a
longer run (the free-threaded and ThreadSanitizer stages set it)."""

import collections.abc
import os
import random
import re
import sys
import threading
import time

from vintrel import Exp, VarAccess

SECONDS = float(os.environ.get("VINTREL_STRESS_SECONDS", "1.5"))
READERS = 4
WRITERS = 3

EXPRESSIONS = [
    Exp("a.b[1] == 2 && startsWith(s, 'he')"),
    Exp("[a, {\"k\": s, \"n\": n}]"),
    Exp("len(a.b) >= 0 || contains(a.b, 3)"),
    Exp("join(split(s, 'l'), '-')"),
    Exp("a.c.d[0].e"),
    Exp("format('{} {}', n, a)"),
    Exp("matches(s, '^h\\\\w+')"),
    Exp("matches(s, p)"),  # patterns from the data share one process-wide cache
]
PATHS = [VarAccess("a.b[1]"), VarAccess("a.c.d[0]"), VarAccess("a"), VarAccess("s"), VarAccess("a.b[5]")]
# What the data may raise while it changes under a reader: a path that
# meets no value or the wrong kind, a type that does not convert, a
# container that has come to hold itself, or (where threads run at once) a
# key deleted between the listing of a mapping's keys and its item access.
CLEAN_ERRORS = (ValueError, NameError, TypeError, RecursionError, KeyError)
JSON_TYPES = (type(None), bool, int, float, str, list, dict)


class Record(collections.abc.Mapping):
    """Not a dict: converted through the mapping protocol, running Python
    code while other threads change what it wraps."""

    def __init__(self, entries):
        self._entries = entries

    def __getitem__(self, key):
        return self._entries.get(key)  # a key taken away meanwhile reads as None

    def __iter__(self):
        return iter(list(self._entries))

    def __len__(self):
        return len(self._entries)


def fresh_bindings():
    return {"a": {"b": [1, 2, 3], "c": {"d": [{"e": "x"}]}}, "s": "hello", "n": 7, "p": "^h"}


def is_json(v):
    stack = [v]
    while stack:
        v = stack.pop()
        if isinstance(v, list):
            stack.extend(v)
        elif isinstance(v, dict):
            if not all(isinstance(k, str) for k in v):
                return False
            stack.extend(v.values())
        elif not isinstance(v, JSON_TYPES):
            return False
    return True


def read_calls(shared):
    return (
        [lambda e=e: e.eval(shared) for e in EXPRESSIONS]
        + [lambda p=p: p.access(shared) for p in PATHS]
        + [lambda p=p: p.access(shared["a"]) for p in PATHS]
        + [lambda p=p: p.access_from_bindings(shared) for p in PATHS]
        + [lambda p=p: p.replace(shared, [n for n in range(3)]) for p in PATHS]
        + [lambda: hash(PATHS[0]), lambda: EXPRESSIONS[0] == EXPRESSIONS[1], lambda: VarAccess("a.c") == PATHS[1]]
        + [lambda: Exp("a.b[0] == n").eval(shared), lambda: VarAccess("a.b").access_from_bindings(shared)]
    )


def write_steps(shared, rng):
    """Steps that change the bindings in every way a caller might while
    another thread reads them."""

    def nested():
        a = shared.get("a")
        if isinstance(a, Record):
            return a._entries
        return a if isinstance(a, dict) else {}

    def items():
        v = nested().get("b")
        return v if isinstance(v, list) else []

    def replace_item():
        b = items()
        if b:
            b[rng.randrange(len(b))] = rng.choice([0, 2, "x", None, 2**64, 1.5, [1], {"k": 1}])

    def append():
        b = items()
        if len(b) < 50:
            b.append(rng.randrange(10))

    def pop():
        b = items()
        if b:
            b.pop()

    def rebind_nested():
        a = nested()
        a["b"] = [rng.randrange(4) for _ in range(rng.randrange(6))]
        a["c"] = rng.choice([{"d": [{"e": "y"}]}, {"d": []}, {"d": "text"}, None])

    def rebind_top():
        shared["a"] = rng.choice([{"b": [1, 2], "c": {"d": [{"e": 1}]}}, (1, 2), "a", {"b": (3, 4)},
                                  Record(nested())])
        shared["s"] = rng.choice(["hello", "hi", "", "h\u00e9llo"])
        # More patterns than the cache keeps, some that do not compile.
        shared["p"] = rng.choice([f"^h|{rng.randrange(5000)}", "\\w+l", "(", 5])

    def add_and_remove_keys():
        k = f"k{rng.randrange(64)}"
        shared[k] = [k] * rng.randrange(4)
        shared.pop(f"k{rng.randrange(64)}", None)
        nested()[k] = k

    def clear():
        a = nested()
        if rng.random() < 0.05:
            a.clear()
        b = items()
        if rng.random() < 0.05:
            b.clear()

    def cycle():
        # Briefly a dict that holds itself: the depth limit stops a reader.
        a = nested()
        a["self"] = a
        a.pop("self", None)

    def swap_types():
        # str to list, int to dict, and back.
        shared["s"] = rng.choice(["hello", ["h", "e"], "hi"])
        shared["n"] = rng.choice([7, {"k": 7}, 8])

    def grow():
        # Past a resize of the bindings dict, and back.
        for j in range(30):
            shared[f"g{j}"] = j
        for j in range(30):
            shared.pop(f"g{j}", None)

    def restore():
        if rng.random() < 0.1:
            shared.update(fresh_bindings())

    return [replace_item, append, pop, rebind_nested, rebind_top, add_and_remove_keys, clear, cycle, swap_types,
            grow, restore]


def test_readers_and_writers_over_shared_bindings():
    shared = fresh_bindings()
    deadline = time.monotonic() + SECONDS
    failures = []
    counts = [0] * READERS
    start = threading.Barrier(READERS + WRITERS)

    def reader(i):
        rng = random.Random(i)
        calls = read_calls(shared)
        start.wait()
        while time.monotonic() < deadline:
            call = rng.choice(calls)
            try:
                result = call()
            except CLEAN_ERRORS:
                pass
            except BaseException as e:  # anything else is a fault
                failures.append(repr(e))
                return
            else:
                if not is_json(result):
                    failures.append(f"not JSON-like: {result!r}")
                    return
            counts[i] += 1

    def writer(i):
        rng = random.Random(1000 + i)
        steps = write_steps(shared, rng)
        start.wait()
        while time.monotonic() < deadline:
            try:
                rng.choice(steps)()
            except (IndexError, KeyError, ValueError):
                pass  # another writer emptied the list or took the key first
            except BaseException as e:
                failures.append(f"writer: {e!r}")
                return

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # with a GIL, switch threads as often as it allows
    try:
        threads = [threading.Thread(target=reader, args=(i,)) for i in range(READERS)]
        threads += [threading.Thread(target=writer, args=(i,)) for i in range(WRITERS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)

    assert failures == []
    assert all(n > 0 for n in counts), counts
    # The shared objects still give their single-thread results.
    assert EXPRESSIONS[0].eval(fresh_bindings()) is True
    assert PATHS[1].access(fresh_bindings()) == {"e": "x"}


# Whole values that writers put in place of one another, never changing
# one once it is in place: a read that looks at its binding once sees one
# of them (or none), so its result is one that a copy of one state gives.
class Opaque:
    pass


CYCLE = []
CYCLE.append(CYCLE)
# The last ones no copy converts: wherever one is, every read raises the
# copy's error, even one that a reader in place met only after its check.
STATES = ["abc", ["a", "b"], 5, {"k": 1, "a": [1]}, [1, 2, 3], None, ("a", "x"), "h\u00e9", 2**70,
          [{"k": ["a"]}], {"k": {"k": [2]}}, 1.5, True,
          Opaque(), "\ud800", {1: 2}, [10**400], CYCLE]
WHOLE_READS = (
    [Exp(text) for text in ("v", "len(v)", "contains(v, 'a')", "join(v, '-')", "v.k", "v[1]", "string(v)",
                            "w.v", "len(w.v)", "w.v.k[0]", "[w.v, 1]", "{'x': v}")]
    + [VarAccess(text) for text in ("v", "v.k", "v[0]", "w.v", "w.v.k")]
)


def whole_outcome(read, bindings):
    try:
        if isinstance(read, Exp):
            r = read.eval(bindings)
        else:
            r = read.access_from_bindings(bindings)
    except Exception as e:
        return (type(e).__name__, str(e))
    return ("ok", type(r).__name__, repr(r))


def race(read_step, write_step, readers, writers, seconds):
    """Readers call read_step(rng), which returns a failure or None, while
    writers call write_step(rng), all at once until `seconds` have passed
    or a reader fails. Returns the failures."""
    deadline = time.monotonic() + seconds
    failures = []
    start = threading.Barrier(readers + writers)

    def loop(seed, step, is_reader):
        rng = random.Random(seed)
        start.wait()
        while time.monotonic() < deadline and not failures:
            failure = step(rng)
            if is_reader and failure is not None:
                failures.append(failure)

    threads = [threading.Thread(target=loop, args=(i, read_step, True)) for i in range(readers)]
    threads += [threading.Thread(target=loop, args=(100 + i, write_step, False)) for i in range(writers)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return failures


def test_readers_see_whole_values_swapped_under_them():
    # Every outcome each read may have: over each state, bound directly and
    # inside a nested dict, and with the binding gone.
    cases = [{"v": s, "w": {"v": s}} for s in STATES] + [{"w": {}}, {"v": 0}]
    allowed = [{whole_outcome(read, b) for b in cases} for read in WHOLE_READS]
    shared = {"v": STATES[0], "w": {"v": STATES[0]}}
    fillers = [f"f{i}" for i in range(40)]

    def read(rng):
        j = rng.randrange(len(WHOLE_READS))
        got = whole_outcome(WHOLE_READS[j], shared)
        return None if got in allowed[j] else (str(WHOLE_READS[j]), got)

    def write(rng):
        step = rng.randrange(5)
        state = rng.choice(STATES)
        if step == 0:
            shared["v"] = state  # a value swapped for one of another type
        elif step == 1:
            shared["w"]["v"] = state  # inside a nested dict
        elif step == 2:
            shared["w"] = {"v": state}  # the nested dict replaced
        elif step == 3:
            # A key deleted and added again.
            shared.pop("v", None)
            shared["v"] = state
        else:
            # The bindings dict grown past a resize, and back.
            for k in fillers:
                shared[k] = len(k)
            for k in fillers:
                shared.pop(k, None)

    assert race(read, write, 3, 2, SECONDS / 2) == []


def test_lists_read_whole_while_appended_to_and_cleared():
    # The list only ever holds "x" items: whatever moment a read sees, its
    # result is that of some number of them.
    shared = {"l": [], "t": ("x",)}
    reads = [
        (Exp("join(l, '-')"), lambda r: r == "-".join(["x"] * (r.count("x")))),
        (Exp("len(l)"), lambda r: isinstance(r, int) and r >= 0),
        (Exp("contains(l, 'x') || len(t) == 1"), lambda r: r is True),
        (Exp("[l, t]"), lambda r: set(r[0]) <= {"x"} and r[1] == ["x"]),
        (VarAccess("l"), lambda r: isinstance(r, list) and set(r) <= {"x"}),
    ]

    def read(rng):
        reader, ok = rng.choice(reads)
        r = reader.eval(shared) if isinstance(reader, Exp) else reader.access_from_bindings(shared)
        return None if ok(r) else (str(reader), r)

    # One element read by index: the item, or the error with a length the
    # list had at some moment when it was too short for that index.
    def read_index(rng):
        reader = rng.choice([Exp("l[3]"), VarAccess("l[3]")])
        try:
            r = reader.eval(shared) if isinstance(reader, Exp) else reader.access_from_bindings(shared)
        except NameError as e:
            m = re.search(r"\(index: 3, length: (\d+)\)$", str(e))
            return None if m and int(m.group(1)) <= 3 else (str(reader), str(e))
        return None if r == "x" else (str(reader), r)

    def write(rng):
        lst = shared["l"]
        if len(lst) > 40 or rng.random() < 0.05:
            lst.clear()
        else:
            lst.append("x")
        if rng.random() < 0.01:
            shared["l"] = ["x"] * rng.randrange(5)  # the list itself replaced

    def read_any(rng):
        return read(rng) if rng.random() < 0.7 else read_index(rng)

    assert race(read_any, write, 2, 2, SECONDS / 2) == []
