#include "platform/bstr.h"

#include <cstdlib>
#include <limits>

namespace {

constexpr size_t kPrefixSize = sizeof(uint32_t);

unsigned char* blockOf(BSTR text) { return reinterpret_cast<unsigned char*>(text) - kPrefixSize; }

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  size_t length = 0;
  while (text[length] != 0) ++length;
  if (length > std::numeric_limits<UINT>::max()) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(length));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  // The byte count of the prefix is 32 bits wide.
  if (length > (std::numeric_limits<uint32_t>::max() - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  const uint32_t bytes = length * static_cast<uint32_t>(sizeof(OLECHAR));
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefixSize + size_t{bytes} + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &bytes, kPrefixSize);
  auto* units = reinterpret_cast<BSTR>(block + kPrefixSize);
  if (text != nullptr)
    std::memcpy(units, text, bytes);
  else
    std::memset(units, 0, bytes);
  units[length] = 0;
  return units;
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(blockOf(text));
}

UINT SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, blockOf(text), kPrefixSize);
  return bytes / static_cast<uint32_t>(sizeof(OLECHAR));
}
