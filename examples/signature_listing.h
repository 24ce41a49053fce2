#pragma once
// What the example hosts print about a signature: its features in short (name,
// rows, columns) or in full (metadata frames, and per feature its type,
// element type, shape, parameters and first rows).

#include <iosfwd>
#include <string>

class CAudioSignMulti;

// Reads a signature file; throws what the signature reader throws, or a
// std::runtime_error when the file cannot be opened.
void readSignatureFile(const std::string& path, CAudioSignMulti& signature);

void printFeatureSummary(const CAudioSignMulti& signature, std::ostream& out);

void printSignature(const CAudioSignMulti& signature, unsigned firstRows, std::ostream& out);

// The text of an exception of any type the library throws.
std::string describeCurrentException();
