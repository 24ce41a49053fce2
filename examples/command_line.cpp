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
    return true;
  }
  return false;
}

bool CommandLine::value(const std::string& arg, std::string& value) {
  if (index + 1 >= argc) return slip("option " + arg + " needs a value");
  value = argv[++index];
  return true;
}

bool CommandLine::slip(const std::string& what) const {
  std::fprintf(stderr, "%s: %s\n", program, what.c_str());
  return false;
}
