#!/usr/bin/env bash
# Builds the module in Release and times it against CPython's own evaluator
# and the peer evaluators from PyPI. Timing never fails the run.
# Extra arguments go to bench/bench.py (e.g. --quick, --times, --only rule).
# VINTREL_BENCH_PYTHON names another interpreter to run it on, such as the
# free-threaded CPython 3.14 that scripts/test.sh builds; "ft" stands for
# that one, built here first when it is not there yet.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
py="${VINTREL_BENCH_PYTHON:-${PYTHONS[0]}}"
if [ "$py" = ft ]; then
  source scripts/cpython.sh
  cpython_build cpython-ft --disable-gil
  py=$CPYTHON
fi
# One build folder per interpreter: the module is built for one ABI.
tag=$("$py" -c 'import sys, sysconfig; print(sys.implementation.cache_tag + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')
build="build/bench/$tag"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVINTREL_BUILD_TESTS=OFF \
  -DPython_EXECUTABLE="$py" -DVINTREL_EXTRA_PYTHONS="" >/dev/null
cmake --build "$build" -j2 --target vintrel_py

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

PYTHONPATH="$PWD/$build/py/primary" "$py" bench/bench.py "$@"
