# Helpers shared by every subsystem folder.

# kivet_subsystem_library(<target> SOURCES ... [DEPENDS ...])
# A static library of one subsystem folder; it is also linked whole into the
# shared product library. Its symbols are hidden there unless the source marks
# them (KIVET_API, KIVET_EXPORT): a host sees the same interface on Linux as
# on Windows, where only marked symbols leave the DLL.
set(KIVET_SUBSYSTEM_LIBRARIES "" CACHE INTERNAL "")
function(kivet_subsystem_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(ARG_DEPENDS)
    target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
  endif()
  set(KIVET_SUBSYSTEM_LIBRARIES ${KIVET_SUBSYSTEM_LIBRARIES} ${target} CACHE INTERNAL "")
endfunction()
