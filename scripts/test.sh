#!/usr/bin/env bash
# Builds everything and runs every test: the engine's GoogleTest suite and
# the pytest suite on each CPython 3.11+ the machine has.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

extra="${PYTHONS[*]:1}"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVINTREL_WERROR=ON \
  -DPython_EXECUTABLE="${PYTHONS[0]}" -DVINTREL_EXTRA_PYTHONS="${extra// /;}" >/dev/null
cmake --build build/test

status=0
ctest --test-dir build/test --output-on-failure -j2 || status=1

if ls tests/test_*.py >/dev/null 2>&1; then
  for py in "${PYTHONS[@]}"; do
    ver=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    dir=build/test/py/$ver
    [ "$py" = "${PYTHONS[0]}" ] && dir=build/test/py/primary
    echo "== pytest on Python $ver"
    PYTHONPATH="$PWD/$dir" "$py" -m pytest tests -q -p no:cacheprovider || status=1
  done
fi
exit $status
