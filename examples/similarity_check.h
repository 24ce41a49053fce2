#pragma once
// kivet-session's check of a similarity configuration before the library
// reads it. The library takes any XML file as one: given a file that names
// no similarity method (an extraction configuration, say), it makes a
// session that refuses every song, or adds to an existing one with the
// stored methods; given broken XML, it prints the parser's report in
// several raw lines. The host says either in one line instead, before
// anything is written.

#include <string>

// Throws a HostFailure when the file at path is no similarity
// configuration: "cannot read the similarity configuration PATH: REASON",
// the system's reason when it cannot be read ("no such file or directory",
// "is a directory") or the parser's at line L, column C (counted from 1)
// where its XML breaks, or "PATH is no similarity configuration: ..." when
// it names no similarity method the library knows. The library looks its
// elements up by name anywhere in the document, and so does the check.
void checkSimilarityConfiguration(const std::string& path);
