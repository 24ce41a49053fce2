#include "platform/string_resource.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <utility>
#endif

namespace platform {

#ifdef _WIN32

bool loadStringResource(std::string& out, unsigned id, ModuleHandle module) {
  // Ids are 16 bits wide; a larger one would make the block number below look
  // like a name pointer.
  if (id > 0xFFFF) return false;
  static HMODULE mainModule = GetModuleHandleA(nullptr);
  HMODULE handle = module ? static_cast<HMODULE>(module) : mainModule;
  // Strings are stored in blocks of sixteen (resource type 6, RT_STRING);
  // block n holds ids 16(n-1)..16n-1.
  HRSRC block = FindResourceA(handle, MAKEINTRESOURCEA(id / 16 + 1), MAKEINTRESOURCEA(6));
  if (block == nullptr) return false;
  // The block holds UTF-16 text: its size in bytes bounds every entry's ANSI text.
  DWORD blockSize = SizeofResource(handle, block);
  if (blockSize == 0) return false;
  std::string text(blockSize, '\0');
  int loaded = LoadStringA(handle, id, &text[0], static_cast<int>(blockSize));
  if (loaded <= 0) return false;
  text.resize(std::min(static_cast<std::size_t>(loaded), text.find('\0')));
  out = std::move(text);
  return true;
}

#else

// Shared objects on this platform carry no string tables: a lookup finds nothing.
bool loadStringResource(std::string&, unsigned, ModuleHandle) { return false; }

#endif

}  // namespace platform
