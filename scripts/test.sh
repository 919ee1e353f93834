#!/usr/bin/env bash
# Builds everything and runs every test, in these stages:
#   setup         the Debian and PyPI packages (scripts/setup.sh)
#   build         engine, engine tests and the module for every CPython 3.11+, warnings as errors
#   engine tests  the GoogleTest suite through ctest
#   fuzz          every libFuzzer target for a few seconds from its seed corpus
#   sanitizers    the engine tests and the pytest suite (primary Python) built and run
#                 once more under AddressSanitizer and UndefinedBehaviorSanitizer
#   pytest        the pytest suite on every CPython 3.11+
#   3.14          a Debian testing root (CPython 3.14, its newer g++ and RE2):
#                 the engine tests and the module built there, ctest and pytest
#   3.14t         free-threaded CPython 3.14 built from source: the module, a check
#                 that importing it keeps the GIL off, pytest and a longer thread stress
#   tsan          the same interpreter and module under ThreadSanitizer: the thread
#                 tests and the stress; any race reported in our code fails
#   wheels        make wheel: the repaired wheel of each of those CPythons, in dist/
#   installed     each wheel in a fresh venv, pytest on the installed module with RE2,
#                 ICU and the compilers hidden (and google-re2 beside it where it has a wheel)
#   types         mypy --strict and pyright on tests/typing with the installed stubs
#   sdist         the sdist is made; its configure step names what is missing
# Every stage runs even when an earlier one failed; the exit status is
# non-zero when any did. FUZZ_SECONDS sets the time per fuzz target,
# VINTREL_STRESS_SECONDS the thread stress of the last two stages. What is
# slow to make and independent of the sources (the root, the interpreters,
# compiler outputs) is kept in VINTREL_CACHE_DIR (/var/cache/vintrel).
set -uo pipefail
cd "$(dirname "$0")/.."

failed=()
timings=()
stage_name="" stage_start=$SECONDS
# stage TITLE: starts a stage; the one before it reports its time.
stage() {
  stage_end
  stage_name=$1 stage_start=$SECONDS
  printf '\n==== %s\n' "$*"
}
stage_end() {
  [ -n "$stage_name" ] || return 0
  local took=$((SECONDS - stage_start))
  timings+=("$(printf '%5d s  %s' "$took" "${stage_name%% (*}")")
  printf -- '---- %d s\n' "$took"
}
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
if run "configure build/test" cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${CCACHE_LAUNCHER[@]}" \
    -DVINTREL_WERROR=ON -DPython_EXECUTABLE="$primary" -DVINTREL_EXTRA_PYTHONS="${extra// /;}" >/dev/null; then
  run "build build/test" cmake --build build/test -j2 -- -k 0
fi

stage "engine tests (ctest)"
if built build/test engine_tests; then
  run "engine tests" ctest --test-dir build/test --output-on-failure --no-tests=error -j2
else
  echo "skipped: engine_tests did not build"
fi

stage "fuzz: every target for ${FUZZ_SECONDS:-5} s from fuzz/corpus (clang, ASan+UBSan)"
run "fuzz" bash scripts/fuzz.sh --scratch "${FUZZ_SECONDS:-5}"

stage "sanitizers: build/asan (g++, ASan+UBSan, -Werror)"
if run "configure build/asan" cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug "${CCACHE_LAUNCHER[@]}" \
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

stage "3.14: Debian testing root, its g++ (-Werror), ctest and pytest"
source scripts/forky.sh
# The root's own interpreter is the primary one; the build folder is the
# clone's, seen from inside the root.
if run "3.14 root" forky_root &&
  run "3.14 configure" forky_run cmake -S /src -B /src/build/forky -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DVINTREL_WERROR=ON -DPython_EXECUTABLE=/usr/bin/python3 >/dev/null &&
  run "3.14 build" forky_run cmake --build /src/build/forky -j2; then
  run "3.14 engine tests" forky_run ctest --test-dir /src/build/forky --output-on-failure --no-tests=error -j2
  [ $have_pytests = 1 ] && run "3.14 pytest" forky_run env PYTHONPATH=/src/build/forky/py/primary \
    HYPOTHESIS_STORAGE_DIRECTORY=/src/build/hypothesis python3 -m pytest /src/tests -q -p no:cacheprovider
fi

source scripts/cpython.sh
# build_for_cpython DIR PYTHON CMAKE_ARGS...: the module alone for one
# interpreter built from source, warnings as errors.
build_for_cpython() {
  local dir=$1 py=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja "${CCACHE_LAUNCHER[@]}" -DVINTREL_WERROR=ON -DVINTREL_BUILD_TESTS=OFF \
    -DPython_EXECUTABLE="$py" -DVINTREL_EXTRA_PYTHONS="" "$@" >/dev/null &&
    cmake --build "$dir" -j2 --target vintrel_py
}
# Importing the module must not turn the GIL back on, as a module without
# the free-threading declaration would.
# gil_stays_off PYTHON MODULE_DIR [ENV...]
gil_stays_off() {
  env "${@:3}" PYTHONPATH="$PWD/$2" "$1" -c \
    'import sys, vintrel; sys.exit("the GIL is on after importing vintrel" if sys._is_gil_enabled() else 0)'
}
stress_env=(VINTREL_STRESS_SECONDS="${VINTREL_STRESS_SECONDS:-20}")
# A process that a fault left hung (as ThreadSanitizer's may after a crash)
# fails its stage instead of holding the whole run.
bounded=(timeout --kill-after=30 1200)

stage "3.14t: free-threaded CPython 3.14 (build/ft)"
if run "3.14t interpreter" cpython_build cpython-ft --disable-gil &&
  run "3.14t build" build_for_cpython build/ft "$CPYTHON" -DCMAKE_BUILD_TYPE=RelWithDebInfo; then
  run "3.14t GIL stays off" gil_stays_off "$CPYTHON" build/ft/py/primary
  run "3.14t pytest" "${bounded[@]}" env "${stress_env[@]}" PYTHONPATH="$PWD/build/ft/py/primary" \
    "$CPYTHON" -m pytest tests -q -p no:cacheprovider
fi

stage "tsan: free-threaded CPython 3.14 and the module under ThreadSanitizer (build/tsan)"
# Reports inside CPython or the uninstrumented libraries are suppressed in
# scripts/tsan.supp, each with its reason; any other report makes the
# interpreter exit non-zero. pytest captures only Python's own output, so
# that the reports reach the log even when every test passed.
tsan_env=(TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp exitcode=66 second_deadlock_stack=1 history_size=4"
          VINTREL_SANITIZED=1)
if run "tsan interpreter" cpython_build cpython-ft-tsan --disable-gil --with-thread-sanitizer &&
  run "tsan build" build_for_cpython build/tsan "$CPYTHON" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread" -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=thread"; then
  run "tsan GIL stays off" gil_stays_off "$CPYTHON" build/tsan/py/primary "${tsan_env[@]}"
  run "tsan thread tests" "${bounded[@]}" env "${tsan_env[@]}" "${stress_env[@]}" PYTHONPATH="$PWD/build/tsan/py/primary" \
    "$CPYTHON" -m pytest tests/test_threads.py tests/test_stress_threads.py -q -p no:cacheprovider --capture=sys
fi

stage "wheels: make wheel into dist/ (RE2, libstdc++ and libgcc linked in; auditwheel)"
run "make wheel" bash scripts/wheel.sh

source scripts/installed.sh
# The interpreters that make wheel builds for, each with its wheel.
wheel_pythons=("${PYTHONS[@]}")
cpython_build cpython-314 >/dev/null && wheel_pythons+=("$CPYTHON")
cpython_build cpython-ft --disable-gil >/dev/null && wheel_pythons+=("$CPYTHON")
for py in "${wheel_pythons[@]}"; do
  tag=$(wheel_tag "$py")
  stage "installed: the $tag wheel in a fresh venv, RE2, ICU and the compilers hidden, pytest"
  whl=$(ls dist/vintrel-*-"${tag%t}"-"$tag"-*.whl 2>/dev/null | head -1)
  if [ -n "$whl" ]; then
    run "installed $tag" "${bounded[@]}" bash -c 'source scripts/cache.sh && source scripts/installed.sh &&
      installed_test "$@"' installed "$py" "$whl" "build/installed/$tag"
  else
    echo "skipped: no $tag wheel in dist/"
    failed+=("installed $tag")
  fi
done

primary_tag=$(wheel_tag "$primary")
stage "types: mypy --strict and pyright (strict) on tests/typing, with the $primary_tag wheel's stubs"
if [ -x "build/installed/$primary_tag/venv/bin/python" ]; then
  run "typecheck tools" typecheck_tools && run "types" typecheck "build/installed/$primary_tag/venv"
else
  echo "skipped: the $primary_tag wheel is not installed"
fi

stage "sdist: python -m build --sdist; its configure step names what is missing"
run "sdist" sdist_check
stage_end

printf '\n==== time per stage\n'
printf '%s\n' "${timings[@]}"
printf '%5d s  total\n' "$SECONDS"

if [ ${#failed[@]} -gt 0 ]; then
  printf '\n==== FAILED stages: %s\n' "$(IFS=,; echo "${failed[*]}" | sed 's/,/, /g')"
  exit 1
fi
exit 0
