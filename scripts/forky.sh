#!/usr/bin/env bash
# Sourced: a Debian testing root in the cache folder, whose default Python
# is CPython 3.14 and whose compiler and RE2 are newer than the host's,
# made once and made again only when its package list changes.
#
#   forky_root               leaves the root's folder in FORKY_ROOT
#   forky_run CMD...         runs CMD in the root, with the clone at /src
#
# Needs scripts/cache.sh sourced first.

FORKY_SUITE=forky
FORKY_PACKAGES=(python3 python3-dev python3-pytest python3-hypothesis python3-numpy g++ cmake ninja-build
                pkg-config libre2-dev libgtest-dev ccache)
FORKY_ROOT="$VINTREL_CACHE_DIR/$FORKY_SUITE-root"

forky_root() {
  local key
  key=$(inputs_key "$FORKY_SUITE" "${FORKY_PACKAGES[*]}")
  if cache_fresh "$FORKY_ROOT" "$key"; then
    echo "forky: the root is cached in $FORKY_ROOT"
    return 0
  fi
  deb_install debootstrap || return 1
  local mirror
  mirror=$(debian_mirror)
  echo "forky: making the root in $FORKY_ROOT from $mirror"
  cache_begin "$FORKY_ROOT"
  # The host's debootstrap predates forky; testing is laid out as sid is.
  if ! debootstrap --variant=minbase --include="$(IFS=,; echo "${FORKY_PACKAGES[*]}")" \
      "$FORKY_SUITE" "$FORKY_ROOT" "$mirror" /usr/share/debootstrap/scripts/sid >"$FORKY_ROOT.log" 2>&1; then
    tail -30 "$FORKY_ROOT.log"
    [ -f "$FORKY_ROOT/debootstrap/debootstrap.log" ] && tail -30 "$FORKY_ROOT/debootstrap/debootstrap.log"
    echo "forky: debootstrap failed" >&2
    return 1
  fi
  # Downloaded packages are not needed once unpacked.
  rm -rf "$FORKY_ROOT"/var/cache/apt/archives/*.deb
  cache_done "$FORKY_ROOT" "$key"
}

# The root sees the clone at /src and its own compiler cache; /proc is
# mounted in a mount namespace of the command's own, so nothing stays
# mounted when it ends, however it ends.
forky_run() {
  mkdir -p "$FORKY_ROOT/src" "$FORKY_ROOT/ccache" "$VINTREL_CACHE_DIR/ccache-$FORKY_SUITE"
  unshare --mount --propagation private -- /bin/sh -c '
    root=$1 src=$2 cc=$3
    shift 3
    mount -t proc proc "$root/proc" &&
      mount --bind "$src" "$root/src" &&
      mount --bind "$cc" "$root/ccache" &&
      exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        CCACHE_DIR=/ccache CCACHE_MAXSIZE=2G CCACHE_BASEDIR=/src CCACHE_NOHASHDIR=1 "$@"
  ' sh "$FORKY_ROOT" "$PWD" "$VINTREL_CACHE_DIR/ccache-$FORKY_SUITE" "$@"
}
