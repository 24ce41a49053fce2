#pragma once
// What a build that did not finish (kill -9, a power cut) can leave beside
// a session NAME.EXT with its metadata file NAME.meta, and how the next
// build puts the pair back whole. The library saves the two files together:
// it writes both under staged names (FILE.P.tmp, or FILE.P.N.tmp when that
// name was taken, P the saving process's id), the metadata file first,
// flushes them to the disk, keeps the files they replace aside (FILE.P.old,
// FILE.P.N.old), renames the metadata file into place, then the session
// file, and removes the kept files. A build loads a session with other
// texts through a folder of its own beside it, NAME.EXT.P.load-XXXXXX,
// holding NAME.EXT and NAME.meta.
//
// Such names prove nothing: a user's backup may have them, and pids are
// reused. A build acts only on what the record in the lock file
// (examples/save_record.h) names, found under the lock it holds alone (the
// recorder clears its record before it lets the lock go, so a record there
// is of a run that no longer saves, whatever /proc says of its process), and
// only on names of its save that were not there before the save began:
//   - a staged metadata file still there: nothing was renamed; the save's
//     files go;
//   - the metadata file renamed in, the session file still staged: the save
//     is completed (the staged session file goes in beside the metadata file
//     it was saved with) when the files prove that pair, and only then: the
//     kept session file is the current one (or there was none), and the
//     staged one holds the current session's id and the songs the metadata
//     file describes. Otherwise nothing is touched and the build stops: the
//     old metadata file, kept aside, is the only copy of the old songs'
//     records, and adding to the session now would lose texts;
//   - neither staged file left: the kept files of a save done or undone go;
//   - the recorded load folder goes with the two files the build put in it.
// Then the record is cleared. Everything else stays; a line names what
// looks left over beside the session and how to put a pair back by hand,
// and another the load folders no record names, which can be removed (the
// record names a load folder before it is made, so none of a build of this
// version is left unnamed).

#include <sys/types.h>

#include <optional>
#include <string>

#include "examples/session_lock.h"

// Finishes the recorded save beside sessionPath and says what it did on
// the standard error stream. The caller holds lock exclusively. Throws
// HostFailure when the save cannot be completed (nothing is then touched).
void finishUnfinishedSave(const SessionLock& lock, const std::string& sessionPath, const std::string& metaPath);

// The process of a save that the lock's record shows cut between its two
// renames (the metadata file renamed in, the session file still staged),
// which the next build completes; none when there is none. The caller
// holds lock, shared or alone: either way the recorder no longer saves.
std::optional<pid_t> cutSave(const SessionLock& lock, const std::string& sessionPath, const std::string& metaPath);

// Whether name, a file name in the session's folder, has the shape of a name
// a save or a load of the session takes beside it (NAME.EXT.P.tmp,
// NAME.meta.P.N.old, NAME.EXT.P.load-XXXXXX, ...), whoever made it.
bool hasSaveShape(const std::string& name, const std::string& sessionPath, const std::string& metaPath);

// Names on the standard error stream what looks left over beside the
// session, which stays: in one line names of the library's staged and kept
// shapes, with how a pair is put back by hand, in another load folders,
// which can be removed.
void noteLeftovers(const std::string& sessionPath, const std::string& metaPath);
