#!/usr/bin/env bash
# Sourced: builds a CPython 3.14 from the shared source release into the
# cache folder, once per set of configure flags, with the PyPI packages the
# tests need. Neither the free-threaded build nor its ThreadSanitizer variant
# is packaged for Debian.
#
#   cpython_build NAME CONFIGURE_FLAGS...   leaves the interpreter in CPYTHON
#
# Needs scripts/cache.sh sourced first.

CPYTHON_TARBALL_NAME=Python-3.14.7.tar.xz
CPYTHON_TARBALL_SHA256=60f7178c5e22029dd013b0180a371ec02251df45127255f0622fe3c08287e312
CPYTHON_PIP_PACKAGES=(pytest hypothesis numpy)
# What compiling CPython needs beyond a C compiler: pip reaches PyPI over
# ssl and unpacks wheels with zlib.
CPYTHON_DEB_PACKAGES=(make libssl-dev zlib1g-dev libffi-dev liblzma-dev libbz2-dev)

# cpython_tarball: the verified source release, next to the clone as CI lays
# out shared/, or where the development machines keep it.
cpython_tarball() {
  local f
  for f in "$PWD/../shared/cpython/$CPYTHON_TARBALL_NAME" "/work/shared/cpython/$CPYTHON_TARBALL_NAME"; do
    [ -f "$f" ] || continue
    if [ "$(sha256sum "$f" | cut -d' ' -f1)" != "$CPYTHON_TARBALL_SHA256" ]; then
      echo "cpython: $f does not have the sha256 $CPYTHON_TARBALL_SHA256" >&2
      return 1
    fi
    CPYTHON_TARBALL=$f
    return 0
  done
  echo "cpython: $CPYTHON_TARBALL_NAME is in neither $PWD/../shared/cpython/ nor /work/shared/cpython/" >&2
  return 1
}

cpython_build() {
  local name=$1
  shift
  local prefix="$VINTREL_CACHE_DIR/$name"
  local key
  CPYTHON="$prefix/bin/python3"
  cpython_tarball || return 1
  key=$(inputs_key "$CPYTHON_TARBALL_SHA256" "$*" "${CPYTHON_PIP_PACKAGES[*]}")
  if cache_fresh "$prefix" "$key"; then
    echo "cpython: $name is cached in $prefix"
    return 0
  fi
  deb_install "${CPYTHON_DEB_PACKAGES[@]}" || return 1
  echo "cpython: building $name (configure $*) into $prefix"
  cache_begin "$prefix"
  local src
  src=$(mktemp -d "$VINTREL_CACHE_DIR/src-$name.XXXXXX")
  (
    set -e
    cd "$src"
    tar xf "$CPYTHON_TARBALL" --strip-components=1
    ./configure --prefix="$prefix" --disable-test-modules --with-ensurepip=install "$@" >configure.log 2>&1 ||
      { tail -30 configure.log; exit 1; }
    make -j2 >make.log 2>&1 || { tail -40 make.log; exit 1; }
    # The standard library's byte code is written on first import instead:
    # compiling all of it at three optimisation levels is most of an
    # install's time, the more so for an instrumented interpreter.
    make install COMPILEALL_OPTS="-j0 -l" >install.log 2>&1 || { tail -40 install.log; exit 1; }
  )
  local rc=$?
  rm -rf "$src"
  [ $rc = 0 ] || { echo "cpython: building $name failed" >&2; return 1; }
  PIP_CACHE_DIR="$VINTREL_CACHE_DIR/pip" "$CPYTHON" -m pip install -q --disable-pip-version-check \
    --root-user-action=ignore --only-binary=:all: "${CPYTHON_PIP_PACKAGES[@]}" ||
    { echo "cpython: pip install for $name failed" >&2; return 1; }
  cache_done "$prefix" "$key"
}
