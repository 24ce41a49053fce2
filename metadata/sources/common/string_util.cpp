#include "metadata/sources/common/string_util.h"

#include <algorithm>
#include <cstdio>
#include <locale>
#include <ostream>
#include <sstream>

namespace {

// Formatting grows its buffer through 2048, 6144, 12288, 20480, 30720 and 43008
// characters; output longer than the last buffer is cut there.
constexpr std::size_t kFirstFormatBuffer = 2048;
constexpr std::size_t kMaxFormattedLength = 43008;

template <typename IsDelimiter>
std::vector<std::string> splitAt(const std::string& text, IsDelimiter isDelimiter, bool trimParts) {
  std::vector<std::string> parts;
  auto appendPart = [&](std::size_t start, std::size_t end) {
    std::string part = text.substr(start, end - start);
    if (trimParts) part = trim(part);
    if (!part.empty()) parts.push_back(std::move(part));
  };
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isDelimiter(text[i])) {
      appendPart(start, i);
      start = i + 1;
    }
  }
  if (start < text.size()) appendPart(start, text.size());
  return parts;
}

// Numbers are read in the classic locale so that a host's locale cannot change
// how stored or configured numbers parse.
template <typename Number>
Number readNumber(const std::string& text) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  Number value = 0;
  if (!(in >> value)) return 0;
  return value;
}

}  // namespace

std::string& formatString(std::string& out, const char* format, va_list args) {
  // The result is built apart from out: an argument may be out's own text.
  char firstBuffer[kFirstFormatBuffer + 1];
  va_list attempt;
  va_copy(attempt, args);
  const int produced = std::vsnprintf(firstBuffer, sizeof firstBuffer, format, attempt);
  va_end(attempt);
  if (produced < 0) {
    out.clear();
    return out;
  }
  if (static_cast<std::size_t>(produced) <= kFirstFormatBuffer) {
    out.assign(firstBuffer, static_cast<std::size_t>(produced));
    return out;
  }
  const std::size_t length = std::min(static_cast<std::size_t>(produced), kMaxFormattedLength);
  std::string result(length, '\0');
  va_copy(attempt, args);
  std::vsnprintf(&result[0], length + 1, format, attempt);
  va_end(attempt);
  out = std::move(result);
  return out;
}

std::string& formatString(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  formatString(out, format, args);
  va_end(args);
  return out;
}

std::string& formatString(std::string& out, const char* format, const char* text) {
  std::string& (*variadic)(std::string&, const char*, ...) = formatString;
  return variadic(out, format, text);
}

char* resizeAndGetBuffer(std::string& text, int n) {
  if (n > 0 && static_cast<std::size_t>(n) > text.size()) text.resize(static_cast<std::size_t>(n), '\0');
  return &text[0];
}

std::string toHexString(uint32_t value) {
  static const char kDigits[] = "0123456789abcdef";
  std::string digits;
  for (; value != 0; value >>= 4) digits.push_back(kDigits[value & 0xF]);
  std::reverse(digits.begin(), digits.end());
  return digits;
}

std::string intToString(int value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

std::string uint64ToString(uint64_t value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

std::ostream& int64ToString(std::ostream& out, const int64_t& value) { return out << value; }

std::string trimLeft(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::string trimRight(const std::string& text) {
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

std::string trim(const std::string& text) { return trimLeft(trimRight(text)); }

int stringToInt(const std::string& text) { return readNumber<int>(text); }

float stringToFloat(const std::string& text) { return readNumber<float>(text); }

std::vector<std::string> split(const std::string& text, char delimiter, bool trimParts) {
  return splitAt(text, [delimiter](char c) { return c == delimiter; }, trimParts);
}

std::vector<std::string> split(const std::string& text, const std::string& delimiters, bool trimParts) {
  return splitAt(text, [&delimiters](char c) { return delimiters.find(c) != std::string::npos; }, trimParts);
}

bool loadResourceString(std::string& out, unsigned id, platform::ModuleHandle module) {
  return platform::loadStringResource(out, id, module);
}

std::string stringFromTextOrId(const char* textOrId) {
  if (textOrId == nullptr) return std::string();
  const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(textOrId);
  if (value < 0x10000) {
    std::string text;
    loadResourceString(text, static_cast<unsigned>(value), nullptr);
    return text;
  }
  return std::string(textOrId);
}
