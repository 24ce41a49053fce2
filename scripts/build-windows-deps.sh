#!/usr/bin/env bash
# Builds the third-party libraries of the 32-bit Windows cross build (Expat,
# Xerces-C, GoogleTest) as static MinGW libraries from Debian's own sources, into
# build/win32-deps/prefix. A library is rebuilt only when its source version or
# its recipe below changes, so a second run costs nothing.
#
#   scripts/build-windows-deps.sh
#   KIVET_JOBS=N                      parallel build jobs (default: cores)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/lib.sh"

deps="$root/build/win32-deps"
prefix="$deps/prefix"
toolchain="$root/cmake/toolchain-mingw-i686.cmake"
jobs=${KIVET_JOBS:-$(nproc)}
# What every library's build depends on besides its own source: the recipes
# below (bump `recipe` when one changes), the toolchain file and the compiler.
recipe=1
build_key() {
  echo "recipe $recipe toolchain $(sha256sum "$toolchain" | cut -c 1-16)" \
    "compiler $(i686-w64-mingw32-g++-posix -dumpfullversion)"
}

# Debian source entries mirroring the binary entries of the running release,
# derived from the machine's own apt configuration (both the deb822 and the
# one-line format), so that `apt-get source` reaches the same archive.
enable_source_entries() {
  if [ -n "$(apt-get indextargets 'Created-By: Sources' --format '$(URI)' 2>/dev/null)" ]; then
    return 0
  fi
  [ "$(id -u)" -eq 0 ] || { echo "Debian source entries are needed: run this once as root" >&2; exit 1; }
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { echo "cannot tell the Debian release from /etc/os-release" >&2; exit 1; }
  local out=/etc/apt/sources.list.d/kivet-deb-src
  local file
  rm -f "$out.sources" "$out.list"
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v code="$codename" '
      BEGIN { RS = ""; FS = "\n" }
      {
        types = 0; suites = 0; enabled = 1; body = ""
        for (i = 1; i <= NF; i++) {
          line = $i
          if (line ~ /^#/ || line ~ /^Architectures:/) continue
          if (line ~ /^Types:/) { if (line ~ /[ \t]deb([ \t]|$)/) types = 1; line = "Types: deb-src" }
          if (line ~ /^Suites:/ && line ~ ("[ \t]" code "([- \t]|$)")) suites = 1
          if (line ~ /^Enabled:[ \t]*(no|false)/) enabled = 0
          body = body line "\n"
        }
        if (types && suites && enabled) printf "%s\n", body
      }' "$file" >>"$out.sources"
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v code="$codename" '
      {
        line = $0
        gsub(/\[[^]]*\]/, "", line)  # [options] stand between the type and the URI
        split(line, f)
        if (f[1] == "deb" && (f[3] == code || index(f[3], code "-") == 1)) { sub(/^deb/, "deb-src"); print }
      }' "$file" >>"$out.list"
  done
  [ -s "$out.sources" ] || rm -f "$out.sources"
  [ -s "$out.list" ] || rm -f "$out.list"
  if [ ! -e "$out.sources" ] && [ ! -e "$out.list" ]; then
    echo "found no Debian $codename entry in the apt configuration to derive source entries from" >&2
    exit 1
  fi
  step "enabling Debian source entries"
  apt-get update -qq
}

# fetch_source PACKAGE: unpacks Debian's source package (with Debian's patches
# applied) under $deps/src and sets `srcdir` and `srcversion`. The newest
# version that the archive serves wins; an unpacked copy of it is reused.
fetch_source() {
  local package=$1 versions version
  local log="$deps/src/$package.log" scratch="$deps/src/.fetch"
  versions=$(source_versions "$package")
  if [ -z "$versions" ]; then
    # Source entries present, their lists not fetched yet.
    apt-get update -qq
    versions=$(source_versions "$package")
  fi
  [ -n "$versions" ] || { echo "apt knows no Debian source of $package" >&2; exit 1; }
  if [ -f "$deps/src/$package.version" ]; then
    srcversion=$(cat "$deps/src/$package.version")
    srcdir=$(source_dir "$package" "$srcversion")
    grep -qxF "$srcversion" <<<"$versions" && [ -d "$srcdir" ] && return 0
  fi
  mkdir -p "$deps/src"
  : >"$log"
  for version in $versions; do
    step "fetching Debian source of $package $version"
    rm -rf "$scratch"
    mkdir -p "$scratch"
    # apt downloads as root here when its own user cannot write the folder.
    if (cd "$scratch" && apt-get source -qq "$package=$version") >>"$log" 2>&1; then
      srcversion=$version
      srcdir=$(source_dir "$package" "$version")
      rm -rf "$deps/src/$package.version" "$srcdir"
      mv "$scratch/$(basename "$srcdir")" "$srcdir"
      rm -rf "$scratch"
      echo "$version" >"$deps/src/$package.version"
      return 0
    fi
    echo "  not available; trying an older version"
  done
  cat "$log" >&2
  echo "could not fetch any Debian source of $package" >&2
  exit 1
}

# source_versions PACKAGE: the versions apt knows, newest first.
source_versions() { apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -r -V -u; }

# source_dir PACKAGE VERSION: where dpkg-source unpacks it.
source_dir() {
  local upstream=${2#*:}
  echo "$deps/src/$1-${upstream%-*}"
}

# up_to_date NAME STAMP: true when NAME was built from the same STAMP.
up_to_date() { [ -f "$prefix/.stamp-$1" ] && [ "$(cat "$prefix/.stamp-$1")" = "$2" ]; }

# cmake_build NAME SOURCE_DIR CMAKE_ARGS...: configures, builds and installs one
# library into the prefix.
cmake_build() {
  local name=$1 src=$2
  shift 2
  local dir="$deps/build/$name" log="$deps/build/$name.log"
  rm -rf "$dir" "$prefix/.stamp-$name"
  cmake -S "$src" -B "$dir" -G Ninja --toolchain "$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    "$@" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
  cmake --build "$dir" -j "$jobs" >>"$log" 2>&1 || { grep -A 10 -m 5 'error' "$log" >&2; exit 1; }
  cmake --install "$dir" >>"$log" 2>&1 || { tail -n 30 "$log" >&2; exit 1; }
  rm -rf "$dir"
}

build_expat() {
  fetch_source expat
  local stamp="$srcversion $(build_key)"
  up_to_date expat "$stamp" && return 0
  step "building Expat $srcversion"
  # Debian's security patches test the feature macro with #if.
  sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$srcdir/expat/expat_config.h.cmake"
  cmake_build expat "$srcdir/expat" -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
    -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF
  echo "$stamp" >"$prefix/.stamp-expat"
}

build_xerces() {
  fetch_source xerces-c
  local stamp="$srcversion $(build_key)"
  up_to_date xerces-c "$stamp" && return 0
  step "building Xerces-C $srcversion"
  # Debian's repacked source leaves out the generated HTML documentation that
  # the install rules expect.
  mkdir -p "$srcdir/doc/html"
  # Only the library: its tests and samples do not build for this target.
  sed -i -e '/^add_subdirectory(tests)$/d' -e '/^add_subdirectory(samples)$/d' "$srcdir/CMakeLists.txt"
  cmake_build xerces-c "$srcdir" -Dtranscoder=windows -Dnetwork=OFF -Dmessage-loader=inmemory \
    -Dmutex-manager=windows -Dxmlch-type=wchar_t
  echo "$stamp" >"$prefix/.stamp-xerces-c"
}

build_googletest() {
  local version
  version=$(dpkg-query -W -f='${Version}' googletest)
  local stamp="$version $(build_key)"
  up_to_date googletest "$stamp" && return 0
  step "building GoogleTest $version"
  cmake_build googletest /usr/src/googletest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  echo "$stamp" >"$prefix/.stamp-googletest"
}

install_packages cmake ninja-build dpkg-dev g++-mingw-w64-i686 googletest
enable_source_entries
mkdir -p "$prefix" "$deps/build"
start=$SECONDS
build_expat
build_xerces
build_googletest
step "Windows dependencies ready in $((SECONDS - start)) s: $prefix"
