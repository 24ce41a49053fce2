#include "platform/string_resource.h"

#ifdef _WIN32
#include <windows.h>
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
  const int loaded = LoadStringA(handle, id, &text[0], static_cast<int>(blockSize));
  // A block that exists always sets out: to the empty text when it lacks the entry.
  out = text.c_str();
  return loaded > 0;
}

#else

// Shared objects on this platform carry no string tables: a lookup finds nothing.
bool loadStringResource(std::string&, unsigned, ModuleHandle) { return false; }

#endif

}  // namespace platform
