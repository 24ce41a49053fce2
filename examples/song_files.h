#pragma once
// The audio files a session's songs were made of, as the file names stored
// with them name them, so that a build adds no file twice. A file is the
// same file by any name that leads to it (the path given otherwise, with
// "./", as an absolute path, through a link): the device and inode a name
// leads to. A name that leads to no file (a file moved away since) is
// compared as a text, made absolute. A relative name, as a session or a
// signature file of an earlier version may hold, names what it names from
// the working folder. Nothing of a file's content is compared: a file
// changed since its song was added is the same file, and is not extracted
// again.

#include <sys/types.h>

#include <set>
#include <string>
#include <utility>

#include "api/kivet.h"

class SongFiles {
 public:
  // The files of the songs session holds, from the file names of their
  // texts (a song without one, or without texts, has none).
  explicit SongFiles(vemra_kivet::vraISession& session);

  // Whether a song of the file name names is in the session (never for an
  // empty name).
  bool holds(const std::string& name) const;
  // Counts the file name names as the session's, for a song just added;
  // false when that file is not there.
  bool add(const std::string& name);
  // How many of the songs the session held when this was made name a file
  // that is no longer there (moved or removed): their names are compared as
  // texts, so such a file given again at its new place is a new song.
  unsigned gone() const { return goneFiles; }

 private:
  std::set<std::pair<dev_t, ino_t>> files;
  std::set<std::string> names;
  unsigned goneFiles = 0;
};
