#!/usr/bin/env bash
# Sourced: the cache folder kept outside the clone for what is slow to make
# and does not change with the project's sources (interpreters, a Debian
# root, compiler outputs), and the stamp protocol that says an item is whole.
#
# An item is a folder; its stamp, written only once the item is complete,
# holds a hash of everything the item was made from. A missing or different
# stamp means the item is rebuilt from scratch, so an interrupted build never
# passes for a finished one.

VINTREL_CACHE_DIR=${VINTREL_CACHE_DIR:-/var/cache/vintrel}
mkdir -p "$VINTREL_CACHE_DIR"

# Project builds in every stage share one compiler cache; the sanitizer and
# interpreter flags are part of each entry's key, so they never mix.
export CCACHE_DIR="$VINTREL_CACHE_DIR/ccache"
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
# Build folders differ between clones and stages: hashing paths relative to
# the clone lets a fresh clone hit the entries of the last one.
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1
if command -v ccache >/dev/null; then
  CCACHE_LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
else
  CCACHE_LAUNCHER=()
fi

# inputs_key WORDS...: the hash that a stamp holds.
inputs_key() { printf '%s\n' "$@" | sha256sum | cut -d' ' -f1; }

# cache_fresh DIR KEY: whether DIR was completed from the inputs KEY hashes.
cache_fresh() { [ -f "$1.stamp" ] && [ "$(cat "$1.stamp")" = "$2" ]; }

# cache_begin DIR: forgets DIR before it is made again.
cache_begin() { rm -rf --one-file-system "$1" "$1.stamp"; }

# cache_done DIR KEY: marks DIR complete; the last step of making it.
cache_done() { printf '%s\n' "$2" >"$1.stamp"; }
