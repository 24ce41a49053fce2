#include "examples/signature_input_check.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "examples/audio_extraction.h"
#include "examples/scratch_folder.h"
#include "examples/signature_listing.h"
#include "signature/audio_sign_multi.h"
#include "signature/feature_object.h"

using namespace vemra_kivet;

namespace {

std::map<std::string, unsigned> columnsOf(const CAudioSignMulti& signature) {
  std::map<std::string, unsigned> columns;
  if (const CSignDataMulti* data = signature.getSignData()) {
    for (const auto& [name, feature] : *data) {
      FeatureDataInfo info;
      feature->getDataInfo(info);
      columns[name] = info.cols;
    }
  }
  return columns;
}

// The text of the signature's frame tag, up to its first NUL; empty when
// it has none.
std::string frameText(const CAudioSignMulti& signature, const std::string& tag) {
  const CSignDataMulti* data = signature.getSignData();
  if (data == nullptr) return std::string();
  const CMetaVec& frames = data->getMetaVec();
  for (unsigned i = 0; i < frames.size(); ++i) {
    const SMetaFrame& frame = *frames.frame(static_cast<int>(i));
    if (frame.tag == nullptr || std::string(frame.tag, frame.tagLen) != tag || frame.data == nullptr) continue;
    const char* text = reinterpret_cast<const char*>(frame.data);
    return std::string(text, std::find(text, text + frame.dataLen, '\0'));
  }
  return std::string();
}

}  // namespace

std::string SignatureInputCheck::check(const std::string& path) {
  // The library reads the file again to load it: a pipe would be empty then.
  std::error_code error;
  const std::filesystem::file_type type = std::filesystem::status(path, error).type();
  if (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::directory && !error)
    throw std::runtime_error("is not a regular file (a pipe or a device), which a build cannot read twice");
  CAudioSignMulti signature;
  readSignatureFile(path, signature);
  const std::map<std::string, unsigned>& expected = reference();
  for (const auto& [name, columns] : columnsOf(signature)) {
    const auto wanted = expected.find(name);
    if (wanted == expected.end() || wanted->second == columns) continue;
    throw std::runtime_error("its " + name + " has " + std::to_string(columns) + " columns where songs extracted at " +
                             std::to_string(kExtractionRate) + " Hz with " + extraction.configPath() + " have " +
                             std::to_string(wanted->second) +
                             ": a signature made at another sampling rate or with another configuration cannot be "
                             "compared with the session's songs (extract the audio file again)");
  }
  return frameText(signature, "FILENAME");
}

// A song just long enough for every feature of the configuration, of quiet
// noise, extracted, saved and read back.
const std::map<std::string, unsigned>& SignatureInputCheck::reference() {
  if (columns) return *columns;
  // Where no other user can have put a link to a file of theirs. Without
  // it the check cannot be made: the input is refused, saying why.
  ScratchFolder scratch(ScratchFolder::temporaryParent(), "kivet-");
  const std::string path = scratch.file("reference.sig");
  columns.emplace();
  try {
    Held<vraISignature> signature(CreateSignature(extraction.configPath().c_str(), kExtractionRate));
    const uint64_t milliseconds = extraction.shortestSongMs() + 1000;
    std::vector<short> second(kExtractionRate);
    uint32_t noise = 1;
    for (short& sample : second) {
      noise = noise * 1664525u + 1013904223u;
      sample = static_cast<short>(static_cast<int>(noise >> 20) - 2048);
    }
    for (uint64_t ms = 0; ms < milliseconds; ms += 1000) signature->addSamples(second.data(), kExtractionRate);
    signature->save(path.c_str());
    CAudioSignMulti written;
    readSignatureFile(path, written);
    *columns = columnsOf(written);
  } catch (...) {
    columns->clear();
  }
  return *columns;
}
