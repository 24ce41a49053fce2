// kivet-inspect: prints what kivet signature files hold.
//
//   kivet-inspect [-n ROWS] [--] SIGNATURE...
//
// The help text below (--help) says this for its user. Per file: its name,
// its metadata frames (text tags as text, others in hex), then per feature
// object its name, feature type, element type, rows, columns, frame period,
// parameters and its first ROWS rows (default 3, 0 shows none), the first
// 10 columns of each. "--" ends the options, so that a file whose name
// begins with "-" can be given. A file that cannot be read gets one line on
// the standard error stream naming it and why (examples/signature_listing.h:
// the system's reason, a folder, not a signature file, cut short or
// damaged); the others are still listed, and the exit status is 1. A ROWS
// that is not a whole number from 0 to 4294967295, -n without a value or
// given twice, an unknown option and no SIGNATURE are refused in one line,
// then the usage, with status 2.
// The standard output carries the listing alone (examples/result_output.h):
// what the library prints while it reads goes to the standard error stream.

#include <climits>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "examples/command_line.h"
#include "examples/result_output.h"
#include "examples/signature_listing.h"
#include "signature/audio_sign_multi.h"

namespace {

constexpr const char* kUsage =
    "usage: kivet-inspect [-n ROWS] [--] SIGNATURE...\n"
    "       kivet-inspect --help\n";

constexpr const char* kHelp =
    "\n"
    "Prints what signature files hold: those kivet-extract writes, or any the\n"
    "library saves (vraISignature::save).\n"
    "\n"
    "Per SIGNATURE file it prints the file's name, then its metadata frames (text\n"
    "tags such as the title, artist and length as text, others as their length\n"
    "and first bytes in hex), then per feature object its name, feature type,\n"
    "element type, rows, columns, milliseconds per row and parameters, and its\n"
    "first ROWS rows, the first 10 columns of each.\n"
    "\n"
    "Options:\n"
    "  -n ROWS      the rows shown per feature: a whole number from 0 to 4294967295,\n"
    "               default 3; 0 shows none.\n"
    "  -h, --help   prints this help.\n"
    "  --           ends the options: every argument after it is a file, even one\n"
    "               whose name begins with -.\n"
    "\n"
    "The standard output carries the listing alone; what the library prints while\n"
    "it reads goes to the standard error stream. A file that cannot be read gets\n"
    "one line there, its name and why: the system's reason (\"no such file or\n"
    "directory\", \"permission denied\"), \"is a folder, not a signature file\",\n"
    "\"not a signature file\" (an empty, a text or a foreign file), or \"the\n"
    "signature file is truncated or damaged\" with what the reader said; the other\n"
    "files are still listed.\n"
    "A wrong invocation (an unknown option, one given twice, a ROWS out of range, no\n"
    "SIGNATURE) gets one line naming what is wrong, then the usage.\n"
    "Exit status: 0 done, 1 a failure (a file that cannot be read, results that\n"
    "cannot be written), 2 a wrong invocation.\n";

struct Options {
  unsigned rows = 3;
  std::vector<std::string> files;
  bool help = false;
};

bool parseArguments(int argc, char** argv, Options& options) {
  CommandLine line("kivet-inspect", argc, argv);
  for (std::string arg; line.next(arg);) {
    if (line.isOperand()) {
      options.files.push_back(arg);
    } else if (CommandLine::isHelp(arg)) {
      options.help = true;
      return true;
    } else if (arg == "-n") {
      if (!line.number(arg, UINT_MAX, options.rows)) return false;
    } else {
      return line.slip("unknown option " + arg);
    }
  }
  if (line.failed()) return false;
  return !options.files.empty() || line.slip("SIGNATURE is missing");
}

int run(int argc, char** argv, std::FILE* out) {
  Options options;
  if (!parseArguments(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, out);
    std::fputs(kHelp, out);
    return 0;
  }
  int status = 0;
  for (const std::string& file : options.files) {
    // A file's listing is written once it is whole: one that fails while
    // it is printed leaves no part of it among the results.
    std::ostringstream listing;
    try {
      CAudioSignMulti signature;
      readSignatureFile(file, signature);
      listing << file << '\n';
      printSignature(signature, options.rows, listing);
    } catch (...) {
      std::fprintf(stderr, "kivet-inspect: %s: %s\n", file.c_str(), describeCurrentException().c_str());
      status = 1;
      continue;
    }
    std::fputs(listing.str().c_str(), out);
    flushResults(out);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  ResultOutput results;
  return finishResults("kivet-inspect", results.stream(), run(argc, argv, results.stream()));
}
