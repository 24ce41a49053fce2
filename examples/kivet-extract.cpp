// kivet-extract: turns audio files into kivet signature files.
//
//   kivet-extract [-c CONFIG] [-o DIR] AUDIO...
//
// The help text below (--help) says this for its user.
// Each file (anything libsndfile reads: WAV, FLAC, Ogg Vorbis, AIFF, ...) is
// read as 16-bit PCM at 44100 Hz, resampled when the file has another rate
// (examples/audio_file.h), so that its signature compares with those of a
// session; stereo is downmixed by the library, and the samples go through a
// signature object made with CONFIG (default: the installed
// share/kivet/default.xml, or the repository's config/default.xml when run from
// the build tree). Title and artist come from the file's tags, the file
// name is the path made absolute (examples/audio_extraction.h). The
// signature is written to DIR (default: the audio file's own directory, made
// when missing) as the file's name with the extension ".sig". Per file it prints the duration, the features written and
// how fast the library extracted them. A file that fails gets one line on the
// standard error stream, saying why in a user's terms
// (examples/audio_extraction.h, examples/host_failure.h); the others are
// still processed, and the exit status is 1. Of two inputs of one signature
// file, the second is refused and not extracted. A configuration that cannot
// be read stops it at once, with the reason, as no file could be extracted
// with it. An AUDIO "-" is a file of that name. A wrong command line (an
// unknown option, one given twice, no AUDIO) gets one line naming what is
// wrong, then the usage.

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "examples/audio_extraction.h"
#include "examples/command_line.h"
#include "examples/host_failure.h"
#include "examples/result_output.h"
#include "examples/signal_cleanup.h"
#include "examples/signature_listing.h"
#include "signature/audio_sign_multi.h"

namespace {

constexpr const char* kUsage =
    "usage: kivet-extract [-c CONFIG] [-o DIR] AUDIO...\n"
    "       kivet-extract --help\n";

constexpr const char* kHelp =
    "\n"
    "Turns audio files into signature files, which kivet-session can add to a\n"
    "session or query one with.\n"
    "\n"
    "Reads each AUDIO file (anything libsndfile reads: WAV, FLAC, Ogg Vorbis, AIFF,\n"
    "MP3 where libsndfile has it, ...) as 16-bit samples at 44100 Hz, resampled\n"
    "when the file has another rate, so that its signature compares with those of\n"
    "a session; stereo is downmixed, a file of more channels is refused.\n"
    "Its features are extracted with CONFIG; title and artist come from the file's\n"
    "tags, the file name is AUDIO's absolute path (kivet-session build tells by it\n"
    "that a session holds the song of a signature file already).\n"
    "\n"
    "Writes one signature file per AUDIO file: its name with the extension .sig, in\n"
    "DIR or beside the audio file.\n"
    "\n"
    "Prints per file its length, rate and channels, the signature file written and\n"
    "how fast the features were extracted (a multiple of real time: the time spent\n"
    "in the library alone, making the signature, feeding the samples and saving it,\n"
    "not reading, decoding or resampling the file), then each feature's name,\n"
    "rows and columns.\n"
    "\n"
    "Options:\n"
    "  -c CONFIG    the feature-extraction configuration (default: the sample\n"
    "               configuration default.xml, installed beside the program in\n"
    "               share/kivet, else the source tree's).\n"
    "  -o DIR       the folder the signature files are written to, made with its\n"
    "               parents when missing (default: each audio file's own folder).\n"
    "  -h, --help   prints this help.\n"
    "  --           ends the options: every argument after it is an AUDIO file.\n"
    "  Each option is given once at most. An AUDIO - is a file named -, never the\n"
    "  standard input.\n"
    "\n"
    "A file that fails gets one line on the standard error stream saying why (for a\n"
    "signature file that cannot be saved, the system's reason, that the output is a\n"
    "folder, or the folder this user may not write); the other files are still\n"
    "extracted. An input whose signature file an earlier input of the run wrote (by\n"
    "any name or link: a/song.wav and b/song.wav under -o DIR, song.wav beside\n"
    "song.flac) is not extracted; one line names both inputs. SIGINT, SIGTERM and\n"
    "SIGHUP while a signature file is saved leave it as it was, with nothing\n"
    "beside it, and end the program with the status 128 + the signal's number.\n"
    "A wrong invocation (an unknown option, an option given twice, no AUDIO) gets\n"
    "one line naming what is wrong, then the usage.\n"
    "Exit status: 0 done, 1 a failure, 2 a wrong invocation.\n";

struct Options {
  std::string config = sampleConfiguration("default.xml");
  std::string outputDir;
  std::vector<std::string> inputs;
  bool help = false;
};

bool parseArguments(int argc, char** argv, Options& options) {
  CommandLine line("kivet-extract", argc, argv);
  for (std::string arg; line.next(arg);) {
    if (line.isOperand()) {
      options.inputs.push_back(arg);
    } else if (arg == "-c" || arg == "-o") {
      if (!line.value(arg, arg == "-c" ? options.config : options.outputDir)) return false;
    } else if (CommandLine::isHelp(arg)) {
      options.help = true;
      return true;
    } else {
      return line.slip("unknown option " + arg);
    }
  }
  if (line.failed()) return false;
  return !options.inputs.empty() || line.slip("AUDIO is missing");
}

std::string signaturePath(const std::string& input, const std::string& outputDir) {
  const size_t slash = input.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : input.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  if (outputDir.empty()) return dir + name + ".sig";
  return outputDir + (outputDir.back() == '/' ? "" : "/") + name + ".sig";
}

// A file by its device and inode, whatever name or link leads to it.
using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> regularFileAt(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return FileId(status.st_dev, status.st_ino);
}

// Whether two paths name one file (two inputs that are no regular files:
// one name).
bool sameFile(const std::string& one, const std::string& other) {
  const std::optional<FileId> a = regularFileAt(one), b = regularFileAt(other);
  return a && b ? a == b : one == other;
}

// The signature files this run wrote, with the input each holds: two inputs
// of one name (a/song.wav and b/song.wav under -o DIR, song.wav beside
// song.flac) lead to one signature file, and the second would silently
// take the first's place. The same input given twice writes its own again.
class WrittenSignatures {
 public:
  // Throws when output holds the signature of another input of this run.
  void refuseOther(const std::string& input, const std::string& output) {
    const std::optional<FileId> file = regularFileAt(output);
    const auto earlier = file ? written.find(*file) : written.end();
    if (earlier == written.end()) return;
    if (!sameFile(input, earlier->second))
      throw std::runtime_error("its signature file " + output + " is that of " + earlier->second +
                               ", written in this run: not extracted");
    // It is about to be replaced: its inode may then name another file.
    written.erase(earlier);
  }
  void add(const std::string& input, const std::string& output) {
    if (const std::optional<FileId> file = regularFileAt(output)) written[*file] = input;
  }

 private:
  std::map<FileId, std::string> written;
};

void extract(const std::string& input, const AudioExtraction& extraction, const std::string& output) {
  ExtractedSong song = extraction.extract(input);
  // A signal while the library saves takes away what it staged beside the
  // signature file, which stays as it was.
  const std::unique_ptr<SignalCleanup> staged = SignalCleanup::ofWrite(output);
  extraction.finish("saving " + output, song,
                    [&] { writing(output, [&] { song.signature->save(output.c_str()); }); });

  const double duration = static_cast<double>(song.milliseconds) / 1000.0;
  const double seconds = std::chrono::duration<double>(song.libraryTime).count();
  const std::string resampled = song.samplingRate == static_cast<int>(kExtractionRate)
                                    ? ""
                                    : " resampled to " + std::to_string(kExtractionRate) + " Hz";
  std::printf("%s: %.3f s, %d Hz%s, %s -> %s (extracted at %.0fx real time)\n", input.c_str(), duration,
              song.samplingRate, resampled.c_str(), song.channels == 2 ? "stereo" : "mono", output.c_str(),
              seconds > 0 ? duration / seconds : 0.0);
  CAudioSignMulti written;
  readSignatureFile(output, written);
  printFeatureSummary(written, std::cout);
  std::cout.flush();
  flushResults(stdout);
}

int run(int argc, char** argv) {
  Options options;
  if (!parseArguments(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return 0;
  }
  std::optional<AudioExtraction> extraction;
  try {
    extraction.emplace(options.config);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "kivet-extract: %s\n", failure.what());
    return 1;
  }
  // A folder that does not exist yet is made, parents and all.
  if (!options.outputDir.empty()) {
    const std::string notMade = makeFolder(options.outputDir);
    if (!notMade.empty()) {
      std::fprintf(stderr, "kivet-extract: cannot make the folder %s: %s\n", options.outputDir.c_str(),
                   notMade.c_str());
      return 1;
    }
  }
  WrittenSignatures written;
  int status = 0;
  for (const std::string& input : options.inputs) {
    try {
      const std::string output = signaturePath(input, options.outputDir);
      written.refuseOther(input, output);
      extract(input, *extraction, output);
      written.add(input, output);
    } catch (...) {
      flushResults(stdout);
      std::fprintf(stderr, "kivet-extract: %s: %s\n", input.c_str(), describeCurrentException().c_str());
      status = 1;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  openClosedStandardDescriptors();
  return finishResults("kivet-extract", stdout, run(argc, argv));
}
