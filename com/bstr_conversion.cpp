#include "com/bstr_conversion.h"

#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>

namespace vemra_kivet {

namespace {

// The conversion calls count in int.
int convertibleLength(size_t length) {
  if (length > static_cast<size_t>(INT_MAX)) throw std::length_error("text too long for the code-page conversion");
  return static_cast<int>(length);
}

}  // namespace

std::string bstrToText(BSTR text) {
  const int units = convertibleLength(SysStringLen(text));
  // The conversion calls refuse an empty input.
  if (units == 0) return std::string();
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) throw std::runtime_error("text not convertible to the ANSI code page");
  std::string converted(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, units, &converted[0], bytes, nullptr, nullptr);
  return converted;
}

BSTR textToBstr(const char* text) {
  const int bytes = text == nullptr ? 0 : convertibleLength(std::strlen(text));
  const int units = bytes == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0);
  if (bytes > 0 && units <= 0) throw std::runtime_error("text not convertible from the ANSI code page");
  BSTR converted = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (converted == nullptr) throw std::bad_alloc();
  if (units > 0) MultiByteToWideChar(CP_ACP, 0, text, bytes, converted, units);
  return converted;
}

}  // namespace vemra_kivet
