// The feature-database image read into a database. Reading never throws: an
// entry that cannot be taken is reported and sets the corrupted flag. What was
// read saves as an image that reads back whole (same ids, nothing corrupted)
// and saves the very same bytes again. The whole-database passes then run
// with fixed tables for the feature "ov", failing only with their documented
// errors, and a database they transformed still saves and reads back whole.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/session_globals.h"
#include "similarity/session_utils.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/session_blocks.h"

namespace {

const SessionGlobals& tables() {
  static SessionGlobals globals;
  static const bool ready = [] {
    ByteBuilder b;
    b.u8(0).text("LLT");
    tableMap(b, 9, "ov", 4, 2, {0.5f, 0.5f, 1.0f, 1.0f, 1.0f, 2.0f, 3.0f, 4.0f}).text("NRM");
    tableMap(b, 9, "ov", 2, 2, {1.0f, 1.0f, 2.0f, 4.0f}).text("END");
    std::istringstream in(b.image());
    globals.read(in);
    return true;
  }();
  (void)ready;
  return globals;
}

std::string saved(const AdaptedFeatureDb& db) {
  std::ostringstream out;
  db.saveImage(out);
  return out.str();
}

std::vector<uint64_t> ids(const AdaptedFeatureDb& db) {
  std::vector<uint64_t> all;
  for (const auto& entry : db) all.push_back(entry.first);
  return all;
}

void roundTrip(const AdaptedFeatureDb& db) {
  const std::string image = saved(db);
  std::istringstream in(image);
  const AdaptedFeatureDb again(in);
  if (again.isCorrupted() || ids(again) != ids(db) || again.getName() != db.getName())
    kivet_fuzz::finding("saved image does not read back whole");
  if (saved(again) != image) kivet_fuzz::finding("image read back saves other bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const SessionGlobals& globals = tables();
  return kivet_fuzz::check(size, [&] {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    AdaptedFeatureDb db(in);
    roundTrip(db);
    try {
      SessionUtils::applyLinearizationLookup(db, globals);
      SessionUtils::applyNormalization(db, globals);
    } catch (const StandardException&) {
    } catch (const VMTLException&) {
    }
    roundTrip(db);
  });
}
