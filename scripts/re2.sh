#!/usr/bin/env bash
# Sourced: a static RE2 that can go into a shared object, for the wheels.
# Debian's libre2.a is compiled without -fPIC, so it is built once more from
# Debian's source package of the very version whose headers are installed,
# with Debian's patches and its way of making the Unicode tables (from the
# unicode-data package).
#
#   re2_static     leaves the archive in RE2_STATIC_LIB and RE2's licence in RE2_LICENSE
#
# Needs scripts/setup.sh sourced first.

RE2_DEB_PACKAGES=(dpkg-dev python3 python3-six perl unicode-data)
RE2_CXXFLAGS="-O2 -g0 -fPIC -std=c++11"
RE2_PREFIX="$VINTREL_CACHE_DIR/re2-pic"

re2_static() {
  local version key
  version=$(dpkg-query -W -f='${source:Version}' libre2-dev) || return 1
  RE2_STATIC_LIB="$RE2_PREFIX/lib/libre2.a"
  RE2_LICENSE="$RE2_PREFIX/LICENSE"
  key=$(inputs_key "$version" "$RE2_CXXFLAGS")
  if cache_fresh "$RE2_PREFIX" "$key"; then
    echo "re2: the static library is cached in $RE2_PREFIX"
    return 0
  fi
  deb_install "${RE2_DEB_PACKAGES[@]}" || return 1
  echo "re2: building $version with $RE2_CXXFLAGS into $RE2_PREFIX"
  cache_begin "$RE2_PREFIX"
  local work
  work=$(mktemp -d "$VINTREL_CACHE_DIR/src-re2.XXXXXX")
  (
    set -e
    cd "$work"
    # The machine's apt sources list no source packages: a private list
    # of the same mirror's sources, leaving the system's apt state alone.
    mkdir -p lists/partial
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
      "$(debian_mirror)" "$(. /etc/os-release && echo "$VERSION_CODENAME")" \
      /usr/share/keyrings/debian-archive-keyring.gpg >src.sources
    apt_src=(-o Dir::Etc::SourceList="$work/src.sources" -o Dir::Etc::SourceParts=/dev/null
             -o Dir::State::Lists="$work/lists" -o APT::Sandbox::User=root)
    apt-get "${apt_src[@]}" update -qq >apt.log 2>&1 || { tail -20 apt.log; exit 1; }
    apt-get "${apt_src[@]}" source --download-only "re2=$version" >>apt.log 2>&1 || { tail -20 apt.log; exit 1; }
    dpkg-source -x ./*.dsc re2 >>apt.log 2>&1 || { tail -20 apt.log; exit 1; }
    cd re2
    # The table generators need Debian's python3 (with six), not pyenv's.
    PATH=/usr/bin:$PATH make -j2 REBUILD_TABLES=1 CXXFLAGS="$RE2_CXXFLAGS" obj/libre2.a >make.log 2>&1 ||
      { tail -40 make.log; exit 1; }
    mkdir -p "$RE2_PREFIX/lib"
    cp obj/libre2.a "$RE2_PREFIX/lib/"
    cp LICENSE "$RE2_PREFIX/"
  )
  local rc=$?
  rm -rf "$work"
  [ $rc = 0 ] || { echo "re2: building the static library failed" >&2; return 1; }
  cache_done "$RE2_PREFIX" "$key"
}
