# find_package(kivet) for an installed kivet: the imported target kivet::kivet
# (the shared library, with include/ on the include path: #include <kivet/kivet.h>).
include("${CMAKE_CURRENT_LIST_DIR}/kivetTargets.cmake")
