#pragma once
// A session as kivet-session keeps it on disk: SESSION, its metadata file
// (SESSION's name with the extension ".meta") and the lock file
// SESSION.lock, and the rules for opening and saving them:
//
// - a session reached through a symbolic link is the file the link leads
//   to: its files and its lock are those beside that file;
// - the session keeps its own similarity configuration: an existing
//   session is loaded with the one stored in it, unless the user names
//   one (which then supplies the similarity methods, with a warning when it
//   differs from the stored one);
// - its metadata file is checked (examples/session_texts.h): a session
//   whose texts are lost is refused unless the user goes on without them,
//   and a build that goes on saves it whole, with empty texts where they
//   were lost;
// - a command that writes holds the lock alone, one that reads shares it;
//   the writer also holds the lock of its metadata file, which sessions of
//   one name but the extension share (examples/session_lock.h), and
//   finishes the save (or load) that the lock's record shows unfinished
//   (examples/unfinished_saves.h);
// - a metadata file that holds texts of songs the session does not hold is
//   another session's too (a copy's, written by a build of that copy): a
//   writer refuses it, a reader goes on with a note;
// - the library saves the session and its metadata file together: it
//   writes both under temporary names beside them and puts them in place,
//   or leaves the old files as they were; the writer records the save in
//   the lock file first, and SIGINT, SIGTERM and SIGHUP wait for it.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "api/held.h"
#include "api/kivet.h"
#include "examples/save_record.h"
#include "examples/session_lock.h"
#include "examples/session_texts.h"

class SessionFile {
 public:
  enum class Use {
    // The songs and their texts, for queries and listings: the texts come
    // from the metadata file through a callback.
    Read,
    // The songs alone (the nearest-neighbour export): no texts are needed.
    ReadSongs,
    // Adding songs: the session keeps its texts itself and saves them.
    Write
  };

  struct Choices {
    // The similarity configuration the user named (-s), if any.
    std::optional<std::string> similarity;
    // The one a new session is made with when the user names none.
    std::string newSimilarity;
    // Go on with a session whose metadata file is missing or damaged.
    bool withoutLostTexts = false;
  };

  // Follows a symbolic link at path to the session file itself, takes the
  // lock (and, to write, that of the metadata file, and finishes what ended
  // runs left). A session whose folder is not there, or is no folder, is
  // refused first (HostFailure), naming that folder.
  SessionFile(const std::string& path, Use use);
  SessionFile(const SessionFile&) = delete;
  SessionFile& operator=(const SessionFile&) = delete;
  // A writer that made no session removes its lock files.
  ~SessionFile();

  // Loads the session, or makes a new one when there is none and the use is
  // Write. Failures are thrown as HostFailure with a text for the
  // user; warnings go to the standard error stream.
  vemra_kivet::vraISession& open(const Choices& choices);
  bool isNew() const { return created; }
  // Whether the session was loaded with a whole record for each song that
  // had lost its texts: saving it makes the session whole.
  bool isMended() const { return mended; }
  // The session's id, as the library keeps it at the head of the session
  // file (empty for a file that keeps none).
  std::string id() const;
  // The texts of the songs (not for Use::ReadSongs).
  const SessionTexts& texts() const { return *songTexts; }
  // The session file (past a symbolic link at the path given), its metadata
  // file and its lock file, named as this command names them.
  const std::string& sessionPath() const { return path; }
  const std::string& metadataPath() const { return metaPath; }
  std::string lockPath() const { return path + ".lock"; }
  std::string metadataLockPath() const { return metaPath + ".lock"; }
  // Whether the file at input is one of the session's own: the session
  // file, its metadata file or the lock file of either (the same file by any
  // name), or in the session's folder a name that a save or a load of the
  // session takes (examples/unfinished_saves.h), whoever made it.
  bool isOwnFile(const std::string& input) const;

  // Saves the session whole over the old files, or leaves them as they
  // were. Throws HostFailure; a full disk or a folder that cannot be
  // written is named as the system names it ("no space left on device").
  void save();

 private:
  static const std::string& inExistingFolder(const std::string& path, Use use);
  void removeLocksOfMissingSession() const;
  void refuseTakenMetadataName() const;
  void checkOwnTexts() const;
  void refuseUnwritable() const;
  std::string whyNoSession() const;
  // A session that keeps its songs' texts itself (withTexts) or has them
  // from a callback.
  vemra_kivet::Held<vemra_kivet::vraISession> makeSession(const char* configuration, bool withTexts) const;
  void load(const Choices& choices);
  void loadWithTexts(const std::function<void(const std::string&)>& writeMeta) const;
  void loadThroughFolder(const std::function<void(const std::string&)>& writeMeta,
                         std::optional<SaveRecord>& record) const;
  void loadFrom(const std::string& file, std::string* damaged = nullptr) const;
  bool storesConfiguration(const std::string& similarity) const;
  void warnOfOtherConfiguration(const std::string& similarity) const;

  std::string path;
  std::string metaPath;
  Use use;
  SessionLock lock;
  // A writer's; none for a session named as its own metadata file, whose
  // lock is that one.
  std::unique_ptr<SessionLock> metadataLock;
  bool created = false;
  bool mended = false;
  // The similarity configuration the user named for an existing session.
  std::optional<std::string> namedSimilarity;
  std::unique_ptr<SessionTexts> songTexts;
  std::unique_ptr<SessionTextCallback> callback;
  // Released before the callback it may hold goes.
  vemra_kivet::Held<vemra_kivet::vraISession> session;
};

// What the file at path is when it is a regular file that does not begin as
// a session file does: "not a session file but an audio file" (one that
// libsndfile reads), "not a session file but a signature file", or "not a
// session file, nor an audio or a signature file" (an empty or a text file,
// say); empty for a session file (damaged or not) and for anything that is
// no regular file or not there.
std::string otherThanSession(const std::string& path);

// The metadata file the library saves and loads beside a session: the
// session path up to the last "." of its file name, then ".meta"
// (Session::metadataPath).
std::string metadataPathOf(const std::string& sessionPath);

// The file a path names: symbolic links in its place are followed as the
// library follows them when it writes (also to a file not made yet), the
// path as given when there is none or it leads to no file. Throws
// HostFailure when the links go round or cannot be read.
std::string fileBehindLinks(const std::string& path);
