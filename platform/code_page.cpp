#include "platform/code_page.h"

namespace {

constexpr UINT kAnsiCodePage = 1252;

// The characters of bytes 0x80 to 0x9F. The five bytes that Windows-1252
// leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the control
// characters of the same value, as on Windows, so that every byte survives a
// round trip.
constexpr char16_t kHighControlRange[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

char16_t unitOfByte(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHighControlRange[byte - 0x80] : static_cast<char16_t>(byte);
}

// The byte of a character; false when the code page lacks it.
bool byteOfUnit(char16_t unit, unsigned char& byte) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
    byte = static_cast<unsigned char>(unit);
    return true;
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (kHighControlRange[i] == unit) {
      byte = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

bool knownCodePage(UINT codePage) { return codePage == CP_ACP || codePage == kAnsiCodePage; }

// The length a call works on, or -1 when the arguments are refused.
template <typename Unit>
long inputLength(const Unit* text, int length) {
  if (text == nullptr || length == 0 || length < -1) return -1;
  if (length > 0) return length;
  long counted = 0;
  while (text[counted] != 0) ++counted;
  return counted + 1;
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

UINT GetACP() { return kAnsiCodePage; }

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int length, LPWSTR out, int capacity) {
  const long count = inputLength(text, length);
  if (!knownCodePage(codePage) || count < 0 || capacity < 0) return 0;
  if (capacity == 0) return static_cast<int>(count);
  if (count > capacity) return 0;
  for (long i = 0; i < count; ++i) out[i] = unitOfByte(static_cast<unsigned char>(text[i]));
  return static_cast<int>(count);
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR text, int length, LPSTR out, int capacity,
                        LPCSTR defaultChar, LPBOOL usedDefault) {
  const long count = inputLength(text, length);
  if (!knownCodePage(codePage) || count < 0 || capacity < 0) return 0;
  const char fallback = defaultChar != nullptr ? defaultChar[0] : '?';
  bool defaulted = false;
  long made = 0;
  for (long i = 0; i < count; ++i, ++made) {
    unsigned char byte;
    if (!byteOfUnit(text[i], byte)) {
      byte = static_cast<unsigned char>(fallback);
      defaulted = true;
      if (isHighSurrogate(text[i]) && i + 1 < count && isLowSurrogate(text[i + 1])) ++i;
    }
    if (capacity == 0) continue;
    if (made >= capacity) return 0;
    out[made] = static_cast<char>(byte);
  }
  if (usedDefault != nullptr) *usedDefault = defaulted ? TRUE : FALSE;
  return static_cast<int>(made);
}
