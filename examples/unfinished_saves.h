#pragma once
// What a run ended on the way (kill -9, a power cut) can leave beside a
// session NAME.EXT with its metadata file NAME.meta, and how the next writer
// puts the pair back whole. The library saves the two files together: it
// writes both under staged names (FILE.P.tmp, or FILE.P.N.tmp when that name
// was taken, P the saving process's id), flushes them to the disk, keeps the
// files they replace aside (FILE.P.old, FILE.P.N.old), renames the metadata
// file into place, then the session file, and removes the kept files. A run
// of kivet-session loads a session with other texts through a folder of its
// own beside it, NAME.EXT.P.load-xxxxxx, holding NAME.EXT and NAME.meta.
//
// A run ended between the two renames leaves the old session file beside
// the new metadata file, with the new session file (whole) still staged and
// the old metadata file kept aside, the only copy of the old songs' records:
// removing it as a leftover would lose those texts for good. Such a save is
// completed instead: the staged session file is put in place beside the
// metadata file it was saved with. Every other leftover of an ended run is a
// staged file that never went in or a kept copy of a file that is still in
// place (or was replaced as part of a whole pair), and goes.
//
// Only names of exactly these shapes are touched, only files that hold what
// a save writes there (a session file or a metadata file, begun at least, or
// nothing yet), and only those of a process that is no longer running and
// left a name of the session itself (two sessions may share a metadata file:
// NAME.ses and NAME.db). Names of this process's own id are its own.

#include <string>

// Completes what ended runs left unfinished beside sessionPath and removes
// their leftovers, saying each on the standard error stream. The caller holds
// the session's lock exclusively. Throws HostFailure when a save cannot be
// completed (the session is then left as the ended run left it).
void finishUnfinishedSaves(const std::string& sessionPath, const std::string& metaPath);
