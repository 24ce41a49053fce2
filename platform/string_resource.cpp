#include "platform/string_resource.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

#ifdef _WIN32

bool loadStringResource(std::string& out, unsigned id, ModuleHandle module) {
  static HMODULE mainModule = GetModuleHandleA(nullptr);
  HMODULE handle = module ? static_cast<HMODULE>(module) : mainModule;
  // Strings are stored in blocks of sixteen; block n holds ids 16(n-1)..16n-1.
  HRSRC block = FindResourceA(handle, MAKEINTRESOURCEA(id / 16 + 1), MAKEINTRESOURCEA(6));
  if (block == nullptr) return false;
  DWORD blockSize = SizeofResource(handle, block);
  if (blockSize == 0) return false;
  out.assign(blockSize, '\0');
  int loaded = LoadStringA(handle, id, &out[0], static_cast<int>(blockSize));
  out.resize(out.find('\0') == std::string::npos ? out.size() : out.find('\0'));
  return loaded > 0;
}

#else

// Shared objects on this platform carry no string tables: a lookup finds nothing.
bool loadStringResource(std::string&, unsigned, ModuleHandle) { return false; }

#endif

}  // namespace platform
