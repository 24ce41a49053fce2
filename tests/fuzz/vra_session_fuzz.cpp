// A session file read by the session object: its header, then the store's
// body and the configuration stored in it, into a session without songs (a
// fresh load) and into one holding a song (a merge). A load either succeeds
// or fails with a coded exception, the store's StandardException or the vector
// library's VMTLException. A load that fails short of a corrupted stream
// leaves the session as it was: it still finds its own song. The session
// object takes a path: the input goes to a file of this process, reused for
// every input.

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "api/vra_kivet_exception.h"
#include "api/vra_session.h"
#include "api/vra_signature.h"
#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/dom_support.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/similarity_songs.h"

using namespace vemra_kivet;

namespace {

struct Releaser {
  template <typename T>
  void operator()(T* object) const {
    object->release();
  }
};
template <typename T>
using Held = std::unique_ptr<T, Releaser>;

// Merges need a source of song texts besides the metadata file, which the
// input has none of.
class Callback final : public vraICallback {
 public:
  const char* getTitle(unsigned) override { return ""; }
  const char* getArtist(unsigned) override { return ""; }
  const char* getExtraText(unsigned) override { return ""; }
  const char* getFileName(unsigned) override { return ""; }
  int getLength(unsigned) override { return 0; }
  int getExtraNumber(unsigned) override { return 0; }
  int getExtraNumber2(unsigned) override { return 0; }
  int onIdChanged(unsigned, unsigned) override { return 0; }
  void reportProgress(float) override {}
  void notify(int) override {}
};

std::string writtenOnce(const std::string& what, const std::string& bytes) {
  const std::string path = kivet_fuzz::fileOfThisRun("vra_session_fuzz", what);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// The reader buffers of one parse and the parser's tables, and the session's
// own configuration and song.
constexpr size_t kFixedCost = 512 * 1024;

void loadInto(bool merge, const std::string& input, const std::string& config, vraSignature& song) {
  static Callback callback;
  Held<vraSession> session(new vraSession);
  session->init(config.c_str(), false);
  session->setCallback(&callback);
  if (merge) session->addSignature(&song);
  enum { kLoaded, kFailed, kCorrupted } outcome = kLoaded;
  try {
    session->loadSession(input.c_str());
  } catch (const vraKivetException& e) {
    outcome = e.getCode() == VRA_CORRUPTED_SESSION ? kCorrupted : kFailed;
  } catch (const StandardException&) {
    outcome = kFailed;
  } catch (const VMTLException&) {
    outcome = kFailed;
  }
  if (outcome == kFailed && session->getSongCount() != (merge ? 1u : 0u))
    kivet_fuzz::finding("a load that failed changed the session");
  if (!merge) return;
  if (!session->containsId(1)) kivet_fuzz::finding("a merge lost the session's own song");
  try {
    session->queryById(1, 10)->release();
  } catch (const vraKivetException&) {
  } catch (const StandardException&) {
  } catch (const VMTLException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Keeps the Xerces platform up between inputs.
  static DomParser platform;
  static const std::string input = kivet_fuzz::fileOfThisRun("vra_session_fuzz", "input.ses");
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
        Held<vraSignature> song(new vraSignature);
        song->load(songFile.c_str());
        for (bool merge : {false, true}) loadInto(merge, input, config, *song);
      },
      kFixedCost);
}
