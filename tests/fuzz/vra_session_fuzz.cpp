// A session file read by the session object: its header, then the store's
// body and the configuration stored in it, into a session without songs (a
// fresh load) and into one holding a song (a merge). A load either succeeds
// or fails with a coded exception, the store's StandardException or the vector
// library's VMTLException. A load that fails short of a corrupted stream
// leaves the session as it was, a merge keeps the session's own song, and no
// load stores a song that a query could not compare with the others. The
// session object takes a path: the input goes to a file of this process,
// reused for every input, beside a metadata file without records (so a load
// that keeps songs ends with the corrupted session's code).

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "api/vra_kivet_exception.h"
#include "api/vra_session.h"
#include "api/vra_signature.h"
#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "session/song_check.h"
#include "similarity/dom_support.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/similarity_songs.h"

using namespace vemra_kivet;

namespace {

std::string writtenOnce(const std::string& what, const std::string& bytes) {
  const std::string path = kivet_fuzz::fileOfThisRun("vra_session_fuzz", what);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// The reader buffers of one parse and the parser's tables, and the session's
// own configuration and song.
constexpr size_t kFixedCost = 512 * 1024;

void loadInto(vraSession& session, bool merge, const std::string& input) {
  enum { kLoaded, kFailed, kCorrupted } outcome = kLoaded;
  try {
    session.loadSession(input.c_str());
  } catch (const vraKivetException& e) {
    outcome = e.getCode() == VRA_CORRUPTED_SESSION ? kCorrupted : kFailed;
  } catch (const StandardException&) {
    outcome = kFailed;
  } catch (const VMTLException&) {
    outcome = kFailed;
  }
  if (outcome == kFailed && session.getSongCount() != (merge ? 1u : 0u))
    kivet_fuzz::finding("a load that failed changed the session");
  const AdaptedFeatureDb& songs = *session.getManager().session().getDatabase();
  const SongCheck check(session.getManager(), songs.empty() ? nullptr : songs.begin()->second);
  for (const auto& entry : songs)
    if (!check.admits(*entry.second)) kivet_fuzz::finding("a load stored a song no query could compare");
  if (!merge) return;
  if (!session.containsId(1)) kivet_fuzz::finding("a merge lost the session's own song");
  try {
    session.queryById(1, 10)->release();
  } catch (const StandardException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The Xerces platform, initialised by the first parser of the process, is
  // up before the first input.
  static DomParser platform;
  static const std::string input = kivet_fuzz::fileOfThisRun("vra_session_fuzz", "input.ses");
  static const std::string meta = writtenOnce("input.meta", "<METAFILE>\n");
  static const std::string config = writtenOnce("config.xml", songs::kConfiguration);
  static const std::string songFile = [] {
    std::ostringstream bytes;
    songs::song(0, 1.0f)->write(bytes);
    return writtenOnce("song.sig", bytes.str());
  }();
  return kivet_fuzz::check(
      size,
      [&] {
        kivet_fuzz::writeInputFile(input, data, size);
        for (bool merge : {false, true}) {
          auto* session = new vraSession;
          session->init(config.c_str(), true);
          auto* song = new vraSignature;
          song->load(songFile.c_str());
          if (merge) session->addSignature(song);
          loadInto(*session, merge, input);
          song->release();
          session->release();
        }
      },
      kFixedCost);
}
