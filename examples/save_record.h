#pragma once
// The record a build keeps in its session's lock file (SESSION.lock, which
// it holds alone) of what it is about to make beside the session, so that a
// later build can tell a save that did not finish from anything else at
// such names: the library's staged and kept files and the host's load
// folder are recognised by the record, never by their names, which a user
// or another program may have taken (a backup "music.ses.1700000000.old"),
// and whose process ids are reused.
//
// The record, plain lines, each ending with a line feed:
//   kivet-session save record 1
//   process PID START BOOT      the recording process (examples/process_identity.h)
//   load XXXXXX                 it makes the load folder NAME.EXT.PID.load-XXXXXX
//   save                        it saves the session (saveSession)
//   before KIND N END           a name of its save that existed before it began:
//                               KIND session or meta, END tmp or old, N the
//                               name's number (0: FILE.PID.END, else
//                               FILE.PID.N.END); only after "save"
//   end
// "load" and "save" are each optional; a record that does not read exactly
// so (another version's, one cut short) is no record.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "examples/process_identity.h"

struct SaveRecord {
  // A name that a save of the recorded process may take beside the session
  // file or its metadata file FILE: staged (FILE.PID.tmp, FILE.PID.N.tmp)
  // or kept (FILE.PID.old, FILE.PID.N.old).
  struct Name {
    bool meta = false;
    bool kept = false;
    int number = 0;

    std::string path(const std::string& sessionPath, const std::string& metaPath, pid_t pid) const;
    bool operator==(const Name& other) const {
      return meta == other.meta && kept == other.kept && number == other.number;
    }
  };
  // Every name a save may take: the library tries FILE.PID.END, then
  // FILE.PID.1.END to FILE.PID.99.END (api/staged_files.cpp).
  static std::vector<Name> allNames();

  // The start of the name of the load folder of process pid beside the
  // session: NAME.EXT.PID.load- (mkdtemp adds six characters).
  static std::string loadFolderPrefix(const std::string& sessionPath, pid_t pid);

  // A record of this process; none where /proc cannot tell it apart from a
  // later process of its pid: a build then goes on unrecorded, and a later
  // one leaves whatever it leaves to the user.
  static std::optional<SaveRecord> ofThisProcess();
  // The same for a save of the session at sessionPath that begins now.
  static std::optional<SaveRecord> ofSave(const std::string& sessionPath, const std::string& metaPath);

  ProcessIdentity process;
  // The six characters mkdtemp chose for the load folder; empty for none.
  std::string loadFolder;
  bool saving = false;
  // Names of the save's own shapes that were there before it began: not
  // the save's.
  std::vector<Name> before;

  // More than any record takes: a longer text is none.
  static constexpr size_t kMostBytes = 64 * 1024;

  std::string text() const;
  // The record that text holds; none when it is not one.
  static std::optional<SaveRecord> parse(const std::string& text);
};
