#pragma once
// The standard output kept for a host's results alone. The library writes
// lines of its own to the standard output (an adaptation's failure,
// "distance is not a number", the lines of a damaged session file: kivet.h
// lists them); a script reading a host's table would take them for rows.
// While a ResultOutput lives, the standard output descriptor goes to the
// standard error stream, so the library's lines land there, and the host
// writes its results through the saved descriptor, stream().

#include <cstdio>

// Opens /dev/null on each standard descriptor (0, 1, 2) that the host was
// started without. A host calls it first of all (ResultOutput does):
// otherwise the first file it opens takes the closed descriptor's number
// and receives what is meant for that stream (a listing written into a
// session's lock file, a message into a signature file).
void openClosedStandardDescriptors();

// Flushes a host's results. The reason of the first write that failed is
// kept for finishResults: errno says it only until the next call that fails,
// so a host flushes after each piece of its results, before it goes on.
void flushResults(std::FILE* stream);

// A host's exit status once its results are written: the stream is flushed,
// and when any of it could not be written (a full disk, a closed pipe), the
// results are not what the user asked for: one line on the standard error
// stream says so ("PROGRAM: cannot write the results: no space left on
// device"), and a status of 0 becomes 1; any other status stays.
int finishResults(const char* program, std::FILE* stream, int status);

class ResultOutput {
 public:
  // Opens the closed standard descriptors (above), then moves the standard
  // output aside; when the descriptors cannot be duplicated, everything
  // stays where it was.
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
