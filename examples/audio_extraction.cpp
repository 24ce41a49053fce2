#include "examples/audio_extraction.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "api/vra_kivet_exception.h"
#include "examples/audio_file.h"
#include "examples/host_failure.h"
#include "examples/signature_listing.h"
#include "metadata/sources/featex/config_tree.h"
#include "metadata/sources/featex/fex_module.h"

using namespace vemra_kivet;

namespace {

using Clock = std::chrono::steady_clock;

// The piece size the library's extractor reads its configuration in.
constexpr unsigned kConfigPiece = 512;
// Beyond any song: a configuration asking for more is not worth counting.
constexpr uint64_t kFramesLimit = uint64_t{1} << 40;

// The frames a node of the configuration needs before every leaf below it
// has a row: a grouping module hands on its first row after a group of
// frames and then one every hop.
uint64_t framesNeeded(const ConfigTreeNode& node) {
  uint64_t rows = 1;
  for (const ConfigTreeNode* child : node.children) rows = std::max(rows, framesNeeded(*child));
  const Settings& settings = node.settings;
  const std::string& type = settings.getString("name");
  int64_t group = 1;
  int64_t hop = 1;
  if (type == "fex_aggregate" || type == "fex_modulation_feature") {
    group = settings.getLong("groupFrames", -1);
    // Without an overlap the modules skip one frame between groups.
    hop = group - settings.getLong("overlapFrames", -1);
  } else if (type == "fex_statistics") {
    group = hop = settings.getLong("sr", -1);
  }
  // Settings the module refuses fail the extraction on their own.
  if (group < 1 || hop < 1) return rows;
  return std::min(kFramesLimit, static_cast<uint64_t>(group) + (rows - 1) * static_cast<uint64_t>(hop));
}

// The configuration reader's message with the place as an editor counts it:
// the reader gives the line counted from 0 and, counted from 0 too, the
// column before the one the parser stopped at.
std::string placedAsCounted(const std::string& message) {
  const char kPlace[] = " at (line, col) = (";
  const size_t at = message.rfind(kPlace);
  int line = 0;
  int column = 0;
  if (at == std::string::npos || std::sscanf(message.c_str() + at + sizeof kPlace - 1, "%d, %d", &line, &column) != 2)
    return message;
  return message.substr(0, at) + " at line " + std::to_string(line + 1) + ", column " + std::to_string(column + 2);
}

}  // namespace

std::string sampleConfiguration(const std::string& name) {
  char program[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", program, sizeof program);
  if (length > 0 && static_cast<size_t>(length) < sizeof program) {
    // KIVET_INSTALLED_CONFIG_DIR is relative to the program's folder.
    std::string path(program, static_cast<size_t>(length));
    path = path.substr(0, path.rfind('/') + 1) + KIVET_INSTALLED_CONFIG_DIR + "/" + name;
    if (access(path.c_str(), R_OK) == 0) return std::filesystem::path(path).lexically_normal().string();
  }
  return KIVET_SOURCE_CONFIG_DIR "/" + name;
}

std::string songFileName(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path given(path);
  std::error_code error;
  const fs::path folder = fs::canonical(given.has_parent_path() ? given.parent_path() : fs::path("."), error);
  if (error || !given.has_filename()) return fs::absolute(given, error).lexically_normal().string();
  return (folder / given.filename()).string();
}

AudioExtraction::AudioExtraction(std::string configPath) : path(std::move(configPath)) {
  std::string problem = unreadableBecause(path);
  if (problem.empty()) {
    try {
      ConfigTree tree;
      const ConfigTreeNode* root = tree.load(path, true, kConfigPiece);
      const int32_t frameDuration = root->settings.getLong("frameDuration", -1);
      if (frameDuration > 0) shortestMs = framesNeeded(*root) * static_cast<uint64_t>(frameDuration);
    } catch (const simpleException& failure) {
      problem = placedAsCounted(failure.what());
    }
  }
  if (!problem.empty()) throw std::runtime_error("cannot read the configuration " + path + ": " + problem);
}

ExtractedSong AudioExtraction::extract(const std::string& audioPath) const {
  AudioFile audio(audioPath, kExtractionRate);
  ExtractedSong song;
  song.samplingRate = audio.fileRate();
  song.channels = audio.channels();
  if (song.channels != 1 && song.channels != 2)
    throw std::runtime_error(std::to_string(song.channels) + " channels: only mono and stereo are supported");

  run("configuration " + path, song, [&] {
    song.signature = Held<vraISignature>(CreateSignature(path.c_str(), static_cast<unsigned>(kExtractionRate)));
  }, false);
  {
    Held<vraISong> record(song.signature->getSong());
    record->setTitle(audio.title().c_str());
    record->setArtist(audio.artist().c_str());
    record->setFileName(songFileName(audioPath).c_str());
  }

  // The signature adds each call's length rounded down to whole
  // milliseconds: a second per call keeps the sum exact.
  const size_t second = kExtractionRate;
  std::vector<short> block(second * static_cast<size_t>(song.channels));
  std::vector<short> mono(second);
  uint64_t total = 0;
  for (size_t frames; (frames = audio.read(block.data(), second)) > 0; total += frames) {
    const auto count = static_cast<unsigned>(frames);
    run("extracting features", song, [&] {
      if (song.channels == 2) {
        song.signature->downmixStereo(block.data(), count * 2, mono.data());
        song.signature->addSamples(mono.data(), count);
      } else {
        song.signature->addSamples(block.data(), count);
      }
    }, false);
  }
  if (total == 0) throw std::runtime_error("the file holds no audio (no samples)");
  song.milliseconds = total * 1000 / kExtractionRate;
  return song;
}

void AudioExtraction::finish(const std::string& what, ExtractedSong& song, const std::function<void()>& call) const {
  run(what, song, call, true);
}

void AudioExtraction::run(const std::string& what, ExtractedSong& song, const std::function<void()>& call,
                          bool finishing) const {
  const Clock::time_point start = Clock::now();
  try {
    call();
  } catch (...) {
    throw std::runtime_error(what + ": " + explainCurrentFailure(song, finishing));
  }
  song.libraryTime += Clock::now() - start;
}

// Finishing a signature fails as an invalid one when a feature has no row at
// all, as when the song is shorter than the configuration's longest group of
// frames.
std::string AudioExtraction::explainCurrentFailure(const ExtractedSong& song, bool finishing) const {
  std::string text = describeCurrentException();
  try {
    throw;
  } catch (const vraKivetException& failure) {
    if (finishing && failure.getCode() == VRA_INVALID_SIGNATURE && tooShort(song))
      text += ": the song is too short for the configuration (" + std::to_string(song.milliseconds) +
              " ms; it needs at least " + std::to_string(shortestMs) + " ms)";
  } catch (...) {
  }
  return text;
}
