# The C++ runtime DLLs that MinGW-w64's g++ (the posix thread variant) links
# KivetLocal.dll against: libstdc++ and libgcc, and winpthread behind both.
# The DLL imports them by name, so they must lie where its loader looks:
# beside it when installed, and on Wine's DLL path for the test programs.
set(KIVET_MINGW_RUNTIME_DLLS libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)

# kivet_find_mingw_runtime(<compiler> <found-var> <missing-var>)
# The full paths (links resolved) of the runtime DLLs that <compiler> keeps,
# and the names of those it does not know.
function(kivet_find_mingw_runtime compiler found_var missing_var)
  set(found "")
  set(missing "")
  foreach(dll IN LISTS KIVET_MINGW_RUNTIME_DLLS)
    execute_process(COMMAND ${compiler} -print-file-name=${dll}
      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
    # A name the compiler does not know comes back as it was given.
    if(NOT failed AND IS_ABSOLUTE "${path}" AND EXISTS "${path}")
      get_filename_component(path "${path}" REALPATH)
      list(APPEND found "${path}")
    else()
      list(APPEND missing ${dll})
    endif()
  endforeach()
  set(${found_var} "${found}" PARENT_SCOPE)
  set(${missing_var} "${missing}" PARENT_SCOPE)
endfunction()
