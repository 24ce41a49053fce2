#include "examples/host_failure.h"

#include <cctype>
#include <cstring>

std::string systemText(int error) {
  std::string text = std::strerror(error);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}
