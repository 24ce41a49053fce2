// kivet-synth: writes the demo's test audio.
//
//   kivet-synth [-r RATE] [-d SECONDS] [-n LEVEL] [--] DIR
//
// Writes a dozen clips into DIR (made when missing, parents and all), each
// SECONDS long (default 4) at RATE Hz (default 44100), 16-bit, with the
// clip's title and its family as the artist (examples/demo_clips.h):
//   tones    tones.wav (rising sine tones), glide.wav (a gliding tone)
//   chords   chord.wav (C major, struck every second), minor-chord.wav
//            (A minor, struck), organ.wav (G major, held)
//   noise    noise.flac (white noise swelling and fading; FLAC), rumble.wav
//   rhythms  clicks.wav (120 beats per minute), drums.wav (kick and hi-hat),
//            shaker.wav
//   mixes    mix.wav (stereo: the chord left, clicks and noise right),
//            band.wav (the minor chord with the drums)
// A .wav clip too long for a WAV file's 32-bit counts is an RF64 file.
// With -n, white noise of peak LEVEL (0 to 1) is added to every clip: noisy
// copies that should still be found next to their originals. Each clip is
// made and written a block at a time, in memory that does not grow with its
// length, in a folder of the program's own inside DIR, and renamed into
// place, so that a signal leaves no clip cut short (examples/scratch_folder.h).
// A wrong command line gets one line naming what is wrong, then the usage:
// also a length too short for a sample, and an option given twice.

#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "examples/command_line.h"
#include "examples/demo_clips.h"
#include "examples/host_failure.h"
#include "examples/result_output.h"
#include "examples/scratch_folder.h"
#include "examples/signal_cleanup.h"

namespace {

constexpr const char* kUsage =
    "usage: kivet-synth [-r RATE] [-d SECONDS] [-n LEVEL] [--] DIR\n"
    "       kivet-synth --help\n";

constexpr const char* kHelp =
    "\n"
    "Writes the demo's test audio into DIR (made when missing): a dozen 16-bit clips\n"
    "in five families (tones, chords, noise, rhythms, mixes), each with its title and\n"
    "its family as the artist, and prints the path of each clip written. A .wav clip\n"
    "too long for a WAV file's 32-bit counts (mix.wav, stereo, beyond 46 minutes at\n"
    "384 kHz) is written as RF64, the WAV of 64-bit counts.\n"
    "\n"
    "Options:\n"
    "  -r RATE      the sampling rate, 1000 to 384000 Hz (default 44100).\n"
    "  -d SECONDS   each clip's length, above 0 and at most 3600, and long enough\n"
    "               for a sample at RATE, 1/RATE s (default 4).\n"
    "  -n LEVEL     white noise of peak LEVEL, 0 to 1, added to every clip\n"
    "               (default 0: none).\n"
    "  -h, --help   prints this help.\n"
    "  --           ends the options: the argument after it is DIR.\n"
    "  Each option is given once at most.\n"
    "\n"
    "Each clip is made and written a block at a time, so that the memory it takes\n"
    "stays the same whatever its length. It is written aside in a folder of the\n"
    "program's own in DIR and put in place whole: SIGINT, SIGTERM and SIGHUP leave\n"
    "each clip as it was or whole, and nothing else behind.\n"
    "Exit status: 0 done, 1 a failure, 2 a wrong invocation (after a line naming it).\n";

struct Options {
  int rate = 44100;
  double seconds = 4.0;
  double noise = 0.0;
  std::string dir;
  bool help = false;
};

// A number that is the whole text and lies within [lowest, highest] (above
// lowest where lowestExcluded; a whole number where whole).
bool readNumber(const std::string& text, double lowest, double highest, bool lowestExcluded, bool whole,
                double& value) {
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(parsed <= highest) || parsed < lowest || (lowestExcluded && parsed == lowest) ||
      (whole && parsed != static_cast<double>(static_cast<long>(parsed))))
    return false;
  value = parsed;
  return true;
}

// Reads the command line into o; a wrong one gets one line naming what is
// wrong: false.
bool parseArguments(int argc, char** argv, Options& o) {
  const struct {
    const char* option;
    double lowest, highest;
    bool lowestExcluded, whole;
    const char* what;
  } numbers[] = {{"-r", 1000, 384000, false, true, "a whole rate from 1000 to 384000 Hz"},
                 {"-d", 0, 3600, true, false, "seconds above 0 and at most 3600"},
                 {"-n", 0, 1, false, false, "a level from 0 to 1"}};
  CommandLine line("kivet-synth", argc, argv);
  std::vector<std::string> dirs;
  std::string length;
  for (std::string arg; line.next(arg);) {
    if (line.isOperand()) {
      dirs.push_back(arg);
      continue;
    }
    if (CommandLine::isHelp(arg)) {
      o.help = true;
      return true;
    }
    const auto number =
        std::find_if(std::begin(numbers), std::end(numbers), [&](const auto& n) { return arg == n.option; });
    if (number == std::end(numbers)) return line.slip("unknown option " + arg);
    std::string text;
    if (!line.value(arg, text)) return false;
    double value = 0;
    if (!readNumber(text, number->lowest, number->highest, number->lowestExcluded, number->whole, value))
      return line.slip(arg + " needs " + number->what + ", not " + text);
    if (arg == "-r") o.rate = static_cast<int>(value);
    if (arg == "-d") o.seconds = value;
    if (arg == "-n") o.noise = value;
    if (arg == "-d") length = text;
  }
  if (line.failed()) return false;
  if (demo::clipFrames(o.rate, o.seconds) == 0)
    return line.slip("-d " + length + " is too short for a sample at " + std::to_string(o.rate) + " Hz (one lasts 1/" +
                     std::to_string(o.rate) + " s)");
  if (dirs.size() == 1) o.dir = dirs.front();
  if (dirs.size() > 1) return line.slip("one DIR, not " + dirs[0] + " and " + dirs[1]);
  if (dirs.empty()) return line.slip("DIR is missing");
  return true;
}

// Frames made and written per call: all the memory a clip takes, whatever
// its length (libsndfile writes each block as it comes).
constexpr size_t kBlockFrames = 65536;

// The most sample bytes a WAV file holds: it counts its bytes, header and
// tags included, in 32 bits, and libsndfile writes past that with counts
// that have wrapped round.
constexpr uint64_t kMostWavBytes = 0xFFFFFFFFu - 0x10000u;

// The clip's file format: FLAC for a .flac name, else WAV; RF64, the WAV of
// 64-bit counts, where the WAV's would not hold the clip (stereo, longer
// than 46 minutes at 384 kHz).
int formatOf(const demo::ClipSource& clip) {
  const std::string& name = clip.file;
  if (name.size() > 5 && name.compare(name.size() - 5, 5, ".flac") == 0) return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  const uint64_t bytes = static_cast<uint64_t>(clip.frames) * clip.channels.size() * sizeof(short);
  return (bytes > kMostWavBytes ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | SF_FORMAT_PCM_16;
}

// Writes the clip in a folder of the program's own in DIR, then renames it
// into place: a signal meanwhile takes the folder away and leaves the clip
// at its name as it was.
bool write(const Options& o, demo::ClipSource& clip, std::vector<short>& block) {
  const std::string path = o.dir + "/" + clip.file;
  try {
    ScratchFolder scratch(o.dir, ".kivet-synth-");
    const std::string staged = scratch.file(clip.file);
    SF_INFO info{};
    info.samplerate = o.rate;
    info.channels = static_cast<int>(clip.channels.size());
    info.format = formatOf(clip);
    SNDFILE* file = sf_open(staged.c_str(), SFM_WRITE, &info);
    if (!file) throw std::runtime_error(sf_strerror(nullptr));
    sf_set_string(file, SF_STR_TITLE, clip.title.c_str());
    sf_set_string(file, SF_STR_ARTIST, clip.family.c_str());
    block.resize(kBlockFrames * clip.channels.size());
    bool written = true;
    for (size_t done = 0; written && done < clip.frames; done += kBlockFrames) {
      const size_t frames = std::min(kBlockFrames, clip.frames - done);
      demo::nextPcm(clip, block.data(), frames);
      written = sf_writef_short(file, block.data(), static_cast<sf_count_t>(frames)) == static_cast<sf_count_t>(frames);
    }
    if (sf_close(file) != 0 || !written) throw std::runtime_error("write failed");
    std::error_code error;
    std::filesystem::rename(staged, path, error);
    if (error) throw std::runtime_error(systemText(error.value()));
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "kivet-synth: %s: %s\n", path.c_str(), failure.what());
    return false;
  }
  std::printf("%s\n", path.c_str());
  flushResults(stdout);
  return true;
}

int run(int argc, char** argv) {
  Options o;
  if (!parseArguments(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (o.help) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return 0;
  }
  const std::string notMade = makeFolder(o.dir);
  if (!notMade.empty()) {
    std::fprintf(stderr, "kivet-synth: cannot make the folder %s: %s\n", o.dir.c_str(), notMade.c_str());
    return 1;
  }
  bool ok = true;
  uint32_t seed = 1;
  std::vector<short> block;
  for (demo::ClipSource& clip : demo::clipSources(o.rate, o.seconds)) {
    if (o.noise > 0.0) demo::addNoise(clip, o.noise, seed++);
    ok &= write(o, clip, block);
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  openClosedStandardDescriptors();
  return finishResults("kivet-synth", stdout, run(argc, argv));
}
