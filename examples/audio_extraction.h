#pragma once
// What the example hosts share to turn audio files into signatures: reading
// the audio (anything libsndfile reads, resampled to one rate for every song,
// examples/audio_file.h), feeding it to a
// signature object, and saying what went wrong in a user's terms. The
// library's error codes stay as they are; the hosts add what a code alone
// cannot say: why a configuration cannot be read (the system's reason, or
// the configuration reader's own message for one that is not well-formed
// XML), that a file holds no audio, and that a song is too short for the
// configuration.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "api/held.h"
#include "api/kivet.h"

using vemra_kivet::Held;

// The rate every song is extracted at, whatever its file's rate: the sample
// configurations are made for it, and songs extracted at other rates get
// features of other sizes, which no session can compare.
constexpr unsigned kExtractionRate = 44100;

// A sample configuration shipped with kivet (config/NAME): the one installed
// beside the program (share/kivet/ of its prefix), else the one of the source
// tree, for a program run from the build tree.
std::string sampleConfiguration(const std::string& name);

// The file name a song of the audio file at path records: the path made
// absolute, from the folder the file is in as the system resolves it (links
// and ".." followed), and the file's own name as given. It names the file
// from any working folder, which a build relies on to tell a file it holds.
std::string songFileName(const std::string& path);

// A song fed whole to its signature object, which is not finished yet.
struct ExtractedSong {
  Held<vemra_kivet::vraISignature> signature;
  // The length the signature records ("TLEN").
  uint64_t milliseconds = 0;
  // The file's own rate (the signature's is kExtractionRate).
  int samplingRate = 0;
  int channels = 0;
  // Time spent inside the library.
  std::chrono::steady_clock::duration libraryTime{};
};

class AudioExtraction {
 public:
  // Reads the configuration once with the library's own configuration
  // reader, for what the library's failures will need to say. A
  // configuration that cannot be read is thrown as std::runtime_error
  // "cannot read the configuration CONFIG: " and the system's reason, or the
  // reader's with the line and column (counted from 1) where it stopped.
  explicit AudioExtraction(std::string configPath);

  const std::string& configPath() const { return path; }
  // The shortest song of which every feature of the configuration gets a
  // row, in milliseconds; 0 when the configuration cannot be read.
  uint64_t shortestSongMs() const { return shortestMs; }
  // Whether the song was extracted here from fewer samples than that: its
  // signature then holds no data, which the library refuses as invalid.
  bool tooShort(const ExtractedSong& song) const { return song.samplingRate != 0 && song.milliseconds < shortestMs; }

  // Reads the audio file at kExtractionRate and feeds every sample to a new
  // signature object made with the configuration: mono as it is, stereo
  // downmixed by the library, one second per call, so that every call adds a whole number of
  // milliseconds to the length the signature records. Title and artist come
  // from the file's tags, the file name is songFileName(audioPath). A
  // failure is thrown as std::runtime_error with a text for the user.
  ExtractedSong extract(const std::string& audioPath) const;

  // Runs the call that finishes the song's signature (saving it, or adding it
  // to a session) as library time. A failure is thrown as std::runtime_error:
  // what, the library's message and, for a song too short for the
  // configuration, that.
  void finish(const std::string& what, ExtractedSong& song, const std::function<void()>& call) const;

 private:
  void run(const std::string& what, ExtractedSong& song, const std::function<void()>& call, bool finishing) const;
  std::string explainCurrentFailure(const ExtractedSong& song, bool finishing) const;

  std::string path;
  uint64_t shortestMs = 0;
};
