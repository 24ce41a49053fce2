#!/usr/bin/env bash
# Cross-builds kivet for 32-bit Windows with MinGW-w64 (KivetLocal.dll and
# every test program as 32-bit PE files), checks what it installs, runs the
# whole test suite under Wine through CTest, then COM hosts against the
# installed server, registered in a fresh prefix; they must leave nothing in
# the prefix's temporary folder (%TEMP%).
#
#   scripts/test-windows.sh     installs what is missing (as root), builds the
#                               dependencies once (build/win32-deps), builds
#                               build/win32 and runs its tests
#   KIVET_JOBS=N                parallel build and test jobs (default: cores)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/lib.sh"

jobs=${KIVET_JOBS:-$(nproc)}
tree="$root/build/win32"
deps="$root/build/win32-deps"

fail() {
  echo "test-windows: $*" >&2
  exit 1
}

# A 32-bit prefix and no display: nothing of the suite opens a window.
export WINEPREFIX="$deps/wine" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# The Windows programs keep their temporary files where Windows programs do,
# in the prefix's %TEMP% (GoogleTest's TempDir() reads TEST_TMPDIR first,
# which would hand them a Unix path).
unset TEST_TMPDIR

# wine32 is an i386 package: without the architecture it cannot be installed,
# and the 64-bit Wine alone "runs" a 32-bit program by exiting 0.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  [ "$(id -u)" -eq 0 ] || fail "the i386 architecture is needed: as root, dpkg --add-architecture i386"
  step "enabling the i386 architecture"
  dpkg --add-architecture i386
fi
install_packages cmake ninja-build dpkg-dev g++-mingw-w64-i686 googletest wine wine32:i386 clang
for tool in i686-w64-mingw32-g++-posix wine wineserver clang++; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done

times=()
timed() {
  local name=$1 began=$SECONDS
  shift
  "$@"
  times+=("$name $((SECONDS - began)) s")
}

build_deps() { bash "$root/scripts/build-windows-deps.sh"; }

build_tree() {
  step "configure win32"
  # No debug information: it only slows the link of every test program.
  cmake -S "$root" -B "$tree" -G Ninja --toolchain "$root/cmake/toolchain-mingw-i686.cmake" \
    -DKIVET_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
    -DKIVET_WIN32_DEPS="$deps/prefix" -DKIVET_WINEPREFIX="$WINEPREFIX" >/dev/null
  step "build win32"
  cmake --build "$tree" -j "$jobs"
  i686-w64-mingw32-objdump -f "$tree/KivetLocal.dll" 2>/dev/null | grep -q 'file format pei-i386' \
    || fail "KivetLocal.dll is missing or no 32-bit Windows DLL"
  check_install
}

# The install rules give a Windows prefix the DLL with its C++ runtime, its
# import library, the headers (each compiling on its own) and the package
# files. The prefix stays for the COM hosts (check_installed_server).
installed="$tree/install-check"
check_install() {
  local file header std
  rm -rf "$installed"
  cmake --install "$tree" --prefix "$installed" >/dev/null
  for file in bin/KivetLocal.dll lib/libKivetLocal.dll.a include/kivet/kivet.h include/kivet/kivet_local.h \
    lib/cmake/kivet/kivetConfig.cmake lib/pkgconfig/kivet.pc; do
    [ -f "$installed/$file" ] || fail "cmake --install did not install $file"
  done
  check_runtime "$installed/bin"
  for header in "$installed"/include/kivet/*; do
    for std in c++11 c++17; do
      echo "#include <kivet/$(basename "$header")>" |
        i686-w64-mingw32-g++-posix -std=$std -Wall -Wextra -Werror -fsyntax-only -I"$installed/include" -x c++ - ||
        fail "kivet/$(basename "$header") does not compile on its own ($std)"
    done
  done
  # MinGW's reading of the interface identifiers is checked as the COM
  # client compiles; MSVC's here, by clang in Microsoft's mode.
  clang++ --target=i686-w64-mingw32 -fms-extensions -std=c++17 -fsyntax-only -DKIVET_MICROSOFT_UUIDS -I"$root" \
    "$root/tests/com/kivet_local_uuids.cpp" || fail "kivet_local.h declares identifiers that MSVC's __uuidof reads otherwise"
  check_exports "$installed/bin/KivetLocal.dll"
}

# The DLLs a PE file imports.
imports() { i686-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }

# bin/ holds KivetLocal.dll and exactly the DLLs it needs beyond the system's,
# also through each other: those the compiler keeps (it names the others
# back unchanged), each the compiler's own file.
check_runtime() {
  local bin=$1 file name kept needed=() queue=(KivetLocal.dll) have
  while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    while IFS= read -r name; do
      kept=$(i686-w64-mingw32-g++-posix -print-file-name="$name")
      [ "$kept" != "$name" ] || continue
      [[ " ${needed[*]} " == *" $name "* ]] && continue
      [ -f "$bin/$name" ] || fail "KivetLocal.dll needs $name, which is not installed beside it"
      cmp -s "$bin/$name" "$kept" || fail "bin/$name is not the compiler's $kept"
      needed+=("$name")
      queue+=("$name")
    done < <(imports "$bin/$file")
  done
  have=$(cd "$bin" && ls -- *.dll | { grep -vx KivetLocal.dll || true; } | sort | tr '\n' ' ')
  [ "$have" = "$(printf '%s\n' "${needed[@]}" | sort | tr '\n' ' ')" ] ||
    fail "bin/ holds the runtime DLLs ${have:-none}, KivetLocal.dll needs ${needed[*]}"
  echo "KivetLocal.dll: installed beside its runtime ${needed[*]}"
}

# KivetLocal.dll exports the five entry points of the COM server under their
# plain names, the programming interface (namespace vemra_kivet) and the
# factories of the 24 built-in extraction modules, nothing else.
check_exports() {
  local names unexpected entry count
  names=$(i686-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^\s*\[ *[0-9]*\] //p')
  for entry in DllMain DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer; do
    grep -qx "$entry" <<<"$names" || fail "KivetLocal.dll does not export $entry"
  done
  unexpected=$(grep -Evx -e 'Dll(Main|CanUnloadNow|GetClassObject|RegisterServer|UnregisterServer)' \
    -e '_ZNK?11vemra_kivet.*' -e '_ZT[ISV]N11vemra_kivet.*' -e '_ZN.*(11newInstanceEP12SettingsBaseS1_|13getModuleInfoEv)' \
    -e '_ZN10CFexModule14deleteInstanceEPS_' <<<"$names" || true)
  [ -z "$unexpected" ] || fail "KivetLocal.dll exports beyond the host interface:"$'\n'"$unexpected"
  count=$(grep -c 'newInstanceEP12SettingsBaseS1_$' <<<"$names" || true)
  [ "$count" -eq 24 ] || fail "KivetLocal.dll exports $count module factories, not 24"
  echo "KivetLocal.dll: $(wc -l <<<"$names") names exported, the five entry points undecorated"
}

is_win32_prefix() { [ -f "$WINEPREFIX/system.reg" ] && grep -qx '#arch=win32' "$WINEPREFIX/system.reg"; }

make_prefix() {
  is_win32_prefix && return 0
  step "creating a 32-bit Wine prefix"
  rm -rf "$WINEPREFIX"
  wine wineboot --init || fail "wine could not create a 32-bit prefix (is wine32:i386 installed?)"
  wineserver -w
  is_win32_prefix || fail "$WINEPREFIX is no 32-bit prefix"
}

# Stops the Wine server of the prefix, also when a step fails. Debian's Wine
# keeps the server's socket in a folder of the temporary folder, named in the
# prefix's file "wineserver": it goes with the server (the next server makes
# it again).
stop_wine() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  local name
  name=$(cat "$WINEPREFIX/wineserver" 2>/dev/null) || return 0
  if [[ $name == wine-* && $name != */* ]]; then rm -rf "${TMPDIR:-/tmp}/$name"; fi
}

# The prefix's %TEMP% as a Unix path.
wine_temp() {
  local folder
  folder=$(bash "$root/cmake/wine-run.sh" "" - cmd /c echo %TEMP%)
  winepath -u "$folder"
}

run_tests() {
  local log="$tree/ctest-windows.log"
  # One server for the whole run instead of one per test program.
  wineserver -p
  trap stop_wine EXIT
  # What an earlier run left in the Windows programs' temporary folder is no
  # concern of this one, which must leave it empty (checked at the end).
  temp_folder=$(wine_temp)
  [ -d "$temp_folder" ] || fail "the prefix has no temporary folder $temp_folder"
  find "$temp_folder" -mindepth 1 -delete
  # Listing the tests runs every test program once: a program that does not
  # really run under Wine shows up here, before the suite. Lists of an earlier
  # run are dropped so that each run judges its own.
  find "$tree/tests" -name '*_tests.cmake' -delete
  ctest --test-dir "$tree" -N >/dev/null
  check_programs
  step "test win32 (under Wine)"
  ctest --test-dir "$tree" --output-on-failure -j "$jobs" 2>&1 | tee "$log"
  check_counts "$log"
  stop_wine
  trap - EXIT
}

# Every registered test program must have listed its tests under Wine.
check_programs() {
  local include listed programs=0 empty=()
  while IFS= read -r include; do
    programs=$((programs + 1))
    listed=${include%_include.cmake}_tests.cmake
    [ -f "$listed" ] && grep -q '^ *add_test(' "$listed" || empty+=("$(basename "${include%\[*}")")
  done < <(find "$tree/tests" -name '*_include.cmake')
  [ "$programs" -gt 0 ] || fail "no test program is registered with CTest"
  [ ${#empty[@]} -eq 0 ] || fail "these test programs listed no test under Wine (is wine32:i386 installed?): ${empty[*]}"
  echo "win32: $programs test programs"
}

# CTest's own counts: a run with no test fails even when CTest exits 0.
check_counts() {
  local summary total
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  [ -n "$summary" ] || fail "CTest reported no test results"
  total=${summary##* out of }
  [ "$total" -gt 0 ] || fail "CTest ran no test"
  echo "win32: $total tests ran under Wine"
}

# The COM server as a real host meets it, installed: registered from the
# installed bin/ by regsvr32 in a fresh prefix, found through the registry by
# CoCreateInstance, with nothing but that folder on the path, then
# unregistered again. The hosts are the COM client
# (tests/com/kivet_com_client.cpp), which links nothing of the library and
# shares its runtime, and the example of the README, linked statically, which
# finds the sample configurations under C:\kivet. Each runs from a folder of
# its own, which holds no DLL.
check_installed_server() {
  local client="$tree/tests/com/kivet_com_client.exe"
  [ -f "$client" ] || fail "the COM client was not built"
  [ -f "$installed/bin/KivetLocal.dll" ] || fail "the tree was not installed"
  step "COM hosts of the installed server (under Wine)"
  local fresh="$tree/wine-installed" hosts="$tree/com-hosts" status=0
  rm -rf "$fresh" "$hosts"
  # Expanded now: a failure ends the script outside this function.
  trap "WINEPREFIX='$fresh' stop_wine; rm -rf '$fresh' '$hosts' '$installed'" EXIT
  cp -a "$WINEPREFIX" "$fresh"
  mkdir -p "$hosts/client" "$hosts/example" "$hosts/work" "$fresh/drive_c/kivet"
  cp "$client" "$hosts/client/"
  cp "$installed"/share/kivet/*.xml "$fresh/drive_c/kivet/"
  awk '/^## Using the COM server/ { section = 1 } section && /^```cpp/ { code = 1; next }
       code && /^```/ { exit } code' "$root/README.md" >"$hosts/example.cpp"
  i686-w64-mingw32-g++-posix -std=c++11 -Wall -Wextra -Werror -static -I"$installed/include" "$hosts/example.cpp" \
    -o "$hosts/example/example.exe" -lole32 -loleaut32 || fail "the README's COM example does not build"
  (
    export WINEPREFIX="$fresh"
    unset WINEPATH
    wineserver -p
    local run=(bash "$root/cmake/wine-run.sh" "$installed/bin" "$fresh") server clsid registered output
    server=$(winepath -w "$installed/bin/KivetLocal.dll")
    clsid=$("${run[@]}" "$hosts/client/kivet_com_client.exe" clsid)
    if "${run[@]}" reg query "HKCR\\CLSID\\$clsid" >/dev/null 2>&1; then
      fail "$deps/wine registers $clsid already: remove it (the next run makes it anew)"
    fi
    cd "$hosts"
    # Without a folder on the path: the DLL's runtime is found beside it.
    bash "$root/cmake/wine-run.sh" "" "$fresh" regsvr32 /s "$server" || fail "regsvr32 could not register $server"
    registered=$("${run[@]}" reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve) || registered=
    echo "$registered"
    grep -Eq 'REG_SZ +KivetLocal\.dll$' <<<"$registered" || fail "InprocServer32 of $clsid does not name KivetLocal.dll"
    (cd client && "${run[@]}" kivet_com_client.exe "$(winepath -w "$root/config")" "$(winepath -w "$hosts/work")") ||
      status=1
    (cd client && "${run[@]}" kivet_com_client.exe multithreaded) || status=1
    output=$(cd example && "${run[@]}" example.exe) || status=1
    echo "README example: $output"
    grep -Eq '^1 [0-9]+\.[0-9]{3}$' <<<"${output%%$'\n'*}" || status=1
    bash "$root/cmake/wine-run.sh" "" "$fresh" regsvr32 /u /s "$server" || fail "regsvr32 /u could not unregister $server"
    if "${run[@]}" reg query "HKCR\\CLSID\\$clsid" >/dev/null 2>&1; then
      fail "unregistering left HKCR\\CLSID\\$clsid"
    fi
    # Unregistered, the example stops with the result of CoCreateInstance.
    output=$(cd example && "${run[@]}" example.exe) && status=1
    echo "README example, unregistered: $output"
    [ "$output" = "KivetLocal.dll cannot be used: 0x80040154" ] || status=1
    [ "$status" -eq 0 ] || fail "a COM host of the installed server failed"
  )
  WINEPREFIX="$fresh" stop_wine
  # The copy's %TEMP% is where the run's own one lies in the prefix.
  nothing_left "$fresh${temp_folder#"$WINEPREFIX"}" "the COM hosts" || fail "the COM hosts left files behind"
  rm -rf "$fresh" "$hosts" "$installed"
  trap - EXIT
}

start=$SECONDS
timed "dependencies" build_deps
timed "cross build" build_tree
timed "wine prefix" make_prefix
timed "tests under wine" run_tests
nothing_left "$temp_folder" "the tests under Wine" || fail "the Windows programs left files behind"
timed "COM hosts under wine" check_installed_server
summary=$(printf '%s, ' "${times[@]}")
step "win32 passed in $((SECONDS - start)) s (${summary%, })"
