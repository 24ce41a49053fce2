#include "examples/command_line.h"

#include <cstdio>

bool CommandLine::next(std::string& arg) {
  while (++index < argc) {
    arg = argv[index];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    operand = optionsEnded || arg.size() < 2 || arg[0] != '-';
    if (!operand && !given.insert(arg).second) {
      stopped = true;
      return slip("option " + arg + " given twice");
    }
    return true;
  }
  return false;
}

bool CommandLine::value(const std::string& arg, std::string& value) {
  if (index + 1 >= argc) return slip("option " + arg + " needs a value");
  value = argv[++index];
  return true;
}

bool CommandLine::number(const std::string& arg, unsigned highest, unsigned& number) {
  std::string text;
  if (!value(arg, text)) return false;
  unsigned long long parsed = 0;
  bool whole = !text.empty();
  for (const char digit : text) {
    whole = whole && digit >= '0' && digit <= '9';
    if (whole) parsed = parsed * 10 + static_cast<unsigned>(digit - '0');
    whole = whole && parsed <= highest;
  }
  if (!whole)
    return slip(arg + " needs a whole number from 0 to " + std::to_string(highest) + ", not \"" + text + "\"");
  number = static_cast<unsigned>(parsed);
  return true;
}

bool CommandLine::slip(const std::string& what) const {
  std::fprintf(stderr, "%s: %s\n", program, what.c_str());
  return false;
}
