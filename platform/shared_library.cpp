#include "platform/shared_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>
#endif

namespace platform {

#ifdef _WIN32

LibraryHandle loadLibrary(const char* path) { return LoadLibraryA(path); }

void* getProcAddress(LibraryHandle library, const char* symbol) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), symbol));
}

bool freeLibrary(LibraryHandle library) { return FreeLibrary(static_cast<HMODULE>(library)) != 0; }

uint32_t getLastError() { return GetLastError(); }

#else

namespace {

// Like GetLastError, the code belongs to the calling thread.
thread_local uint32_t lastError = 0;

LibraryHandle fail(uint32_t code) {
  lastError = code;
  dlerror();  // consumes the loader's own message so that it does not linger
  return nullptr;
}

LibraryHandle openLibrary(const std::string& path) {
  LibraryHandle handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return fail(kErrorModuleNotFound);
  lastError = 0;
  return handle;
}

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The directory of the running program, with a trailing '/'; empty when the
// system does not tell it.
const std::string& programDirectory() {
  static const std::string directory = [] {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return std::string();
    const std::string program(path, static_cast<size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
  }();
  return directory;
}

}  // namespace

LibraryHandle loadLibrary(const char* path) {
  if (path == nullptr || *path == '\0') return fail(kErrorModuleNotFound);
  const std::string name(path);
  if (name.find('/') != std::string::npos) return openLibrary(name);

  // A library found in a directory is the one used, whether it loads or not,
  // as with LoadLibraryA.
  const std::string& programDir = programDirectory();
  if (!programDir.empty() && fileExists(programDir + name)) return openLibrary(programDir + name);
  if (LibraryHandle handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    lastError = 0;
    return handle;
  }
  dlerror();
  if (fileExists(name)) return openLibrary("./" + name);
  return fail(kErrorModuleNotFound);
}

void* getProcAddress(LibraryHandle library, const char* symbol) {
  if (library == nullptr) return fail(kErrorInvalidHandle);
  dlerror();
  void* address = dlsym(library, symbol);
  if (address == nullptr) return fail(kErrorProcedureNotFound);
  lastError = 0;
  return address;
}

bool freeLibrary(LibraryHandle library) {
  if (library == nullptr || dlclose(library) != 0) {
    fail(kErrorInvalidHandle);
    return false;
  }
  lastError = 0;
  return true;
}

uint32_t getLastError() { return lastError; }

#endif

}  // namespace platform
