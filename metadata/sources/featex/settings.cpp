#include "metadata/sources/featex/settings.h"

#include <cstdlib>
#include <limits>

#include "metadata/sources/common/string_util.h"

namespace {

const std::string& emptyString() {
  static const std::string empty;
  return empty;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// atol of the 32-bit target: leading blanks, an optional sign, then digits up
// to the first other character; 0 when there are none. A value beyond the
// 32-bit range reads as the nearest limit, as that runtime's atol gave it.
int32_t readLong(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                 : std::numeric_limits<int32_t>::max();
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace

unsigned Settings::size() const { return static_cast<unsigned>(values.size()); }

// Past the last key, and on an empty map, the answer is the empty string.
const std::string& Settings::getNextKey(const std::string& key) const {
  auto next = key.empty() ? values.begin() : values.upper_bound(key);
  return next == values.end() ? emptyString() : next->first;
}

const std::string& Settings::getString(const std::string& key) const {
  auto found = values.find(key);
  return found == values.end() ? emptyString() : found->second;
}

bool Settings::equals(const std::string& key, const std::string& value) const {
  auto found = values.find(key);
  return found != values.end() && found->second == value;
}

int32_t Settings::getLong(const std::string& key, int32_t dflt) const {
  auto found = values.find(key);
  return found == values.end() ? dflt : readLong(found->second);
}

bool Settings::getBool(const std::string& key) const { return equals(key, "true"); }

double Settings::getDouble(const std::string& key, double dflt) const {
  auto found = values.find(key);
  return found == values.end() ? dflt : std::atof(found->second.c_str());
}

void Settings::remove(const std::string& key) { values.erase(key); }

void Settings::setString(const std::string& key, const std::string& value) { values[key] = value; }

void Settings::setLong(const std::string& key, int32_t value) {
  std::string text;
  values[key] = formatString(text, "%ld", static_cast<long>(value));
}

void Settings::setBool(const std::string& key, bool value) { values[key] = value ? "true" : "false"; }

void Settings::print(std::ostream& os) const {
  for (const auto& [key, value] : values) os << key << "\t = " << value << std::endl;
}

bool Settings::contains(const std::string& key) const { return values.count(key) != 0; }
