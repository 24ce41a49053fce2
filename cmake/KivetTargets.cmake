# Helpers shared by every subsystem folder.

# kivet_subsystem_library(<target> SOURCES ... [DEPENDS ...])
# A static library of one subsystem folder; it is also linked whole into the
# shared product library.
set(KIVET_SUBSYSTEM_LIBRARIES "" CACHE INTERNAL "")
function(kivet_subsystem_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(ARG_DEPENDS)
    target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
  endif()
  set(KIVET_SUBSYSTEM_LIBRARIES ${KIVET_SUBSYSTEM_LIBRARIES} ${target} CACHE INTERNAL "")
endfunction()
