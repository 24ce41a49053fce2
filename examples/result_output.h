#pragma once
// The standard output kept for a host's results alone. The library writes
// lines of its own to the standard output (the "Parameterization" report,
// "distance is not a number", XML parse errors, ...); a script reading a
// host's table would take them for rows. While a ResultOutput lives, the
// standard output descriptor goes to the standard error stream, so the
// library's lines land there, and the host writes its results through the
// saved descriptor, stream().

#include <cstdio>

class ResultOutput {
 public:
  // Moves the standard output aside; when the descriptors cannot be
  // duplicated, everything stays where it was.
  ResultOutput();
  ResultOutput(const ResultOutput&) = delete;
  ResultOutput& operator=(const ResultOutput&) = delete;
  // Flushes the results and puts the standard output back.
  ~ResultOutput();

  std::FILE* stream() const { return results; }

 private:
  std::FILE* results = stdout;
  int saved = -1;
};
