# What `cmake --install` puts under the prefix, laid out as Debian lays out a
# C++ library (GNUInstallDirs):
#
#   lib/libkivet.so.0.91.0, .so.0.91, .so       (bin/KivetLocal.dll with the C++ runtime
#                                                DLLs it imports, and lib/libKivetLocal.dll.a
#                                                on Windows)
#   include/kivet/                              KIVET_HOST_HEADERS
#   lib/cmake/kivet/                            find_package(kivet): kivet::kivet, and
#                                               KIVET_CONFIG_DIR, the folder of the configurations
#   lib/pkgconfig/kivet.pc                      pkg-config kivet; its variable configdir is that folder
#   share/kivet/                                the sample configurations: default.xml and
#                                               mfcc.xml (extraction), similarity.xml (sessions)
#   bin/                                        the example hosts (examples/CMakeLists.txt):
#                                               kivet-extract, kivet-inspect, kivet-session, kivet-synth
#
# Every file refers to the others relative to itself, so an installed tree
# still works after it is moved or copied elsewhere.

include(CMakePackageConfigHelpers)

set(KIVET_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kivet)
set(KIVET_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/kivet)

install(TARGETS kivet EXPORT kivetTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# KivetLocal.dll imports the C++ runtime of the compiler that built it by
# name; installed beside it, these very files are what the loader finds first
# for a DLL loaded by its full path, as regsvr32 loads it. The runtime stays a
# shared one: extraction modules loaded as plug-in DLLs share it with the
# library.
if(MINGW)
  include(cmake/KivetMingwRuntime.cmake)
  kivet_find_mingw_runtime(${CMAKE_CXX_COMPILER} kivet_runtime_dlls kivet_runtime_missing)
  if(kivet_runtime_missing)
    list(JOIN kivet_runtime_missing ", " kivet_runtime_missing)
    message(FATAL_ERROR "KivetLocal.dll needs the C++ runtime DLLs it was linked against installed beside it, "
      "but ${CMAKE_CXX_COMPILER} does not say where it keeps ${kivet_runtime_missing}")
  endif()
  install(PROGRAMS ${kivet_runtime_dlls} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${KIVET_HOST_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kivet)
install(DIRECTORY config/ DESTINATION ${KIVET_INSTALL_DATADIR} FILES_MATCHING PATTERN "*.xml")

# The CMake package.
install(EXPORT kivetTargets NAMESPACE kivet:: DESTINATION ${KIVET_INSTALL_CMAKEDIR})
# Before 1.0 a sub-version is a different interface (see the SONAME): a request
# for 0.91 accepts 0.91.x only.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kivetConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
# The package finds the prefix from its own place, and the configurations
# relative to it.
configure_package_config_file(cmake/kivetConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/kivetConfig.cmake
  INSTALL_DESTINATION ${KIVET_INSTALL_CMAKEDIR} PATH_VARS KIVET_INSTALL_DATADIR)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kivetConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/kivetConfigVersion.cmake
  DESTINATION ${KIVET_INSTALL_CMAKEDIR})

# The pkg-config file finds the prefix from its own place (${pcfiledir}).
function(kivet_pc_dir var dir)
  if(IS_ABSOLUTE "${dir}")
    set(${var} "${dir}" PARENT_SCOPE)
  else()
    set(${var} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(kivet_pc_prefix "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH kivet_pc_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" kivet_pc_prefix "${kivet_pc_prefix}")
  set(kivet_pc_prefix "\${pcfiledir}/${kivet_pc_prefix}")
endif()
kivet_pc_dir(kivet_pc_libdir "${CMAKE_INSTALL_LIBDIR}")
kivet_pc_dir(kivet_pc_includedir "${CMAKE_INSTALL_INCLUDEDIR}")
kivet_pc_dir(kivet_pc_configdir "${KIVET_INSTALL_DATADIR}")
if(WIN32)
  set(kivet_pc_libname KivetLocal)
else()
  set(kivet_pc_libname kivet)
endif()
configure_file(cmake/kivet.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kivet.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kivet.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
