#include "examples/song_files.h"

#include <sys/stat.h>

#include <cerrno>

#include "api/held.h"
#include "api/text_encoding.h"
#include "examples/audio_extraction.h"

using namespace vemra_kivet;

namespace {

// A name as the session keeps it: made absolute, in UTF-8 (the session takes
// a name that is no UTF-8 for Latin-1).
std::string keptText(const std::string& name) {
  const std::string absolute = songFileName(name);
  return isUtf8(absolute.c_str()) ? absolute : latin1ToUtf8(absolute.c_str());
}

}  // namespace

SongFiles::SongFiles(vraISession& session) {
  const Held<vraIIDList> ids(session.getAllIds());
  for (unsigned i = 0; i < ids->size(); ++i) {
    try {
      const Held<vraISong> song(session.getSong(ids->getId(i)));
      if (!add(song->getFileName(false))) ++goneFiles;
    } catch (const vraKivetException&) {
      // A song that lost its texts names no file.
    }
  }
}

bool SongFiles::holds(const std::string& name) const {
  if (name.empty()) return false;
  struct stat status {};
  if (stat(name.c_str(), &status) == 0 && files.count({status.st_dev, status.st_ino}) != 0) return true;
  return names.count(keptText(name)) != 0;
}

bool SongFiles::add(const std::string& name) {
  if (name.empty()) return true;
  struct stat status {};
  const bool found = stat(name.c_str(), &status) == 0;
  const bool gone = !found && (errno == ENOENT || errno == ENOTDIR);
  if (found) files.insert({status.st_dev, status.st_ino});
  names.insert(keptText(name));
  return !gone;
}
