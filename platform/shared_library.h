#pragma once
// Dynamic libraries: our stand-ins for LoadLibraryA, GetProcAddress,
// FreeLibrary and GetLastError. On Windows they call those functions; on other
// systems they are written over the dynamic loader and keep the Windows error
// codes, so that messages built from getLastError read the same everywhere.

#include <cstdint>

namespace platform {

using LibraryHandle = void*;

// Appended to a module type name to form its library's file name.
#ifdef _WIN32
inline constexpr const char* kSharedLibrarySuffix = ".dll";
#else
inline constexpr const char* kSharedLibrarySuffix = ".so";
#endif

// Error codes that getLastError reports after a failed call on systems other
// than Windows; they are the codes Windows gives for the same failures.
inline constexpr uint32_t kErrorInvalidHandle = 6;      // ERROR_INVALID_HANDLE
inline constexpr uint32_t kErrorModuleNotFound = 126;   // ERROR_MOD_NOT_FOUND
inline constexpr uint32_t kErrorProcedureNotFound = 127;  // ERROR_PROC_NOT_FOUND

// Loads the library at path; null on failure (then getLastError tells why).
// A path without a directory separator is looked for as LoadLibraryA looks for
// it: in the directory of the running program first, then along the system's
// library search path, then in the current working directory. A path with a
// separator is loaded as given.
LibraryHandle loadLibrary(const char* path);

// The address of an exported symbol; null when the library has none.
void* getProcAddress(LibraryHandle library, const char* symbol);

// Releases one load of the library; false on failure.
bool freeLibrary(LibraryHandle library);

// The code of the last failure of the calls above in this thread; 0 when the
// last call succeeded.
uint32_t getLastError();

}  // namespace platform
