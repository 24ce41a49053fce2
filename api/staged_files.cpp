#include "api/staged_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "platform/file_replace.h"
#include "platform/write_target.h"

namespace fs = std::filesystem;
using platform::NewName;

namespace vemra_kivet {

namespace {

// Names tried beside one target before the save gives up: someone who may
// write in the folder can keep a save from happening there anyway.
constexpr int kMostNames = 100;

// The first of TARGET.P.SUFFIX, TARGET.P.1.SUFFIX, TARGET.P.2.SUFFIX, ...
// that make makes; empty (errno set) when make fails or every name is taken.
template <typename Make>
std::string makeBeside(const std::string& target, const char* suffix, Make&& make) {
  const std::string stem = target + "." + std::to_string(platform::currentProcessId());
  for (int n = 0; n < kMostNames; ++n) {
    std::string name = n == 0 ? stem + suffix : stem + "." + std::to_string(n) + suffix;
    const NewName made = make(name);
    if (made == NewName::Made) return name;
    if (made == NewName::Failed) return std::string();
  }
  errno = EEXIST;
  return std::string();
}

// Runs cleanup without letting it change errno, which names why a step failed.
template <typename Cleanup>
void keepingErrno(Cleanup&& cleanup) {
  const int error = errno;
  cleanup();
  errno = error;
}

// A stream's bytes, held until the commit. A writer may go back to fill in a
// size it knows only at the end (the RIFF export does), which a pipe could
// not take.
class HeldBytes : public std::streambuf {
 public:
  const std::vector<char>& bytes() const { return data; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    xsputn(&ch, 1);
    return c;
  }
  std::streamsize xsputn(const char* bytes, std::streamsize count) override {
    const auto size = static_cast<std::size_t>(count);
    if (size == 0) return 0;
    if (position + size > data.size()) data.resize(position + size);
    std::memcpy(data.data() + position, bytes, size);
    position += size;
    return count;
  }
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) override {
    const off_type base = direction == std::ios_base::beg   ? 0
                          : direction == std::ios_base::cur ? static_cast<off_type>(position)
                                                            : static_cast<off_type>(data.size());
    if (base + offset < 0 || base + offset > static_cast<off_type>(data.size())) return pos_type(off_type(-1));
    position = static_cast<std::size_t>(base + offset);
    return pos_type(base + offset);
  }
  pos_type seekpos(pos_type to, std::ios_base::openmode which) override {
    return seekoff(off_type(to), std::ios_base::beg, which);
  }

 private:
  std::vector<char> data;
  std::size_t position = 0;
};

// Two targets compare as the same file when their names do, read from the
// working folder with every "." and ".." taken out.
std::filesystem::path comparable(const std::string& target) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(target, error);
  return (error ? std::filesystem::path(target) : absolute).lexically_normal();
}

}  // namespace

StagedFiles::~StagedFiles() {
  keepingErrno([&] {
    for (Entry& entry : entries) {
      // Closed first: Windows removes no open file.
      entry.stream.reset();
      entry.file.reset();
      if (!entry.temporary.empty()) std::remove(entry.temporary.c_str());
    }
  });
}

std::ostream& StagedFiles::write(const std::string& target, platform::NewFile::Mode mode) {
  Entry entry;
  entry.file = std::make_unique<platform::NewFile>();
  platform::WriteTarget where;
  std::streambuf* into = nullptr;
  if (!platform::resolveWriteTarget(target, where)) {
    if (!where.foreignLink.empty())
      refuse(target + ": the link " + where.foreignLink +
             ", in a sticky folder that others may write, belongs to another user");
    entry.failed = true;
  } else if (where.kind == platform::WriteTarget::Kind::File && sameTarget(where.path)) {
    // The second file would replace the first: one of them would be lost.
    errno = EINVAL;
    entry.failed = true;
  } else if (where.kind == platform::WriteTarget::Kind::Stream) {
    entry.target = where.path;
    entry.isStream = true;
    entry.failed = !entry.file->openStream(where, mode);
    entry.held = std::make_unique<HeldBytes>();
    if (!entry.failed) into = entry.held.get();
  } else if (!platform::mayWrite(where.path)) {
    refuse(where.path + ", which the caller may not write");
    entry.failed = true;
  } else {
    entry.target = where.path;
    entry.temporary =
        makeBeside(entry.target, ".tmp", [&](const std::string& name) { return entry.file->create(name, mode); });
    entry.failed = entry.temporary.empty() || !entry.file->takePermissionsOf(entry.target);
    if (!entry.failed) into = entry.file.get();
  }
  // Without a file the stream has failed from the start.
  keepingErrno([&] { entry.stream = std::make_unique<std::ostream>(into); });
  entries.push_back(std::move(entry));
  return *entries.back().stream;
}

void StagedFiles::remove(const std::string& target) {
  Entry entry;
  platform::WriteTarget where;
  entry.failed = !platform::resolveWriteTarget(target, where);
  // A device or a pipe holds no file that could be taken away.
  if (!entry.failed && where.kind == platform::WriteTarget::Kind::Stream) return;
  entry.target = where.path;
  entries.push_back(std::move(entry));
}

// Only files (and files to remove) are compared: two streams may well be
// one device.
bool StagedFiles::sameTarget(const std::string& target) const {
  const std::filesystem::path name = comparable(target);
  for (const Entry& entry : entries)
    if (!entry.isStream && !entry.failed && comparable(entry.target) == name) return true;
  return false;
}

bool StagedFiles::flush() {
  for (Entry& entry : entries) {
    if (entry.failed) return false;
    if (!entry.file || entry.isStream) continue;
    entry.stream->flush();
    if (!*entry.stream || !entry.file->flushToDiskAndClose()) return false;
  }
  return true;
}

bool StagedFiles::writeStreams() {
  for (Entry& entry : entries) {
    if (!entry.isStream) continue;
    const std::vector<char>& bytes = static_cast<const HeldBytes&>(*entry.held).bytes();
    std::ostream out(entry.file.get());
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush() || !entry.file->flushToDiskAndClose()) return false;
  }
  return true;
}

// A second link to the file at the target costs nothing and is the file
// itself; where the file system has no links, a copy of its bytes stands in.
// A folder or anything else that is no file is not kept: nothing replaces it.
bool StagedFiles::keepAside(Entry& entry) const {
  std::error_code error;
  const fs::file_type type = fs::symlink_status(entry.target, error).type();
  if (entry.isStream || (type != fs::file_type::regular && type != fs::file_type::symlink)) return true;
  bool noLinks = false;
  entry.kept = makeBeside(entry.target, ".old", [&](const std::string& name) {
    const NewName made = platform::makeHardLink(entry.target, name);
    noLinks = made == NewName::Failed;
    return made;
  });
  if (!entry.kept.empty() || !noLinks) return !entry.kept.empty();

  platform::NewFile copy;
  entry.kept = makeBeside(entry.target, ".old", [&](const std::string& name) { return copy.create(name); });
  if (entry.kept.empty()) return false;
  // With the file's permissions, as a failed save puts the copy back. Read
  // as the file it is: something else put there meanwhile (a pipe would
  // never end) fails the save.
  bool whole = copy.takePermissionsOf(entry.target) && copy.copyFrom(entry.target);
  whole = whole && copy.flushToDiskAndClose();
  // A copy cut short (a full disk) would hold part of the file only.
  if (!whole) keepingErrno([&] { std::remove(entry.kept.c_str()); });
  if (!whole) entry.kept.clear();
  return whole;
}

bool StagedFiles::commit() {
  const auto fail = [&] {
    keepingErrno([&] {
      undo();
      dropKept();
    });
    return false;
  };
  if (!flush()) return false;
  for (Entry& entry : entries)
    if (!keepAside(entry)) return fail();
  for (Entry& entry : entries) {
    if (entry.isStream) continue;
    const bool done = entry.file ? platform::replaceFile(entry.temporary, entry.target)
                                 : entry.kept.empty() || std::remove(entry.target.c_str()) == 0;
    if (!done) return fail();
    // The name is the target's now, no longer this object's to remove.
    entry.temporary.clear();
    entry.done = true;
  }
  if (!writeStreams()) return fail();
  keepingErrno([&] { dropKept(); });
  return true;
}

// Last step first: each target gets back what stood there, or loses the
// file that was put where none stood.
void StagedFiles::undo() {
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (!entry->done) continue;
    if (!entry->kept.empty()) {
      platform::replaceFile(entry->kept, entry->target);
      entry->kept.clear();
    } else if (entry->file) {
      std::remove(entry->target.c_str());
    }
    entry->done = false;
  }
}

void StagedFiles::refuse(const std::string& why) const {
  keepingErrno([&] { std::cerr << origin << " refused " << why << "; nothing written" << std::endl; });
}

void StagedFiles::dropKept() {
  for (Entry& entry : entries) {
    if (!entry.kept.empty()) std::remove(entry.kept.c_str());
    entry.kept.clear();
  }
}

}  // namespace vemra_kivet
