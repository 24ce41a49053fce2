// kivet-extract: turns audio files into kivet signature files.
//
//   kivet-extract [-c CONFIG] [-o DIR] AUDIO...
//
// Each file (anything libsndfile reads: WAV, FLAC, Ogg Vorbis, AIFF, ...) is
// read as 16-bit PCM, stereo is downmixed by the library, and the samples go
// through a signature object made with CONFIG (default: the installed
// share/kivet/default.xml, or the repository's config/default.xml when run from
// the build tree). Title and artist come from the file's tags, the file
// name is the path as given. The signature is written to DIR (default: the
// audio file's own directory) as the file's name with the extension ".sig".
// Per file it prints the duration, the features written and how fast the
// library extracted them. A file that fails gets one line on the standard
// error stream; the others are still processed, and the exit status is 1.

#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <stdexcept>
#include <iostream>
#include <string>
#include <vector>

#include "api/kivet.h"
#include "examples/signature_listing.h"
#include "signature/audio_sign_multi.h"

using namespace vemra_kivet;

namespace {

constexpr sf_count_t kBlockFrames = 65536;

// The configuration installed with the program (KIVET_INSTALLED_CONFIG is
// relative to the program's folder), else the one of the source tree.
std::string defaultConfig() {
  char program[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", program, sizeof program);
  if (length > 0 && static_cast<size_t>(length) < sizeof program) {
    std::string path(program, static_cast<size_t>(length));
    path = path.substr(0, path.rfind('/') + 1) + KIVET_INSTALLED_CONFIG;
    if (access(path.c_str(), R_OK) == 0) return path;
  }
  return KIVET_DEFAULT_CONFIG;
}

struct Options {
  std::string config = defaultConfig();
  std::string outputDir;
  std::vector<std::string> inputs;
};

void usage() {
  std::fprintf(stderr, "usage: kivet-extract [-c CONFIG] [-o DIR] AUDIO...\n");
}

bool parseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-c" || arg == "-o") {
      if (i + 1 == argc) {
        std::fprintf(stderr, "kivet-extract: option %s needs a value\n", arg.c_str());
        return false;
      }
      (arg == "-c" ? options.config : options.outputDir) = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      return false;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "kivet-extract: unknown option %s\n", arg.c_str());
      return false;
    } else {
      options.inputs.push_back(arg);
    }
  }
  return !options.inputs.empty();
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

// Releases an interface object when it goes out of scope.
template <typename T>
class Held {
 public:
  explicit Held(T* object) : object(object) {}
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (object) object->release();
  }
  T* operator->() const { return object; }

 private:
  T* object;
};

class AudioFile {
 public:
  explicit AudioFile(const std::string& path) : file(sf_open(path.c_str(), SFM_READ, &info)) {
    if (!file) throw std::runtime_error(sf_strerror(nullptr));
    // Float files are scaled to 16 bits; clip rather than wrap what exceeds
    // full scale.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  }
  AudioFile(const AudioFile&) = delete;
  AudioFile& operator=(const AudioFile&) = delete;
  ~AudioFile() { sf_close(file); }

  std::string tag(int which) const {
    const char* text = sf_get_string(file, which);
    return text ? text : "";
  }
  sf_count_t read(short* samples, sf_count_t frames) { return sf_readf_short(file, samples, frames); }

  SF_INFO info{};

 private:
  SNDFILE* file;
};

using Clock = std::chrono::steady_clock;

// Runs one step of the extraction; a failure names the step, so that a
// library code such as "File doesn't exist" says which file it means.
template <typename Step>
void step(const std::string& what, Step&& call) {
  try {
    call();
  } catch (...) {
    throw std::runtime_error(what + ": " + describeCurrentException());
  }
}

void extract(const std::string& input, const Options& options) {
  AudioFile audio(input);
  const int channels = audio.info.channels;
  if (channels != 1 && channels != 2)
    throw std::runtime_error(std::to_string(channels) + " channels: only mono and stereo are supported");

  Clock::duration libraryTime{};
  auto timed = [&libraryTime](auto&& call) {
    const Clock::time_point start = Clock::now();
    call();
    libraryTime += Clock::now() - start;
  };

  vraISignature* created = nullptr;
  step("configuration " + options.config, [&] {
    timed([&] { created = CreateSignature(options.config.c_str(), static_cast<unsigned>(audio.info.samplerate)); });
  });
  Held<vraISignature> signature(created);
  {
    Held<vraISong> song(signature->getSong());
    song->setTitle(audio.tag(SF_STR_TITLE).c_str());
    song->setArtist(audio.tag(SF_STR_ARTIST).c_str());
    song->setFileName(input.c_str());
  }

  std::vector<short> block(static_cast<size_t>(kBlockFrames) * channels);
  std::vector<short> mono(static_cast<size_t>(kBlockFrames));
  sf_count_t total = 0;
  for (sf_count_t frames; (frames = audio.read(block.data(), kBlockFrames)) > 0; total += frames) {
    const auto count = static_cast<unsigned>(frames);
    step("extracting features", [&] {
      timed([&] {
        if (channels == 2) {
          signature->downmixStereo(block.data(), count * 2, mono.data());
          signature->addSamples(mono.data(), count);
        } else {
          signature->addSamples(block.data(), count);
        }
      });
    });
  }

  const std::string output = signaturePath(input, options.outputDir);
  step("saving " + output, [&] { timed([&] { signature->save(output.c_str()); }); });

  const double duration = static_cast<double>(total) / audio.info.samplerate;
  const double seconds = std::chrono::duration<double>(libraryTime).count();
  std::printf("%s: %.2f s, %d Hz, %s -> %s (extracted at %.0fx real time)\n", input.c_str(), duration,
              audio.info.samplerate, channels == 2 ? "stereo" : "mono", output.c_str(),
              seconds > 0 ? duration / seconds : 0.0);
  CAudioSignMulti written;
  readSignatureFile(output, written);
  printFeatureSummary(written, std::cout);
  std::cout.flush();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseArguments(argc, argv, options)) {
    usage();
    return 2;
  }
  int status = 0;
  for (const std::string& input : options.inputs) {
    try {
      extract(input, options);
    } catch (...) {
      std::fflush(stdout);
      std::fprintf(stderr, "kivet-extract: %s: %s\n", input.c_str(), describeCurrentException().c_str());
      status = 1;
    }
  }
  return status;
}
