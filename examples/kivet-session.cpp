// kivet-session: builds, queries, lists and exports kivet sessions.
//
//   kivet-session build  [-c CONFIG] [-s SIMCONFIG] SESSION INPUT...
//   kivet-session query  [-c CONFIG] [-s SIMCONFIG] SESSION (INPUT | --id ID) [-n N]
//   kivet-session info   [-s SIMCONFIG] SESSION
//   kivet-session export [-s SIMCONFIG] SESSION (--text FILE [--mask M] | --riff FILE [-n N])
//
// build creates SESSION (or loads it and adds to it) and adds every INPUT: an
// audio file (anything libsndfile reads), extracted with CONFIG, with title
// and artist from its tags and its path as the file name; or a signature
// file (".sig"), taken as it is, texts and all. query prints the N (default
// 10) songs most like INPUT or like the stored song ID: rank, id, score,
// artist and title. info prints the session id, the song count and every
// song. export writes the text listing (MASK selects the fields, default all)
// or the nearest-neighbour table of N songs per song in RIFF form.
//
// CONFIG and SIMCONFIG default to the sample configurations default.xml and
// similarity.xml, installed beside the program or in the source tree. A
// session is written to a temporary file beside SESSION (its ".meta" file
// too) and renamed over it only once it is whole. Every failure is one line
// on the standard error stream; the exit status is then 1 (2 for bad usage).

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "examples/audio_extraction.h"
#include "examples/signature_listing.h"

using namespace vemra_kivet;

namespace {

// A signature file's sampling rate is its own; the object that loads one
// needs a rate all the same.
constexpr unsigned kAnyRate = 44100;

struct Options {
  std::string command;
  std::string config = sampleConfiguration("default.xml");
  std::string similarity = sampleConfiguration("similarity.xml");
  std::string session;
  std::vector<std::string> inputs;
  std::optional<unsigned> id;
  unsigned count = 10;
  std::string textFile;
  std::string riffFile;
  unsigned mask = 127;
};

void usage() {
  std::fprintf(stderr,
               "usage: kivet-session build  [-c CONFIG] [-s SIMCONFIG] SESSION INPUT...\n"
               "       kivet-session query  [-c CONFIG] [-s SIMCONFIG] SESSION (INPUT | --id ID) [-n N]\n"
               "       kivet-session info   [-s SIMCONFIG] SESSION\n"
               "       kivet-session export [-s SIMCONFIG] SESSION (--text FILE [--mask M] | --riff FILE [-n N])\n");
}

bool readUnsigned(const std::string& text, unsigned& value) {
  try {
    size_t used = 0;
    const unsigned long parsed = std::stoul(text, &used);
    if (used != text.size() || parsed > 0xFFFFFFFFul) return false;
    value = static_cast<unsigned>(parsed);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool parseArguments(int argc, char** argv, Options& o) {
  if (argc < 2) return false;
  o.command = argv[1];
  std::vector<std::string> positional;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takesValue = arg == "-c" || arg == "-s" || arg == "-n" || arg == "--id" || arg == "--text" ||
                            arg == "--riff" || arg == "--mask";
    if (!takesValue) {
      if (!arg.empty() && arg[0] == '-') {
        std::fprintf(stderr, "kivet-session: unknown option %s\n", arg.c_str());
        return false;
      }
      positional.push_back(arg);
      continue;
    }
    if (i + 1 == argc) {
      std::fprintf(stderr, "kivet-session: option %s needs a value\n", arg.c_str());
      return false;
    }
    const std::string value = argv[++i];
    unsigned number = 0;
    const bool numeric = readUnsigned(value, number);
    if (arg == "-c") o.config = value;
    if (arg == "-s") o.similarity = value;
    if (arg == "--text") o.textFile = value;
    if (arg == "--riff") o.riffFile = value;
    if (arg == "-n") o.count = number;
    if (arg == "--mask") o.mask = number;
    if (arg == "--id") o.id = number;
    if ((arg == "-n" || arg == "--mask" || arg == "--id") && !numeric) {
      std::fprintf(stderr, "kivet-session: %s needs a number, not %s\n", arg.c_str(), value.c_str());
      return false;
    }
  }
  if (positional.empty()) return false;
  o.session = positional.front();
  o.inputs.assign(positional.begin() + 1, positional.end());
  if (o.command == "build") return !o.inputs.empty();
  if (o.command == "query") return o.inputs.size() + (o.id ? 1 : 0) == 1;
  if (o.command == "info") return o.inputs.empty();
  if (o.command == "export") return o.inputs.empty() && o.textFile.empty() != o.riffFile.empty();
  return false;
}

// One line for the user, whatever was thrown.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

template <typename Call>
auto step(const std::string& what, Call&& call) -> decltype(call()) {
  try {
    return call();
  } catch (const Failure&) {
    throw;
  } catch (...) {
    throw Failure(what + ": " + describeCurrentException());
  }
}

bool isSignatureFile(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".sig") == 0;
}

Held<vraISession> openSession(const Options& o, bool mayBeNew) {
  Held<vraISession> session(
      step("similarity configuration " + o.similarity, [&] { return CreateSession(o.similarity.c_str(), true); }));
  if (mayBeNew && !std::filesystem::exists(o.session)) return session;
  step(o.session, [&] { session->loadSession(o.session.c_str()); });
  return session;
}

// A signature object for an input: a signature file loaded, or the song of an
// audio file extracted (and finished by whatever uses it first).
ExtractedSong signatureOf(const std::string& input, const AudioExtraction& extraction) {
  if (!isSignatureFile(input)) return step(input, [&] { return extraction.extract(input); });
  ExtractedSong song;
  step(input, [&] {
    song.signature = Held<vraISignature>(CreateSignature(extraction.configPath().c_str(), kAnyRate));
    song.signature->load(input.c_str());
  });
  return song;
}

void add(vraISession& session, const std::string& input, const AudioExtraction& extraction) {
  ExtractedSong song = signatureOf(input, extraction);
  unsigned id = 0;
  step(input, [&] {
    extraction.finish("adding to the session", song, [&] { id = session.addSignature(song.signature.get()); });
  });
  // A song the configuration cannot compare is reported by the library and
  // left out.
  if (!session.containsId(id))
    throw Failure(input + ": the similarity configuration cannot compare this song (see the library's line above)");
}

// The library's naming rule: the session path up to the last "." of its file
// name, then ".meta".
std::string metadataPathOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  const bool inName = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return path.substr(0, inName ? dot : path.size()) + ".meta";
}

// Saved beside the target under a name of its own, then renamed over it: a
// reader never meets a half-written session or metadata file.
void saveWhole(vraISession& session, const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  const size_t cut = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : path.size();
  const std::string temporary = path.substr(0, cut) + "-partial-" + std::to_string(getpid()) + path.substr(cut);
  step("saving " + path, [&] {
    try {
      session.saveSession(temporary.c_str());
      if (std::filesystem::exists(metadataPathOf(temporary)))
        std::filesystem::rename(metadataPathOf(temporary), metadataPathOf(path));
      std::filesystem::rename(temporary, path);
    } catch (...) {
      std::filesystem::remove(temporary);
      std::filesystem::remove(metadataPathOf(temporary));
      throw;
    }
  });
}

// A progress bar on the standard error stream when it is a terminal.
class Progress {
 public:
  explicit Progress(size_t total) : total(total), shown(isatty(STDERR_FILENO) != 0) {}
  void show(size_t done, const std::string& what) const {
    if (!shown) return;
    const size_t width = 30;
    const size_t filled = total == 0 ? width : done * width / total;
    std::fprintf(stderr, "\r[%s%s] %zu/%zu %-40.40s", std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), done, total, what.c_str());
    std::fflush(stderr);
  }
  void clear() const {
    if (shown) std::fprintf(stderr, "\r%80s\r", "");
  }

 private:
  size_t total;
  bool shown;
};

int build(const Options& o) {
  Held<vraISession> session = openSession(o, true);
  const unsigned before = session->getSongCount();
  const AudioExtraction extraction(o.config);
  const Progress progress(o.inputs.size());
  int status = 0;
  for (size_t i = 0; i < o.inputs.size(); ++i) {
    progress.show(i, o.inputs[i]);
    try {
      add(*session, o.inputs[i], extraction);
    } catch (const Failure& failure) {
      progress.clear();
      std::fprintf(stderr, "kivet-session: %s\n", failure.what());
      status = 1;
    }
  }
  progress.show(o.inputs.size(), "saving");
  saveWhole(*session, o.session);
  progress.clear();
  std::printf("%s: %u songs (%u added)\n", o.session.c_str(), session->getSongCount(),
              session->getSongCount() - before);
  return status;
}

std::string songTexts(vraISession& session, unsigned id) {
  try {
    Held<vraISong> song(session.getSong(id));
    return std::string(song->getArtist(false)) + "\t" + song->getTitle(false);
  } catch (const vraKivetException&) {
    return "\t";
  }
}

int query(const Options& o) {
  Held<vraISession> session = openSession(o, false);
  Held<vraIResultList> results;
  if (o.id) {
    const std::string what = "song " + std::to_string(*o.id);
    results = Held<vraIResultList>(step(what, [&] { return session->queryById(*o.id, o.count); }));
  } else {
    const AudioExtraction extraction(o.config);
    ExtractedSong song = signatureOf(o.inputs.front(), extraction);
    extraction.finish(o.inputs.front(), song, [&] {
      results = Held<vraIResultList>(session->queryBySignature(song.signature.get(), o.count, false));
    });
  }
  std::printf("rank\tid\tscore\tartist\ttitle\n");
  for (unsigned i = 0; i < results->size(); ++i) {
    const vraResult result = results->getResult(i);
    std::printf("%u\t%u\t%.3f\t%s\n", i + 1, result.id, result.score, songTexts(*session, result.id).c_str());
  }
  return 0;
}

// The session id is the first line of the text export: "#SESSION-ID=...;".
std::string sessionId(vraISession& session) {
  const std::filesystem::path listing =
      std::filesystem::temp_directory_path() / ("kivet-session-" + std::to_string(getpid()) + ".txt");
  step("listing the session", [&] { session.exportText(listing.c_str(), 0); });
  std::ifstream in(listing);
  std::string line;
  std::getline(in, line);
  std::filesystem::remove(listing);
  const size_t start = line.find('=') + 1;
  return line.substr(start, line.rfind(';') - start);
}

int info(const Options& o) {
  Held<vraISession> session = openSession(o, false);
  std::printf("session %s\n%u songs\nid\tlength\tartist\ttitle\n", sessionId(*session).c_str(),
              session->getSongCount());
  for (unsigned i = 0; i < session->getSongCount(); ++i) {
    Held<vraISong> song(session->getSongAt(i));
    const int ms = song->getLength();
    std::printf("%u\t%d:%02d.%03d\t%s\t%s\n", song->getId(), ms / 60000, ms / 1000 % 60, ms % 1000,
                song->getArtist(false), song->getTitle(false));
  }
  return 0;
}

int exportSession(const Options& o) {
  Held<vraISession> session = openSession(o, false);
  if (!o.textFile.empty())
    step(o.textFile, [&] { session->exportText(o.textFile.c_str(), o.mask); });
  else
    step(o.riffFile, [&] { session->exportSimilarityRiff(o.riffFile.c_str(), o.count); });
  std::printf("%s: %u songs\n", o.textFile.empty() ? o.riffFile.c_str() : o.textFile.c_str(),
              session->getSongCount());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseArguments(argc, argv, o)) {
    usage();
    return 2;
  }
  try {
    if (o.command == "build") return build(o);
    if (o.command == "query") return query(o);
    if (o.command == "info") return info(o);
    return exportSession(o);
  } catch (const std::exception& failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "kivet-session: %s\n", failure.what());
    return 1;
  }
}
