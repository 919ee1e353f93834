#!/usr/bin/env bash
# Sourced: tests the wheels as users get them. Each wheel is installed into
# a fresh virtual environment of its interpreter, in a private mount
# namespace where RE2, ICU, their headers and pkg-config files and the
# compilers cannot be seen, and the pytest suite runs there on the installed
# module, from a copy of tests/ outside the clone.
#
#   wheel_tag PYTHON                  the tag part of its wheel's name: cp311, cp314t
#   installed_test PYTHON WHEEL DIR   makes DIR/venv with the wheel and runs the tests
#   hidden CMD...                     runs CMD with those files hidden
#
# Needs scripts/setup.sh sourced first.

INSTALLED_PIP_PACKAGES=(pytest hypothesis numpy)

wheel_tag() {
  "$1" -c 'import sys, sysconfig; print("cp%d%d%s" % (*sys.version_info[:2], "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))'
}

# Mounts over a file's real path see every name of it (the symlinks of
# libraries and of compiler alternatives); the namespace ends with CMD.
hidden() {
  unshare --mount --propagation private -- bash -c '
    for f in /usr/lib/*/libre2.* /usr/lib/*/libicu* /usr/lib/*/pkgconfig/re2.pc /usr/lib/*/pkgconfig/icu-*.pc \
        $(command -v cc c++ gcc g++ clang clang++ cpp); do
      f=$(readlink -f "$f") && [ -f "$f" ] && { mount --bind /dev/null "$f" || exit 1; }
    done
    for d in /usr/include/re2 /usr/include/unicode /usr/lib/gcc /usr/lib/llvm-*; do
      [ -d "$d" ] && { mount -t tmpfs -o ro,size=1m none "$d" || exit 1; }
    done
    exec "$@"
  ' hidden "$@"
}

installed_test() {
  local py=$1 whl=$2 dir
  rm -rf "$3"
  mkdir -p "$3"
  dir=$(cd "$3" && pwd)
  "$py" -m venv "$dir/venv" || return 1
  local vpy="$dir/venv/bin/python"
  PIP_CACHE_DIR="$VINTREL_CACHE_DIR/pip" "$vpy" -m pip install -q --disable-pip-version-check \
    --only-binary=:all: "${INSTALLED_PIP_PACKAGES[@]}" >"$dir/pip.log" 2>&1 || { cat "$dir/pip.log"; return 1; }
  # Where PyPI has a google-re2 wheel for this interpreter, the suite also
  # runs with that second RE2 in the process.
  PIP_CACHE_DIR="$VINTREL_CACHE_DIR/pip" "$vpy" -m pip install -q --disable-pip-version-check \
    --only-binary=:all: google-re2 >/dev/null 2>&1 && echo "installed: google-re2 is in the environment"
  local tests wheels check="$PWD/scripts/installed_check.py" rc=0
  wheels=$(cd "$(dirname "$whl")" && pwd)
  tests=$(mktemp -d /tmp/vintrel-tests.XXXXXX)
  # docs/ too: its examples are tests.
  cp -r tests docs "$tests/"
  (cd "$tests" && hidden sh -c '
      "$1" -m pip install -q --disable-pip-version-check --no-index --find-links "$2" vintrel &&
        "$1" "$3" && "$1" -m pytest tests -q -p no:cacheprovider' sh "$vpy" "$wheels" "$check") || rc=1
  rm -rf "$tests"
  return $rc
}

# typecheck_tools: mypy and pyright in a virtual environment of the cache,
# left in TYPECHECK_BIN; pyright brings its own Node.js from PyPI.
TYPECHECK_PIP_PACKAGES=(mypy "pyright[nodejs]")
typecheck_tools() {
  local venv="$VINTREL_CACHE_DIR/typecheck" key
  TYPECHECK_BIN="$venv/bin"
  key=$(inputs_key "$("${PYTHONS[0]}" -V 2>&1)" "${TYPECHECK_PIP_PACKAGES[*]}")
  cache_fresh "$venv" "$key" && return 0
  cache_begin "$venv"
  "${PYTHONS[0]}" -m venv "$venv" &&
    PIP_CACHE_DIR="$VINTREL_CACHE_DIR/pip" "$venv/bin/python" -m pip install -q --disable-pip-version-check \
      "${TYPECHECK_PIP_PACKAGES[@]}" >"$venv.log" 2>&1 || { cat "$venv.log"; return 1; }
  # pyright fetches nothing at its first run once it has been run here.
  "$venv/bin/pyright" --version >/dev/null || return 1
  cache_done "$venv" "$key"
}

# typecheck VENV: both checkers, strict, on tests/typing with the stubs
# installed in VENV; see tests/typing/misuse.py for how wrong calls count.
typecheck() {
  local vpy
  vpy="$(cd "$1" && pwd)/bin/python"
  (cd tests/typing &&
    "$TYPECHECK_BIN/mypy" --strict --no-incremental --cache-dir=/dev/null --python-executable "$vpy" use.py misuse.py &&
    "$TYPECHECK_BIN/pyright" --pythonpath "$vpy" -p pyrightconfig.json use.py misuse.py)
}

# sdist_check: the source distribution is made, and its configure step
# stops with what to install when the compilers or RE2 cannot be found.
sdist_check() {
  local out src rc=0
  out=$(mktemp -d /tmp/vintrel-sdist.XXXXXX)
  PIP_CACHE_DIR="$VINTREL_CACHE_DIR/pip" "${PYTHONS[0]}" -m build --sdist --outdir "$out" . >"$out/build.log" 2>&1 ||
    { cat "$out/build.log"; rm -rf "$out"; return 1; }
  tar xf "$out"/vintrel-*.tar.gz -C "$out"
  src=$(ls -d "$out"/vintrel-*/)
  configure_stops "$src" "$out/no-compiler" "apt install g++" hidden || rc=1
  configure_stops "$src" "$out/no-re2" "apt install libre2-dev" env PKG_CONFIG_LIBDIR=/nonexistent || rc=1
  rm -rf "$out"
  return $rc
}

# configure_stops SRC BUILD TEXT CMD...: configuring SRC under CMD must
# fail with a message that contains TEXT.
configure_stops() {
  local src=$1 build=$2 text=$3
  shift 3
  if "$@" cmake -S "$src" -B "$build" -G Ninja >"$build.log" 2>&1; then
    echo "sdist: configuring under '$*' went through where it should have stopped" >&2
    return 1
  fi
  # CMake wraps its messages.
  local said
  said=$(grep -A4 'vintrel:' "$build.log" | tr -s ' \n' ' ')
  [[ "$said" == *"$text"* ]] || { cat "$build.log"; echo "sdist: no '$text' in the message" >&2; return 1; }
  echo "sdist: under '$*' configure stops with:$said"
}
