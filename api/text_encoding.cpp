#include "api/text_encoding.h"

#include <cstring>

namespace vemra_kivet {

namespace {

bool isContinuation(unsigned char byte) { return byte >= 0x80 && byte <= 0xBF; }

// A lead F0 to F4 with three continuation bytes whose code point lies in
// U+10000..U+10FFFF: F0 needs a second byte from 0x90 (below is an overlong
// form), F4 one up to 0x8F (above is beyond U+10FFFF). A text whose only
// characters beyond ASCII are such (emoji, CJK extension characters) is
// UTF-8 all the same; in Latin-1 it would be "ð" to "ô" followed by three
// characters from 0x80 to 0xBF, which no real text holds.
bool isFourByteSequence(const unsigned char* at) {
  const unsigned char lead = at[0];
  if (lead < 0xF0 || lead > 0xF4) return false;
  const unsigned char second = at[1];
  if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) return false;
  return isContinuation(second) && isContinuation(at[2]) && isContinuation(at[3]);
}

}  // namespace

bool isUtf8(const char* text) {
  if (!text) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  const size_t n = std::strlen(text);
  // The terminating NUL stands for every byte beyond the end: it is never a
  // continuation byte, so a lead cut off by the end does not count (and the
  // bytes after a NUL are never looked at).
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = bytes[i];
    if (c < 0x80) continue;
    if (c >= 0xF0) {
      if (isFourByteSequence(bytes + i)) return true;
      continue;
    }
    if (c <= 0xBF) return false;
    if (c <= 0xDF) {
      if (isContinuation(bytes[i + 1])) return true;
      continue;
    }
    if (isContinuation(bytes[i + 1]) && isContinuation(bytes[i + 2])) return true;
  }
  return false;
}

std::string latin1ToUtf8(const char* text) {
  std::string result;
  if (!text) return result;
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    const unsigned char c = *p;
    if (c < 0x80) {
      result += static_cast<char>(c);
    } else {
      result += static_cast<char>((c >> 6) | 0xC0);
      result += static_cast<char>((c & 0x3F) | 0x80);
    }
  }
  return result;
}

std::string utf8ToLatin1(const char* text) {
  std::string result;
  if (!text) return result;
  const auto* b = reinterpret_cast<const unsigned char*>(text);
  const size_t n = std::strlen(text);
  size_t i = 0;
  while (i < n) {
    const unsigned c = b[i];
    if (c < 0x80) {
      result += static_cast<char>(c);
      i += 1;
    } else if (c >= 0xC0 && c <= 0xDF) {
      if (i + 2 > n) break;
      result += static_cast<char>(((c - 2) * 64 + b[i + 1]) & 0xFF);
      i += 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      if (i + 3 > n) break;
      result += static_cast<char>(((((b[i + 1] - 2u) & 0xFF) * 64) + b[i + 2]) & 0xFF);
      i += 3;
    } else if (c >= 0xF0 && c <= 0xF7) {
      if (i + 4 > n) break;
      i += 4;
    } else if (c >= 0xF8 && c <= 0xFB) {
      if (i + 5 > n) break;
      i += 5;
    } else if (c >= 0xFC && c <= 0xFD) {
      if (i + 6 > n) break;
      i += 6;
    } else {
      i += 1;
    }
  }
  return result;
}

}  // namespace vemra_kivet
