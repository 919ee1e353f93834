#!/usr/bin/env bash
# Builds everything and runs every test, in these stages:
#   setup         the Debian and PyPI packages (scripts/setup.sh)
#   build         engine, engine tests and the module for every CPython 3.11+, warnings as errors
#   free-threaded the module's sources compiled (syntax only) as for a free-threaded
#                 CPython, against the newest headers here: no such build is installed
#   engine tests  the GoogleTest suite through ctest
#   fuzz          every libFuzzer target for a few seconds from its seed corpus
#   sanitizers    the engine tests and the pytest suite (primary Python) built and run
#                 once more under AddressSanitizer and UndefinedBehaviorSanitizer
#   pytest        the pytest suite on every CPython 3.11+
# Every stage runs even when an earlier one failed; the exit status is
# non-zero when any did. FUZZ_SECONDS sets the time per fuzz target.
set -uo pipefail
cd "$(dirname "$0")/.."

failed=()
stage() { printf '\n==== %s\n' "$*"; }
# run NAME CMD...: runs one step, recording NAME when it fails.
run() {
  local name=$1
  shift
  if ! "$@"; then
    failed+=("$name")
    echo "==== FAILED: $name"
    return 1
  fi
}
# built DIR TARGET: whether TARGET is up to date after a build that kept
# going past failures, so one broken target does not hide the others' tests.
built() { cmake --build "$1" --target "$2" -j2 >/dev/null 2>&1; }

stage "setup"
source scripts/setup.sh
export VINTREL_SETUP_DONE=1
set +e  # setup.sh turns on errexit; from here on every stage runs

# Hypothesis keeps its example database and caches out of the source tree.
export HYPOTHESIS_STORAGE_DIRECTORY="$PWD/build/hypothesis"

primary="${PYTHONS[0]}"
extra="${PYTHONS[*]:1}"
sanitizer_env=(UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1)

stage "build: build/test (g++, -Werror, Python ${PYTHONS[*]})"
if run "configure build/test" cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVINTREL_WERROR=ON -DPython_EXECUTABLE="$primary" -DVINTREL_EXTRA_PYTHONS="${extra// /;}" >/dev/null; then
  run "build build/test" cmake --build build/test -j2 -- -k 0
fi

newest="${PYTHONS[${#PYTHONS[@]}-1]}"
newest_include=$("$newest" -c "import sysconfig; print(sysconfig.get_paths()['include'])")
stage "free-threaded: binding sources with Py_GIL_DISABLED against $newest_include"
free_threaded_check() {
  local f ok=0
  for f in binding/src/*.cc binding/src/py_types/*.cc; do
    g++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -DPy_GIL_DISABLED=1 -I"$newest_include" \
      -Ibinding/src -Iengine/include "$f" || ok=1
  done
  return $ok
}
run "free-threaded compile" free_threaded_check

stage "engine tests (ctest)"
if built build/test engine_tests; then
  run "engine tests" ctest --test-dir build/test --output-on-failure --no-tests=error -j2
else
  echo "skipped: engine_tests did not build"
fi

stage "fuzz: every target for ${FUZZ_SECONDS:-5} s from fuzz/corpus (clang, ASan+UBSan)"
run "fuzz" bash scripts/fuzz.sh --scratch "${FUZZ_SECONDS:-5}"

stage "sanitizers: build/asan (g++, ASan+UBSan, -Werror)"
if run "configure build/asan" cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DVINTREL_SANITIZE=ON -DVINTREL_WERROR=ON \
    -DPython_EXECUTABLE="$primary" -DVINTREL_EXTRA_PYTHONS="" >/dev/null; then
  run "build build/asan" cmake --build build/asan -j2 -- -k 0
fi

stage "sanitizers: engine tests under ASan+UBSan"
if built build/asan engine_tests; then
  run "engine tests (sanitizers)" env "${sanitizer_env[@]}" ASAN_OPTIONS=detect_leaks=1 \
    ctest --test-dir build/asan --output-on-failure --no-tests=error -j2
else
  echo "skipped: engine_tests did not build"
fi

have_pytests=0
ls tests/test_*.py >/dev/null 2>&1 && have_pytests=1

stage "sanitizers: pytest under ASan+UBSan on $("$primary" -V 2>&1)"
if [ $have_pytests = 1 ] && built build/asan vintrel_py; then
  # The interpreter itself is not instrumented: the sanitizer runtimes are
  # preloaded, and Python's own allocator is bypassed so that ASan sees
  # every object's memory. Leaks are left to tests/test_leaks.py, since the
  # interpreter keeps much of its memory until exit.
  run "pytest (sanitizers)" env "${sanitizer_env[@]}" ASAN_OPTIONS=detect_leaks=0 PYTHONMALLOC=malloc \
    LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)" \
    VINTREL_SANITIZED=1 PYTHONPATH="$PWD/build/asan/py/primary" \
    "$primary" -m pytest tests -q -p no:cacheprovider
else
  echo "skipped: no Python tests, or the module did not build"
fi

if [ $have_pytests = 1 ]; then
  # The module targets, in the order of PYTHONS: vintrel_py, vintrel_py_0, ...
  i=-1
  for py in "${PYTHONS[@]}"; do
    ver=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    if [ $i -lt 0 ]; then target=vintrel_py dir=build/test/py/primary; else target=vintrel_py_$i dir=build/test/py/$ver; fi
    i=$((i + 1))
    stage "pytest on Python $ver"
    if built build/test $target; then
      run "pytest on Python $ver" env PYTHONPATH="$PWD/$dir" "$py" -m pytest tests -q -p no:cacheprovider
    else
      echo "skipped: the module for Python $ver did not build"
    fi
  done
fi

if [ ${#failed[@]} -gt 0 ]; then
  printf '\n==== FAILED stages: %s\n' "$(IFS=,; echo "${failed[*]}" | sed 's/,/, /g')"
  exit 1
fi
exit 0
