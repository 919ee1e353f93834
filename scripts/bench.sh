#!/usr/bin/env bash
# Builds the module in Release and times it against CPython's own evaluator
# and the peer evaluators from PyPI. Timing never fails the run.
# Extra arguments go to bench/bench.py (e.g. --quick, --times, --only rule).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
py="${PYTHONS[0]}"

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVINTREL_BUILD_TESTS=OFF \
  -DPython_EXECUTABLE="$py" >/dev/null
cmake --build build/bench -j2

# Peers are optional: one that does not install only loses its column.
for dist in jmespath cel-python common-expression-language cel-expr-python jsonlogic-rs simpleeval; do
  if "$py" -m pip show -q "$dist" >/dev/null 2>&1; then
    continue
  fi
  echo "bench: pip installing $dist"
  if ! "$py" -m pip install -q --disable-pip-version-check "$dist" >/dev/null 2>&1; then
    echo "bench: $dist did not install; its column is left out"
  fi
done

PYTHONPATH="$PWD/build/bench/py/primary" "$py" bench/bench.py "$@"
