"""Runs one benchmark case's vintrel call in a tight loop, for a profiler:

    perf record -e cpu-clock -g -- python bench/profile_case.py rule 2000000
    valgrind --tool=callgrind python bench/profile_case.py rule 20000

The case keys are those of bench.py (tiny, rule, wide, text, path, pathb,
parse, large, rx_lit, rx_dyn); pathb is access_from_bindings. A third
argument `ref` runs the CPython reference of the case instead, for
comparison.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402
import vintrel  # noqa: E402


def main():
    key = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    want_label = None
    if key == "pathb":
        key, want_label = "path", "5b"
    elif key == "path":
        want_label = "5a"
    doc = bench.large_doc() if key == "large" else None
    cases = [c for c in bench.make_cases(vintrel, doc) if c.key == key]
    if want_label:
        cases = [c for c in cases if c.label.startswith(want_label)]
    ref = len(sys.argv) > 3 and sys.argv[3] == "ref"
    fn = cases[0].cpython() if ref else cases[0].ours()
    fn()
    for _ in range(n):
        fn()


if __name__ == "__main__":
    main()
