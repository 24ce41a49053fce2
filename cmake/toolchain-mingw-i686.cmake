# Cross build for 32-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-i686), whose test programs run under Wine.
#
#   cmake -S . -B build/win32 -G Ninja --toolchain cmake/toolchain-mingw-i686.cmake \
#     -DKIVET_WIN32_DEPS=build/win32-deps/prefix [-DKIVET_WINEPREFIX=<32-bit prefix>]
#
# KIVET_WIN32_DEPS is the prefix holding Expat, Xerces-C and GoogleTest built
# for this target (scripts/build-windows-deps.sh).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

# The posix thread variant: the win32 one has no std::mutex nor std::thread.
set(KIVET_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KIVET_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIVET_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KIVET_MINGW_TRIPLET}-windres)

# SSE2 arithmetic as on the x86-64 build, not the x87 unit with its 80-bit
# intermediates: floating-point results then agree between the two builds.
# Hosts may call in with a stack aligned to 4 bytes only.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")

# Variables that try_compile projects must see as well.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KIVET_WIN32_DEPS KIVET_WINEPREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${KIVET_MINGW_TRIPLET})
if(KIVET_WIN32_DEPS)
  get_filename_component(KIVET_WIN32_DEPS "${KIVET_WIN32_DEPS}" ABSOLUTE)
  list(APPEND CMAKE_FIND_ROOT_PATH "${KIVET_WIN32_DEPS}")
  list(APPEND CMAKE_PREFIX_PATH "${KIVET_WIN32_DEPS}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs run under Wine. They load the compiler's runtime libraries
# (libstdc++, libgcc, winpthread) from where the compiler keeps them, and
# KivetLocal.dll from the top of the build tree.
include(${CMAKE_CURRENT_LIST_DIR}/KivetMingwRuntime.cmake)
kivet_find_mingw_runtime(${CMAKE_CXX_COMPILER} kivet_runtime_dlls kivet_runtime_missing)
set(kivet_wine_dll_dirs "")
foreach(dll_path IN LISTS kivet_runtime_dlls)
  get_filename_component(dll_dir "${dll_path}" DIRECTORY)
  list(APPEND kivet_wine_dll_dirs "${dll_dir}")
endforeach()
list(APPEND kivet_wine_dll_dirs "${CMAKE_BINARY_DIR}")
list(REMOVE_DUPLICATES kivet_wine_dll_dirs)
string(REPLACE ";" ":" kivet_wine_dll_dirs "${kivet_wine_dll_dirs}")
# An empty list element would vanish on the way to the wrapper: "-" stands for
# no prefix of our own.
if(KIVET_WINEPREFIX)
  get_filename_component(kivet_wineprefix "${KIVET_WINEPREFIX}" ABSOLUTE)
else()
  set(kivet_wineprefix -)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
  /bin/bash ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh "${kivet_wine_dll_dirs}" "${kivet_wineprefix}")
