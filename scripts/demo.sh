#!/usr/bin/env bash
# Builds and installs the module, then evaluates a few expressions.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
# Into the active virtual environment when there is one, else into the
# first interpreter of the set-up.
if [ -n "${VIRTUAL_ENV:-}" ] && [ -x "$VIRTUAL_ENV/bin/python" ]; then
  py="$VIRTUAL_ENV/bin/python"
  "$py" -m pip install -q --disable-pip-version-check scikit-build-core
else
  py="${PYTHONS[0]}"
fi
"$py" -m pip install -q --disable-pip-version-check --root-user-action=ignore --no-build-isolation .
"$py" examples/demo.py
