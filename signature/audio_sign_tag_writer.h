#pragma once
// Sets text tags ("TIT2", "TPE1", "FILENAME", "TLEN" and the like) of a
// signature: a frame with the tag gets the new value, or one is added.

#include <string>

class CAudioSignMulti;

class CAudioSignTagWriter {
 public:
  // The signature whose tags are set (not owned).
  void setSignature(CAudioSignMulti* signature);
  // Replaces the data of the frame with that tag by the bytes of value, or
  // adds the frame (tags of 1 to 254 bytes). Throws the std::string "Error,
  // AudioSignMulti not initialized!" without a signature or signature data.
  void setTag(const std::string& tag, const std::string& value);

 private:
  CAudioSignMulti* signature = nullptr;
};
