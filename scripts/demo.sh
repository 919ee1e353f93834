#!/usr/bin/env bash
# Builds and installs the module, then evaluates a few expressions.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
py="${PYTHONS[0]}"
"$py" -m pip install -q --disable-pip-version-check --root-user-action=ignore --no-build-isolation .
"$py" examples/demo.py
