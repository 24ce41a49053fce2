#pragma once
// Signature files given to a session in place of audio: what such a file
// must be to join songs extracted at kExtractionRate with the extraction
// configuration, said in a user's terms before the library sees it. The
// library reads an empty, a foreign and a truncated file alike as "Unknown
// Error"; and it would take a signature made at another sampling rate,
// whose features have other sizes (the spectrum envelope of a 22.05 kHz song
// has fewer bands), which no query could then compare with the others.

#include <map>
#include <optional>
#include <string>

class AudioExtraction;

class SignatureInputCheck {
 public:
  explicit SignatureInputCheck(const AudioExtraction& extraction) : extraction(extraction) {}

  // Throws std::runtime_error for a file that cannot be read as a signature
  // file, with readSignatureFile's reason (examples/signature_listing.h:
  // "no such file or directory", "not a signature file", "the signature file
  // is truncated or damaged (...)", ...), one that is no regular file (read
  // twice, it would be empty the second time), and one with a feature whose
  // columns differ from those of a song extracted at kExtractionRate with
  // the configuration; and when no temporary folder can be made for that
  // song (examples/scratch_folder.h). Returns the file name the signature's
  // song carries ("FILENAME"; empty when it carries none).
  std::string check(const std::string& path);

 private:
  // The columns of every feature of a song extracted at kExtractionRate,
  // made at the first check; empty when the configuration extracts nothing
  // (the library then says why).
  const std::map<std::string, unsigned>& reference();

  const AudioExtraction& extraction;
  std::optional<std::map<std::string, unsigned>> columns;
};
