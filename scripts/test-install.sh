#!/usr/bin/env bash
# Installs a built tree into a temporary prefix, moves the prefix elsewhere and
# uses it as another project would: checks the installed files, the library's
# SONAME and exported symbols and that every installed header compiles on its
# own; builds a small host once with CMake's find_package(kivet) and once with
# pkg-config, runs both (a signature of generated PCM made with the installed
# default configuration, found through the package's KIVET_CONFIG_DIR and
# pkg-config's configdir, saved and read back by the installed kivet-inspect)
# and runs the installed example hosts.
#
#   scripts/test-install.sh [TREE]     TREE: a built Linux tree (default build/release)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/lib.sh"

tree=$(cd "${1:-$root/build/release}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kivet-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Nothing from the environment may point the host at a library: it finds the
# installed one by itself.
unset LD_LIBRARY_PATH PKG_CONFIG_PATH CMAKE_PREFIX_PATH

fail() {
  echo "test-install: $*" >&2
  exit 1
}

step "install $tree into a temporary prefix"
cmake --install "$tree" --prefix "$work/staged" >/dev/null
# The prefix is used from another place than the one it was installed to: what
# refers to the installed tree must do so relative to itself.
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

pc=$(find "$prefix" -path '*/pkgconfig/kivet.pc')
[ -n "$pc" ] || fail "no kivet.pc installed"
export PKG_CONFIG_LIBDIR=${pc%/kivet.pc}
version=$(pkg-config --modversion kivet)
interface=${version%.*}
libdir=$(realpath "$(pkg-config --variable=libdir kivet)")
library=$libdir/libkivet.so.$version

check_layout() {
  local file
  for file in "$library" "$prefix/include/kivet/kivet.h" "$prefix/share/kivet/default.xml" \
    "$libdir/cmake/kivet/kivetConfig.cmake" "$libdir/cmake/kivet/kivetConfigVersion.cmake"; do
    [ -f "$file" ] || fail "not installed: ${file#"$prefix"/}"
  done
  local soname
  soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ "$soname" = "libkivet.so.$interface" ] || fail "SONAME is '$soname', not libkivet.so.$interface"
  for file in "libkivet.so.$interface" libkivet.so; do
    [ "$(readlink -f "$libdir/$file")" = "$(readlink -f "$library")" ] || fail "$file does not lead to $library"
  done
  local leaks
  leaks=$(grep -rIl -e "$work/staged" -e "$root" -e "$tree" "$prefix" || true)
  [ -z "$leaks" ] || fail "paths of the build or the install step in: ${leaks//$'\n'/ }"
  for file in "$prefix"/bin/* "$libdir"/libkivet.so.*; do
    [ -f "$file" ] && [ ! -L "$file" ] || continue
    if readelf -d "$file" | grep -E 'R(UN)?PATH' | grep -q -e "$work" -e "$root" -e "$tree"; then
      fail "${file#"$prefix"/} searches for libraries in the build or install folder"
    fi
  done
  echo "kivet $version: $(basename "$library"), SONAME $soname"
}

# The library exports the programming interface (namespace vemra_kivet) and
# the factories of the 24 built-in extraction modules, nothing else.
check_symbols() {
  local symbols unexpected count
  symbols=$(nm -D --defined-only "$library" | awk '{ print $3 }' | c++filt)
  unexpected=$(grep -Ev -e '^((typeinfo|typeinfo name|vtable) for )?vemra_kivet::' \
    -e '^[A-Za-z0-9_]+::(newInstance\(SettingsBase\*, SettingsBase\*\)|getModuleInfo\(\))$' \
    -e '^CFexModule::deleteInstance\(CFexModule\*\)$' <<<"$symbols" || true)
  [ -z "$unexpected" ] || fail "exported beyond the host interface:"$'\n'"$unexpected"
  local wanted
  for wanted in 'vemra_kivet::GetMainVersion()' 'vemra_kivet::GetSubVersion()' \
    'vemra_kivet::CreateSignature(char const*, unsigned int)' 'vemra_kivet::CreateSession(char const*, bool)' \
    'vemra_kivet::vraKivetException::what() const' \
    'typeinfo for vemra_kivet::vraKivetException'; do
    grep -qxF "$wanted" <<<"$symbols" || fail "not exported: $wanted"
  done
  for wanted in newInstance getModuleInfo; do
    count=$(grep -c "::$wanted(" <<<"$symbols" || true)
    [ "$count" -eq 24 ] || fail "$count module factories $wanted exported, not 24"
  done
  echo "$(wc -l <<<"$symbols") symbols exported, all of the host interface"
}

# Every installed header compiles alone, with the installed tree as the only
# include folder (and from a folder outside the source tree).
check_headers() {
  local header std count=0
  for header in "$prefix"/include/kivet/*; do
    for std in c++11 c++17; do
      (cd "$work" && echo "#include <kivet/$(basename "$header")>" |
        g++ -std=$std -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include" -x c++ -) ||
        fail "kivet/$(basename "$header") does not compile on its own ($std)"
    done
    count=$((count + 1))
  done
  echo "$count installed headers compile on their own"
}

write_host() {
  mkdir -p "$work/host"
  cat >"$work/host/host.cpp" <<'EOF'
// Makes the signature of three seconds of a 440 Hz tone and saves it.
#include <kivet/kivet.h>
#include <cmath>
#include <cstdio>
#include <vector>
int main(int argc, char** argv) {
  if (argc != 3) return std::fprintf(stderr, "usage: host CONFIG SIGNATURE\n"), 2;
  std::vector<short> pcm(3 * 44100);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<short>(8000 * std::sin(0.0627 * i));
  try {
    vemra_kivet::vraISignature* signature = vemra_kivet::CreateSignature(argv[1], 44100);
    signature->addSamples(pcm.data(), static_cast<unsigned>(pcm.size()));
    signature->save(argv[2]);
    signature->release();
  } catch (const vemra_kivet::vraKivetException& e) {
    return std::fprintf(stderr, "kivet error %d: %s\n", e.getCode(), e.what()), 1;
  }
  std::printf("%u.%u\n", vemra_kivet::GetMainVersion(), vemra_kivet::GetSubVersion());
}
EOF
  cat >"$work/host/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(kivet_host LANGUAGES CXX)
find_package(kivet ${KIVET_WANTED} REQUIRED)
add_executable(host host.cpp)
target_link_libraries(host PRIVATE kivet::kivet)
file(WRITE ${CMAKE_BINARY_DIR}/configdir "${KIVET_CONFIG_DIR}")
EOF
}

# run_host NAME PROGRAM CONFIGDIR: a signature with the default configuration
# of CONFIGDIR, the folder the package names, which must be the installed
# one; and the coded error of a missing configuration file.
run_host() {
  local name=$1 program=$2 configdir=$3 out=$work/$1.sig printed file
  [ "$(realpath "$configdir")" = "$(realpath "$prefix/share/kivet")" ] ||
    fail "$name names $configdir for the configurations"
  for file in default.xml mfcc.xml similarity.xml; do
    [ -f "$configdir/$file" ] || fail "$name: no $file in $configdir"
  done
  ldd "$program" | grep -q "libkivet.so.$interface => $libdir/" || fail "$name host does not use the installed library"
  printed=$("$program" "$configdir/default.xml" "$out") || fail "$name host failed"
  [ "$printed" = "$interface" ] || fail "$name host: the library says version $printed, the package $interface"
  [ -s "$out" ] || fail "$name host wrote no signature"
  if [ -x "$prefix/bin/kivet-inspect" ]; then
    "$prefix/bin/kivet-inspect" -n 0 "$out" | grep -q '^ *MFCC' || fail "kivet-inspect finds no MFCC in $name.sig"
  fi
  local error
  error=$("$program" "$work/missing.xml" "$work/none.sig" 2>&1) && fail "$name host accepted a missing configuration"
  [ "$error" = "kivet error 4: File doesn't exist" ] || fail "$name host: unexpected error '$error'"
  echo "$name host: signature of $(stat -c %s "$out") bytes with $(realpath --relative-to="$prefix" "$configdir")/default.xml;" \
    "a missing configuration raised code 4"
}

host_with_cmake() {
  local build=$work/host/build-cmake
  cmake -S "$work/host" -B "$build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DKIVET_WANTED="$interface" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >/dev/null
  [ "$(sed -n 's/^kivet_DIR:PATH=//p' "$build/CMakeCache.txt")" = "$libdir/cmake/kivet" ] ||
    fail "find_package(kivet) found another package than the installed one"
  cmake --build "$build" >/dev/null
  run_host cmake "$build/host" "$(cat "$build/configdir")"
  # Before 1.0 every sub-version is an interface of its own.
  if cmake -S "$work/host" -B "$work/host/build-other" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DKIVET_WANTED="${interface%.*}.$((${interface#*.} + 1))" >/dev/null 2>&1; then
    fail "find_package(kivet) accepted a request for another sub-version"
  fi
}

host_with_pkg_config() {
  # shellcheck disable=SC2046
  g++ -std=c++17 -Wall -Wextra -Werror "$work/host/host.cpp" -o "$work/host/host-pc" \
    $(pkg-config --cflags --libs kivet) -Wl,-rpath,"$libdir"
  run_host pkg-config "$work/host/host-pc" "$(pkg-config --variable=configdir kivet)"
}

# The example hosts find the installed library and configuration.
run_examples() {
  if [ ! -x "$prefix/bin/kivet-extract" ]; then
    echo "example hosts not built (no libsndfile or libsoxr): skipped"
    return 0
  fi
  mkdir -p "$work/audio"
  "$prefix/bin/kivet-synth" -d 3 "$work/audio" >/dev/null
  # A session of two songs with the installed default and similarity
  # configurations; a broken installed similarity.xml is the one a new
  # session names, while the session made before keeps the configuration
  # stored in it.
  "$prefix/bin/kivet-session" build "$work/s.ses" "$work/audio/chord.wav" "$work/audio/clicks.wav" >/dev/null ||
    fail "installed kivet-session failed"
  [ "$("$prefix/bin/kivet-session" info "$work/s.ses" | sed -n 2p)" = "2 songs" ] || fail "installed kivet-session lost songs"
  echo '<broken' >"$prefix/share/kivet/similarity.xml"
  local said
  said=$("$prefix/bin/kivet-session" build "$work/t.ses" "$work/audio/chord.wav" 2>&1) &&
    fail "installed kivet-session read a broken configuration"
  grep -qF "$prefix/share/kivet/similarity.xml" <<<"$said" ||
    fail "installed kivet-session did not read the installed similarity.xml: $said"
  [ "$("$prefix/bin/kivet-session" info "$work/s.ses" | sed -n 2p)" = "2 songs" ] ||
    fail "installed kivet-session did not keep the session's own configuration"
  # With the mel cepstrum configuration as the installed default, only MFCC is
  # written: the program took the installed file, not the source tree's.
  cp "$prefix/share/kivet/mfcc.xml" "$prefix/share/kivet/default.xml"
  local features
  features=$("$prefix/bin/kivet-extract" -o "$work" "$work/audio/chord.wav" | awk 'NR > 1 { print $1 }')
  [ "$features" = MFCC ] || fail "installed kivet-extract wrote '${features//$'\n'/ }', not MFCC alone"
  "$prefix/bin/kivet-inspect" -n 1 "$work/chord.sig" >/dev/null || fail "installed kivet-inspect failed"
  echo "installed example hosts ran"
}

start=$SECONDS
check_layout
check_symbols
check_headers
write_host
step "host built with find_package(kivet)"
host_with_cmake
step "host built with pkg-config"
host_with_pkg_config
step "installed example hosts"
run_examples
step "install test passed in $((SECONDS - start)) s"
