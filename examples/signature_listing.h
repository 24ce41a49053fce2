#pragma once
// What the example hosts print about a signature: its features in short (name,
// rows, columns) or in full (metadata frames, and per feature its type,
// element type, shape, parameters and first rows).

#include <iosfwd>
#include <string>

class CAudioSignMulti;

// Reads a signature file. When it cannot, throws std::runtime_error with the
// reason in a user's terms, which the hosts print after the file's name: the
// system's text when it cannot be opened ("no such file or directory",
// "permission denied"); "is a folder, not a signature file"; "not a
// signature file" when it does not begin as every signature stream does (an
// empty, a text or a foreign file); "the signature file is truncated or
// damaged (WHAT THE READER SAID)" when it breaks after that. The library's
// reader says no more than "stream mismatch!" of a text file.
void readSignatureFile(const std::string& path, CAudioSignMulti& signature);

// Whether path is a regular file that begins as every signature stream does.
bool beginsAsSignature(const std::string& path);

void printFeatureSummary(const CAudioSignMulti& signature, std::ostream& out);

void printSignature(const CAudioSignMulti& signature, unsigned firstRows, std::ostream& out);

// The text of an exception of any type the library throws.
std::string describeCurrentException();
