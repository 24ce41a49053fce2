#include "api/session_file_header.h"

#include <istream>

#include "api/vra_kivet_exception.h"
#include "metadata/sources/common/byte_stream.h"

namespace vemra_kivet {

namespace {

const char kMagic[] = "SES";
const char kTagMark[] = "TAG:";
const char kSessionIdTag[] = "VRA_SESID";
const char kLastIdTag[] = "VRA_LSTID";

// "TAG:", the name and the size of the value: str, str and u32.
constexpr uint64_t kEntryHead = 4 + 4 + 4 + 4;
constexpr uint32_t kLastIdSize = 4;

[[noreturn]] void mismatch() { throw vraKivetException(VRA_SESSION_FORMAT_MISMATCH); }

std::ostream& writeTag(std::ostream& out, const char* name, uint32_t size) {
  return writeUInt32LE(writeString(writeString(out, kTagMark), name), size);
}

}  // namespace

void SessionFileHeader::write(std::ostream& out) const {
  const auto idLength = static_cast<uint32_t>(sessionId.size());
  const auto sectionSize = static_cast<uint32_t>(2 * kEntryHead + sizeof kSessionIdTag - 1 + sizeof kLastIdTag - 1 +
                                                 4 + idLength + kLastIdSize);
  writeUInt32LE(writeString(out, kMagic), sectionSize);
  writeString(writeTag(out, kSessionIdTag, idLength + 4), sessionId);
  writeUInt32LE(writeTag(out, kLastIdTag, kLastIdSize), lastId);
}

SessionFileHeader SessionFileHeader::read(std::istream& in) {
  SessionFileHeader header;
  uint32_t sectionSize = 0;
  if (readString(in) != kMagic || !readUInt32LE(in, sectionSize)) mismatch();
  const auto sectionEnd = static_cast<uint64_t>(in.tellg()) + sectionSize;
  // Every entry takes at least its head: the walk ends within the section or
  // at the end of the file.
  for (uint64_t at = static_cast<uint64_t>(in.tellg()); at < sectionEnd; at = static_cast<uint64_t>(in.tellg())) {
    if (readString(in) != kTagMark || in.fail()) mismatch();
    const std::string name = readString(in);
    uint32_t size = 0;
    if (in.fail() || !readUInt32LE(in, size)) mismatch();
    const auto valueStart = static_cast<uint64_t>(in.tellg());
    if (valueStart + size > sectionEnd) mismatch();
    if (name == kSessionIdTag) {
      header.sessionId = readString(in);
      if (in.fail()) mismatch();
      header.hasSessionId = true;
    } else if (name == kLastIdTag) {
      if (size < kLastIdSize || !readUInt32LE(in, header.lastId)) mismatch();
    }
    // The value's size says where the next entry starts, whatever was read.
    const auto read = static_cast<uint64_t>(in.tellg()) - valueStart;
    if (read > size || !skipBytes(in, size - read)) mismatch();
  }
  return header;
}

}  // namespace vemra_kivet
