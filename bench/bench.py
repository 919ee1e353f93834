"""Benchmark of vintrel against CPython's own evaluator and the safe
evaluators users would otherwise pick.

Prints one table: per case our time per call and, for every reference, the
ratio of its time to ours (above 1 means vintrel is faster), each figure the
median of repeated timeit runs in this process, and below it what each
value that the wide row adds to the rule row costs (every value is
checked, none read); then a memory check of repeated eval calls. Timing never makes the program fail.

Then the threads row: calls per second of the rule case with 1 and 2
threads, each thread with its own bindings or all sharing one bindings
dict, beside CPython's eval() doing the same.

    python bench/bench.py [--quick] [--times] [--only tiny,rule] [--no-memory] [--no-threads]
"""

import argparse
import gc
import json
import os
import copy
import statistics
import sys
import threading
import time
import timeit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peers as peerlib  # noqa: E402

# --- data -------------------------------------------------------------------

USER = {
    "id": 1234,
    "name": "Alice Archer",
    "age": 34,
    "email": "alice@example.com",
    "city": "Berlin",
    "score": 87.5,
    "active": True,
    "roles": ["admin", "dev"],
}


def filler(i):
    """The i-th unused binding of the wide case: a mix of the kinds real
    bindings hold."""
    kind = i % 6
    if kind == 0:
        return i
    if kind == 1:
        return f"text-{i}"
    if kind == 2:
        return i * 0.25
    if kind == 3:
        return i % 4 == 1
    if kind == 4:
        return [i, f"v{i}"]
    return {"k": i, "s": f"s{i}"}


WIDE = {"user": USER, **{f"e{i}": filler(i) for i in range(100)}}

TEXT_S = ",".join(f"item{i:02d}" for i in range(40))[:200]
assert len(TEXT_S) == 200

PATH_DOC = {
    "a": {"b": [{"c": 1}, {"c": 2}, {"c": "found", "d": True}], "e": "x"},
    "f": [1, 2, 3],
}


def large_doc(target_bytes=1_000_000):
    """A JSON-like dict of about `target_bytes` of JSON text."""
    def item(i):
        return {"id": i, "name": f"name-{i}", "score": i * 0.5, "active": i % 2 == 0,
                "tags": ["red", "green"], "parent": None}
    per_item = len(json.dumps({"k10000": item(10000)})) - 1
    n = target_bytes // per_item + 1
    return {f"k{i}": item(i) for i in range(n)}


RULE_EXP = "user.age >= 18 && startsWith(user.name, 'A') && contains(user.roles, 'admin')"
RULE_PY = "user['age'] >= 18 and user['name'].startswith('A') and 'admin' in user['roles']"
RULE_CEL = "user.age >= 18 && user.name.startsWith('A') && 'admin' in user.roles"
RULE_PEERS = {
    "jmespath": "user.age >= `18` && starts_with(user.name, 'A') && contains(user.roles, 'admin')",
    "celpy": RULE_CEL,
    "cel": RULE_CEL,
    "celcpp": RULE_CEL,
    # startsWith with a one-character prefix is a comparison of the first
    # character, the closest jsonlogic has.
    "jsonlogic": {"and": [{">=": [{"var": "user.age"}, 18]},
                          {"==": [{"substr": [{"var": "user.name"}, 0, 1]}, "A"]},
                          {"in": ["admin", {"var": "user.roles"}]}]},
    "simpleeval": RULE_PY,
}

# About 200 characters, with calls, comparisons, a float, ! and both logic
# operators, so that every part of the grammar shows in the parse time.
PARSE_EXP = ("user.age >= 18 && startsWith(user.name, 'A') && contains(user.roles, 'admin')"
             " || user.score > 50.5 && !user.active || len(user.email) >= 5"
             " && endsWith(user.email, '.com') && user.city != 'Paris'")
PARSE_PY = ("user['age'] >= 18 and user['name'].startswith('A') and 'admin' in user['roles']"
            " or user['score'] > 50.5 and not user['active'] or len(user['email']) >= 5"
            " and user['email'].endswith('.com') and user['city'] != 'Paris'")
PARSE_CEL = ("user.age >= 18 && user.name.startsWith('A') && 'admin' in user.roles"
             " || user.score > 50.5 && !user.active || size(user.email) >= 5"
             " && user.email.endsWith('.com') && user.city != 'Paris'")

TEXT_EXP = "format('{0}:{1}', join(split(s, ','), '-'), len(s))"

# matches with a pattern written in the expression, against re.search of
# the same pattern (re's own cache of compiled patterns included).
RX_PATTERN = r"^\w+@\w+\.\w+$"
RX_LIT_EXP = f"matches(user.email, r'{RX_PATTERN}')"
RX_LIT_PY = f"re.search(r'{RX_PATTERN}', user['email']) is not None"
RX_LIT_CEL = f"user.email.matches(r'{RX_PATTERN}')"

# Patterns a rule set takes from its data, each with a text it matches;
# ASCII, so that every peer's regex dialect agrees.
RX_DYN = [
    (r"^\w+@\w+\.\w+$", "alice@example.com"),
    (r"^\d{4}-\d{2}-\d{2}$", "2024-05-17"),
    (r"^[A-Z]{2}\d{2}", "DE89370400440532013000"),
    (r"\bcritical\b", "disk usage critical on node 7"),
    (r"^\+?\d[\d ]{6,14}$", "+49 30 1234567"),
    (r"^(GET|POST|PUT) /api/", "POST /api/v2/orders"),
    (r"\.(jpe?g|png|gif)$", "holiday/photo_0042.jpeg"),
    (r"^[\w.-]+$", "release-1.4.2"),
]
RX_DYN_PEERS = {"jmespath": None, "celpy": "s.matches(p)", "cel": "s.matches(p)", "celcpp": "s.matches(p)",
                "jsonlogic": None, "simpleeval": None}
TEXT_PY = "'{0}:{1}'.format('-'.join(s.split(',')), len(s))"


# --- cases ------------------------------------------------------------------

class Case:
    """One row: how to call vintrel, the CPython reference, each peer's
    expression (None: the peer cannot express it), the expected result and
    the targets as (column, minimum ratio)."""

    def __init__(self, key, label, bindings, ours, cpython, peers, expected, targets=(),
                 cpython_expected=...):
        self.key, self.label, self.bindings = key, label, bindings
        self.ours, self.cpython, self.peers = ours, cpython, peers
        self.expected, self.targets = expected, targets
        self.cpython_expected = expected if cpython_expected is ... else cpython_expected


def eval_call(vt, text, bindings):
    exp = vt.Exp(text)
    return lambda: exp.eval(bindings)


def make_cases(vt, doc):
    """vt is the vintrel module or None; every `ours` is a thunk building
    the callable so that a missing module only blanks that column."""
    cases = []

    tiny = {"a": 1}
    cases.append(Case(
        "tiny", "1 tiny  a == 1", tiny,
        lambda: eval_call(vt, "a == 1", tiny),
        lambda: peerlib.cpython_eval("a == 1", tiny),
        {"jmespath": "a == `1`", "celpy": "a == 1", "cel": "a == 1", "celcpp": "a == 1",
         "jsonlogic": {"==": [{"var": "a"}, 1]}, "simpleeval": "a == 1"},
        True,
        targets=[("CPython", 1 / 0.9, "<=0.9x CPython")]))

    rule_bindings = {"user": USER}
    cases.append(Case(
        "rule", "2 rule  8-field user", rule_bindings,
        lambda: eval_call(vt, RULE_EXP, rule_bindings),
        lambda: peerlib.cpython_eval(RULE_PY, rule_bindings),
        RULE_PEERS, True,
        targets=[("CPython", 1 / 1.2, "<=1.2x CPython"),
                 ("*peers", 1.0, "beats all peers"),
                 ("jmespath", 20.0, ">=20x jmespath")]))

    cases.append(Case(
        "wide", "3 wide  rule + 100 unused", WIDE,
        lambda: eval_call(vt, RULE_EXP, WIDE),
        lambda: peerlib.cpython_eval(RULE_PY, WIDE),
        RULE_PEERS, True))

    text_bindings = {"s": TEXT_S}
    text_expected = "{0}:{1}".format("-".join(TEXT_S.split(",")), len(TEXT_S))
    cases.append(Case(
        "text", "4 text  format/join/split", text_bindings,
        lambda: eval_call(vt, TEXT_EXP, text_bindings),
        lambda: peerlib.cpython_eval(TEXT_PY, text_bindings),
        {"jmespath": None,  # has join but no split and no format
         "celpy": None,     # no split, join or format in the language
         "cel": ("s.split(',').join('-') + ':' + string(size(s))", {"stdlib": True}),
         "celcpp": None,    # split and join need an extension library
         "jsonlogic": None,  # no split or join
         "simpleeval": ("'-'.join(s.split(',')) + ':' + str(len(s))",
                        {"functions": {"len": len}})},  # str.format is blocked
        text_expected))

    path_peers = {"jmespath": "a.b[2].c", "celpy": "a.b[2].c", "cel": "a.b[2].c", "celcpp": "a.b[2].c",
                  "jsonlogic": {"var": "a.b.2.c"}, "simpleeval": "a['b'][2]['c']"}

    def path_access():
        va = vt.VarAccess("a.b[2].c")
        return lambda: va.access(PATH_DOC)

    def path_bindings():
        va = vt.VarAccess("a.b[2].c")
        return lambda: va.access_from_bindings(PATH_DOC)

    cases.append(Case(
        "path", "5a path  access(doc)", PATH_DOC, path_access,
        lambda: peerlib.cpython_eval("a['b'][2]['c']", PATH_DOC),
        path_peers, "found", targets=[("CPython", 1.0, "<=1x CPython")]))
    cases.append(Case(
        "path", "5b path  access_from_bindings", PATH_DOC, path_bindings,
        lambda: peerlib.cpython_eval("a['b'][2]['c']", PATH_DOC),
        path_peers, "found", targets=[("CPython", 1.0, "<=1x CPython")]))

    def parse_ours():
        return lambda: vt.Exp(PARSE_EXP)

    def parse_cpython():
        return lambda: compile(PARSE_PY, "<e>", "eval")

    cases.append(Case(
        "parse", f"6 parse  {len(PARSE_EXP)} chars", None, parse_ours, parse_cpython,
        {"jmespath": None, "celpy": PARSE_CEL, "cel": PARSE_CEL, "celcpp": PARSE_CEL, "jsonlogic": None,
         "simpleeval": PARSE_PY},
        None,  # results are trees/code objects: not compared
        targets=[("CPython", 2.0, "<=1/2 compile()")]))

    if doc is not None:
        large_bindings = {"x": doc}
        cases.append(Case(
            "large", f"7 large  {len(json.dumps(doc)) / 1e6:.2f} MB doc", large_bindings,
            lambda: eval_call(vt, "x.k0", large_bindings),
            lambda: (lambda: json.dumps(doc)),
            {"jmespath": "x.k0", "celpy": "x.k0", "cel": "x.k0", "celcpp": "x.k0",
             "jsonlogic": {"var": "x.k0"}, "simpleeval": "x['k0']"},
            doc["k0"],
            targets=[("CPython", 1.0, "<=json.dumps")],
            cpython_expected=None))

    rx_targets = [("CPython", 1 / 1.5, "<=1.5x re.search"), ("celcpp", 10.0, ">=10x cel-expr-python")]
    lit_bindings = {"user": USER}
    cases.append(Case(
        "rx_lit", "8a rx_lit  matches, literal pattern", lit_bindings,
        lambda: eval_call(vt, RX_LIT_EXP, lit_bindings),
        lambda: peerlib.cpython_eval(RX_LIT_PY, lit_bindings, modules=("re",)),
        dict(RX_DYN_PEERS, celpy=RX_LIT_CEL, cel=RX_LIT_CEL, celcpp=RX_LIT_CEL),
        True, targets=rx_targets))

    # A list of bindings: every call takes the next one.
    dyn_bindings = [{"s": text, "p": pattern} for pattern, text in RX_DYN]
    cases.append(Case(
        "rx_dyn", "8b rx_dyn  matches, 8 patterns from data", dyn_bindings,
        lambda: peerlib.cycling(lambda b: eval_call(vt, "matches(s, p)", b), dyn_bindings),
        lambda: peerlib.cycling(
            lambda b: peerlib.cpython_eval("re.search(p, s) is not None", b, modules=("re",)), dyn_bindings),
        RX_DYN_PEERS, True, targets=rx_targets))
    return cases


# --- timing -----------------------------------------------------------------

def time_interleaved(fns, repeat, budget):
    """Per-call times of every callable in `fns` (name -> callable), timed in
    interleaved rounds so that a change in machine load hits all of them
    alike. Returns name -> list of seconds per call, one per round; each run
    lasts about `budget` seconds (timeit's autorange, scaled)."""
    timers, numbers = {}, {}
    for name, fn in fns.items():
        timer = timeit.Timer(fn)
        number, elapsed = timer.autorange()
        if budget != 0.2 and elapsed > 0:
            number = max(1, int(number * budget / max(elapsed, 1e-9)))
        timers[name], numbers[name] = timer, number
    rounds = {name: [] for name in fns}
    for _ in range(repeat):
        for name, timer in timers.items():
            rounds[name].append(timer.timeit(numbers[name]) / numbers[name])
    return rounds


def same_result(got, expected):
    if expected is None:
        return True
    try:
        return got == expected and bool(got) == bool(expected)
    except Exception:
        return False


def fmt_time(sec):
    if sec >= 1e-3:
        return f"{sec * 1e3:.2f} ms"
    return f"{sec * 1e6:.2f} us"


def count_values(v):
    """Every value in `v`, nested ones included (`v` itself not)."""
    if isinstance(v, dict):
        v = list(v.values())
    if not isinstance(v, (list, tuple)):
        return 0
    return sum(1 + count_values(x) for x in v)


def wide_per_value(times, cases):
    """What each value that the wide row adds to the rule row costs: all of
    them are checked, none is read."""
    bindings = {c.key: c.bindings for c in cases}
    extra = count_values(bindings["wide"]) - count_values(bindings["rule"])
    per = (times["wide"] - times["rule"]) / extra
    line = f"wide: {per * 1e9:.1f} ns per value for the {extra} values beyond the rule row's"
    if not gil_enabled():
        line += f" (target <=10 ns: {'ok' if per <= 10e-9 else 'MISS'})"
    return line


def fmt_ratio(r):
    if r >= 100:
        return f"{r:.0f}x"
    if r >= 10:
        return f"{r:.1f}x"
    if r >= 0.01:
        return f"{r:.2f}x"
    return f"{r:.1g}x"


def prepare_cell(build, expected, notes, where):
    """Builds one cell's callable and checks its result; returns the callable
    or an error marker string. Wrong results are not timed."""
    try:
        fn = build()
        if fn is None:
            return "n/a"
        got = fn()
    except Exception as exc:
        notes.append(f"{where}: {type(exc).__name__}: {str(exc)[:150]}")
        return "ERR"
    if not same_result(got, expected):
        notes.append(f"{where}: wrong result {str(got)[:80]!r}, expected {str(expected)[:80]!r}")
        return "WRONG"
    return fn


def peer_builder(name, mod, case):
    spec = case.peers.get(name)
    if case.key == "parse":
        if spec is None:
            return lambda: None
        return lambda: peerlib.build_peer_parse(name, mod, spec if isinstance(spec, str) else spec[0])
    if isinstance(case.bindings, list):
        if spec is None:
            return lambda: None
        return lambda: peerlib.cycling(lambda b: peerlib.build_peer(name, mod, spec, b), case.bindings)
    return lambda: peerlib.build_peer(name, mod, spec, case.bindings)


def check_targets(case, ratios, peer_names):
    """Texts of the form 'goal: ok' / 'goal: MISS' for this row."""
    out = []
    for col, minimum, label in case.targets:
        if col == "*peers":
            vals = [ratios.get(p) for p in peer_names]
            vals = [v for v in vals if isinstance(v, float)]
            if not vals:
                out.append(f"{label}: ?")
                continue
            ok = min(vals) > minimum
        else:
            v = ratios.get(col)
            if not isinstance(v, float):
                out.append(f"{label}: ?")
                continue
            ok = v >= minimum
        out.append(f"{label}: {'ok' if ok else 'MISS'}")
    return out


def print_table(headers, rows):
    widths = [max(len(str(r[i])) for r in [headers] + rows) for i in range(len(headers))]
    line = " | ".join(h.ljust(w) for h, w in zip(headers, widths))
    print(line)
    print("-+-".join("-" * w for w in widths))
    for r in rows:
        print(" | ".join(str(c).ljust(w) if i == 0 or i == len(r) - 1 else str(c).rjust(w)
                         for i, (c, w) in enumerate(zip(r, widths))))


def run_benchmark(vt, peer_mods, args):
    doc = large_doc() if "large" in args.only else None
    cases = [c for c in make_cases(vt, doc) if c.key in args.only]
    peer_names = list(peer_mods)
    columns = ["CPython"] + peer_names
    rows, abs_rows, notes = [], [], []
    our_times = {}
    for case in cases:
        cells = {"vintrel": prepare_cell(case.ours, case.expected, notes, f"{case.label} / vintrel")
                 if vt is not None else "-"}
        cells["CPython"] = prepare_cell(case.cpython, case.cpython_expected, notes,
                                        f"{case.label} / CPython")
        for name in peer_names:
            cells[name] = prepare_cell(peer_builder(name, peer_mods[name], case), case.expected,
                                       notes, f"{case.label} / {name}")
        rounds = time_interleaved({k: v for k, v in cells.items() if callable(v)},
                                  args.repeat, args.budget)
        for k, r in rounds.items():
            cells[k] = statistics.median(r)
        ours = cells["vintrel"]
        if isinstance(ours, float):
            our_times[case.key] = ours
        ratios = {}
        row = [case.label, fmt_time(ours) if isinstance(ours, float) else ours]
        for col in columns:
            v = cells[col]
            if isinstance(v, float) and isinstance(ours, float):
                # Median of the per-round ratios: each round's pair ran back to back.
                ratios[col] = statistics.median(a / b for a, b in zip(rounds[col], rounds["vintrel"]))
                row.append(fmt_ratio(ratios[col]))
            elif isinstance(v, float):
                row.append(f"[{fmt_time(v)}]")
            else:
                row.append(v)
        row.append("; ".join(check_targets(case, ratios, peer_names)) or "")
        rows.append(row)
        abs_rows.append([case.label, row[1]] + [fmt_time(cells[c]) if isinstance(cells[c], float)
                                                 else cells[c] for c in columns])
        print(f"  measured {case.label}", file=sys.stderr, flush=True)

    print()
    print("Time per call of vintrel, and each reference's time divided by it "
          "(>1: vintrel is faster).")
    print(f"Median of {args.repeat} interleaved runs of ~{args.budget:g} s each; "
          f"Python {sys.version.split()[0]}; load average {os.getloadavg()[0]:.1f}.")
    print()
    print_table(["case", "vintrel"] + columns + ["targets"], rows)
    if "wide" in our_times and "rule" in our_times:
        print(wide_per_value(our_times, cases))
    print()
    print("CPython column: eval() of a precompiled code object with the bindings as locals;")
    print("  row 6 compile(text, '<e>', 'eval'), row 7 json.dumps(doc),")
    print("  rows 8 re.search(pattern, text) is not None (through re's own pattern cache).")
    print("n/a: the peer cannot express the case (or, for parse, caches compiled text).")
    print("[t]: absolute time of a reference when vintrel has no figure.")
    if args.times:
        print()
        print("Absolute times per call:")
        print_table(["case", "vintrel"] + columns + [""], [r + [""] for r in abs_rows])
    if notes:
        print()
        print("Notes:")
        for n in notes:
            print("  " + n)


# --- threads ----------------------------------------------------------------

def gil_enabled():
    is_enabled = getattr(sys, "_is_gil_enabled", None)
    return True if is_enabled is None else is_enabled()


def throughput(make_call, threads, seconds):
    """Calls per second of `threads` threads, each calling make_call(i)()
    until `seconds` have passed. Every thread makes its callable first and
    all start together."""
    calls = [make_call(i) for i in range(threads)]
    counts = [0] * threads
    start = threading.Barrier(threads + 1)
    stop = [0.0]

    def worker(i):
        fn = calls[i]
        start.wait()
        end = stop[0]
        n = 0
        while True:
            for _ in range(200):
                fn()
            n += 200
            if time.perf_counter() >= end:
                break
        counts[i] = n

    workers = [threading.Thread(target=worker, args=(i,)) for i in range(threads)]
    for t in workers:
        t.start()
    began = time.perf_counter()
    stop[0] = began + seconds
    start.wait()
    for t in workers:
        t.join()
    return sum(counts) / (time.perf_counter() - began)


def threads_row(vt, repeat, seconds):
    """The rule case on 1 and 2 threads: how throughput grows with a
    second thread, each thread with its own bindings dict or all with one
    shared dict, for vintrel and for eval() alike. Rounds are interleaved;
    each figure is the median over them."""
    shared = {"user": copy.deepcopy(USER)}
    exp = vt.Exp(RULE_EXP)

    def own(i):
        return {"user": copy.deepcopy(USER)}

    def eval_own(i):
        bindings = own(i)
        return lambda: exp.eval(bindings)

    variants = {
        ("vintrel", "own"): eval_own,
        ("vintrel", "shared"): lambda i: lambda: exp.eval(shared),
        ("CPython", "own"): lambda i: peerlib.cpython_eval(RULE_PY, own(i)),
        ("CPython", "shared"): lambda i: peerlib.cpython_eval(RULE_PY, shared),
    }
    for key, make in variants.items():
        assert make(0)() is True, key
    rates = {(k, n): [] for k in variants for n in (1, 2)}
    for _ in range(repeat):
        for key, make in variants.items():
            for n in (1, 2):
                rates[(key, n)].append(throughput(make, n, seconds))
    med = {k: statistics.median(v) for k, v in rates.items()}

    print()
    print(f"Threads: rule case, calls per second (median of {repeat} interleaved runs of {seconds:g} s); "
          f"GIL {'on' if gil_enabled() else 'off'}, {os.cpu_count()} CPUs.")
    print()
    headers = ["threads"] + [f"{who} {how}" for who, how in variants]
    rows = [[f"{n} thread{'s' if n > 1 else ''}"] + [f"{med[(k, n)] / 1e3:,.0f} k/s" for k in variants]
            for n in (1, 2)]
    scale = {k: med[(k, 2)] / med[(k, 1)] for k in variants}
    rows.append(["2 / 1"] + [f"{scale[k]:.2f}x" for k in variants])
    print_table(headers + [""], [r + [""] for r in rows])
    if not gil_enabled():
        own_ok = scale[("vintrel", "own")] >= 1.8
        shared_ok = scale[("vintrel", "shared")] >= scale[("CPython", "shared")]
        print(f"targets: own bindings >=1.8x from 1 to 2 threads: {'ok' if own_ok else 'MISS'}; "
              f"shared bindings no lower than eval()'s scaling: {'ok' if shared_ok else 'MISS'}")


# --- memory -----------------------------------------------------------------

PAGE = os.sysconf("SC_PAGE_SIZE")


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def memory_check(vt, calls):
    """RSS growth over `calls` eval calls after a warm-up, success and
    error paths mixed; passes below 1 MB."""
    ops = [
        (vt.Exp(RULE_EXP), {"user": USER}),
        (vt.Exp("missing.x"), {"user": USER}),                  # NameError
        (vt.Exp(TEXT_EXP), {"s": TEXT_S}),
        (vt.Exp("int(user.name)"), {"user": USER}),             # ValueError
        (vt.Exp(RULE_EXP), WIDE),
        (vt.Exp("len(user.age)"), {"user": USER}),              # TypeError
        (vt.Exp("[user, {'k': split(s, ',')}]"), {"user": USER, "s": TEXT_S}),
        (vt.Exp("user.roles[5]"), {"user": USER}),              # index past the end
    ]
    n_ops = len(ops)
    counts = {"ok": 0, "error": 0, "panic": 0}

    def loop(n):
        ok = err = panic = 0
        for i in range(n):
            exp, b = ops[i % n_ops]
            try:
                exp.eval(b)
                ok += 1
            except Exception:
                err += 1
            except BaseException as exc:  # PanicException derives from it
                if isinstance(exc, KeyboardInterrupt):
                    raise
                panic += 1
        counts["ok"] += ok
        counts["error"] += err
        counts["panic"] += panic

    def reset():
        counts.update(ok=0, error=0, panic=0)

    before, after = rss_around(loop, calls, calls // 10, reset)
    growth = after - before
    ok = growth < 1 << 20 and counts["panic"] == 0
    print()
    print(f"Memory: RSS {before / 2**20:.1f} MB -> {after / 2**20:.1f} MB after {calls:,} "
          f"eval calls ({counts['ok']:,} results, {counts['error']:,} errors, "
          f"{counts['panic']} panics): growth {growth / 1024:.0f} KiB, "
          f"limit 1024 KiB: {'PASS' if ok else 'FAIL'}")
    return ok


def rss_around(loop, calls, warmup, between=lambda: None):
    """RSS before and after loop(calls), measured once loop(warmup) has
    reached the steady state."""
    loop(warmup)
    between()
    gc.collect()
    before = rss_bytes()
    loop(calls)
    gc.collect()
    return before, rss_bytes()


def matches_memory_check(vt, calls, distinct):
    """RSS growth over `calls` matches calls whose patterns come from the
    data, `distinct` different ones in turn: far more than the process-wide
    cache keeps, so nearly every call compiles and evicts. Some patterns
    fail to compile, some spell out Unicode classes. Passes below 1 MB."""
    exp = vt.Exp("matches(s, p)")
    data = []
    for i in range(distinct):
        if i % 50 == 0:
            data.append({"s": "x", "p": f"({i}"})  # does not compile
        elif i % 100 == 1:
            data.append({"s": f"k{i}x9", "p": f"^k{i}x\\d+$"})
        else:
            data.append({"s": f"k{i}x", "p": f"^k{i}x$"})
    counts = {"true": 0, "error": 0, "other": 0}

    def loop(n):
        for i in range(n):
            try:
                r = exp.eval(data[i % distinct])
                counts["true" if r is True else "other"] += 1
            except ValueError:
                counts["error"] += 1

    def reset():
        counts.update(true=0, error=0, other=0)

    before, after = rss_around(loop, calls, distinct, reset)
    growth = after - before
    ok = growth < 1 << 20 and counts["other"] == 0
    print(f"Memory: RSS {before / 2**20:.1f} MB -> {after / 2**20:.1f} MB after {calls:,} "
          f"matches calls over {distinct:,} patterns ({counts['true']:,} matched, "
          f"{counts['error']:,} invalid, {counts['other']} wrong): growth {growth / 1024:.0f} KiB, "
          f"limit 1024 KiB: {'PASS' if ok else 'FAIL'}")
    return ok


# --- main -------------------------------------------------------------------

ALL_CASES = ["tiny", "rule", "wide", "text", "path", "parse", "large", "rx_lit", "rx_dyn"]


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="3 runs of ~0.05 s (rough figures)")
    ap.add_argument("--repeat", type=int, default=7)
    ap.add_argument("--budget", type=float, default=0.2, help="seconds per timed run")
    ap.add_argument("--only", default=",".join(ALL_CASES), help="comma-separated case keys")
    ap.add_argument("--times", action="store_true", help="also print absolute times")
    ap.add_argument("--no-memory", action="store_true")
    ap.add_argument("--no-threads", action="store_true")
    ap.add_argument("--thread-seconds", type=float, default=0.5, help="seconds per threads run")
    ap.add_argument("--memory-calls", type=int, default=10**6)
    ap.add_argument("--rx-patterns", type=int, default=10**5,
                    help="distinct patterns of the matches memory check")
    args = ap.parse_args(argv)
    if args.quick:
        args.repeat, args.budget = 3, 0.05
    args.only = [k.strip() for k in args.only.split(",") if k.strip()]

    try:
        import vintrel as vt
        print(f"vintrel: {vt.__file__}")
    except Exception as exc:
        vt = None
        print(f"vintrel: not importable ({type(exc).__name__}: {exc}); "
              "peers are timed alone")
    peer_mods, missing = peerlib.load_peers()
    print("peers: " + ", ".join(f"{n} {peerlib.version_of(n)}" for n in peer_mods))
    for name, why in missing.items():
        print(f"peer {name} ({peerlib.PEER_DISTRIBUTIONS[name]}) not installed: {why}")

    run_benchmark(vt, peer_mods, args)
    if vt is not None and not args.no_threads:
        threads_row(vt, args.repeat if not args.quick else 3, args.thread_seconds / (4 if args.quick else 1))
    if vt is not None and not args.no_memory:
        memory_check(vt, args.memory_calls)
        matches_memory_check(vt, args.memory_calls, args.rx_patterns)
    return 0


if __name__ == "__main__":
    sys.exit(main())
