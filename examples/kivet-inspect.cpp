// kivet-inspect: prints what kivet signature files hold.
//
//   kivet-inspect [-n ROWS] SIGNATURE...
//
// Per file: the metadata frames (text tags as text, others in hex), then per
// feature object its name, feature type, element type, rows, columns, frame
// period, parameters and its first ROWS rows (default 3). A file that cannot
// be read gets one line on the standard error stream and the exit status 1.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "examples/result_output.h"
#include "examples/signature_listing.h"
#include "signature/audio_sign_multi.h"

namespace {

int run(int argc, char** argv) {
  unsigned firstRows = 3;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-n" && i + 1 < argc) {
      firstRows = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (!arg.empty() && arg[0] == '-') {
      files.clear();
      break;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: kivet-inspect [-n ROWS] SIGNATURE...\n");
    return 2;
  }
  int status = 0;
  for (const std::string& file : files) {
    try {
      CAudioSignMulti signature;
      readSignatureFile(file, signature);
      std::cout << file << '\n';
      printSignature(signature, firstRows, std::cout);
      std::cout.flush();
      flushResults(stdout);
    } catch (...) {
      flushResults(stdout);
      std::fprintf(stderr, "kivet-inspect: %s: %s\n", file.c_str(), describeCurrentException().c_str());
      status = 1;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  openClosedStandardDescriptors();
  return finishResults("kivet-inspect", stdout, run(argc, argv));
}
