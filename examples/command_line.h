#pragma once
// A host's command line read as command-line tools read theirs: an operand
// is an argument that does not begin with "-", "-" alone (a file of that
// name), or any argument after "--", which ends the options; everything else
// is an option, some taking the next argument as their value. An option is
// given once: a second one is a slip, as two values would leave one unused.
// A slip is named in one line on the standard error stream ("PROGRAM:
// unknown option -x"), after which the host prints its usage.

#include <set>
#include <string>

class CommandLine {
 public:
  CommandLine(const char* program, int argc, char** argv) : program(program), argc(argc), argv(argv) {}

  // The next argument but "--", into arg; false at the end, and at an option
  // given before, which is then named as a slip (see failed).
  bool next(std::string& arg);
  // Whether next stopped at a slip rather than at the end.
  bool failed() const { return stopped; }
  // Whether the argument next gave is an operand.
  bool isOperand() const { return operand; }
  // The value of the option arg, the argument after it, into value; false,
  // naming the slip, when there is none.
  bool value(const std::string& arg, std::string& value);
  // The value of the option arg read as a whole number from 0 to highest,
  // in decimal digits alone (no sign, space or fraction), into number;
  // false, naming the slip with that range, when there is no such value.
  bool number(const std::string& arg, unsigned highest, unsigned& number);
  // Names a slip: "PROGRAM: " and what is wrong; false, for the caller's
  // return.
  bool slip(const std::string& what) const;

  static bool isHelp(const std::string& arg) { return arg == "-h" || arg == "--help"; }

 private:
  const char* program;
  int argc;
  char** argv;
  int index = 0;
  bool optionsEnded = false;
  bool operand = false;
  bool stopped = false;
  std::set<std::string> given;
};
