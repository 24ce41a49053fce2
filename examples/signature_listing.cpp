#include "examples/signature_listing.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "api/kivet.h"
#include "examples/host_failure.h"
#include "signature/audio_sign_multi.h"
#include "signature/feature_object.h"

namespace {

// Every signature stream begins with these bytes.
constexpr char kSignatureMark[] = "AUID";

// Columns shown per row before the rest is summarised.
constexpr unsigned kShownColumns = 10;

bool isText(const unsigned char* data, unsigned length) {
  for (unsigned i = 0; i < length; ++i)
    if (data[i] < 0x20 && data[i] != '\t') return false;
  return true;
}

void printFrame(const SMetaFrame& frame, std::ostream& out) {
  const std::string tag(frame.tag ? frame.tag : "", frame.tagLen);
  out << "    " << std::left << std::setw(10) << tag << std::right;
  if (tag == "FeatObj") {
    out << frame.dataLen << " bytes (a feature object)\n";
  } else if (frame.data && isText(frame.data, frame.dataLen)) {
    out << '"' << std::string(reinterpret_cast<const char*>(frame.data), frame.dataLen) << "\"\n";
  } else {
    out << frame.dataLen << " bytes:";
    for (unsigned i = 0; i < frame.dataLen && i < 16; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02x", frame.data[i]);
      out << hex;
    }
    out << (frame.dataLen > 16 ? " ...\n" : "\n");
  }
}

double element(const FeatureDataInfo& info, unsigned index) {
  const std::string tag = info.elementTypeTag ? info.elementTypeTag : "";
  if (tag == "uchr") return static_cast<const unsigned char*>(info.data)[index];
  if (tag == "uint") return static_cast<const unsigned int*>(info.data)[index];
  return static_cast<const float*>(info.data)[index];
}

void printRows(const FeatureDataInfo& info, unsigned firstRows, std::ostream& out) {
  const unsigned rows = info.rows < firstRows ? info.rows : firstRows;
  for (unsigned r = 0; r < rows; ++r) {
    out << "      row " << r << ":";
    for (unsigned c = 0; c < info.cols && c < kShownColumns; ++c)
      out << ' ' << std::setprecision(5) << element(info, r * info.cols + c);
    if (info.cols > kShownColumns) out << " ... (" << info.cols - kShownColumns << " more)";
    out << '\n';
  }
}

void printParameters(CFeatureObjectBase& feature, std::ostream& out) {
  std::ostringstream dump;
  feature.dump(dump);
  std::istringstream lines(dump.str());
  std::string line;
  while (std::getline(lines, line)) out << "      " << line << '\n';
}

}  // namespace

void readSignatureFile(const std::string& path, CAudioSignMulti& signature) {
  // A folder opens for reading, and only its first read fails.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) throw std::runtime_error("is a folder, not a signature file");
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) throw std::runtime_error(systemText(errno != 0 ? errno : EIO));
  // The mark is checked before the reader sees the stream, which then reads
  // the file from its start again; a pipe (kivet-inspect <(...)), which
  // cannot be rewound, is read whole first.
  char mark[sizeof kSignatureMark - 1] = {};
  in.read(mark, sizeof mark);
  if (in.gcount() != static_cast<std::streamsize>(sizeof mark) || std::memcmp(mark, kSignatureMark, sizeof mark) != 0)
    throw std::runtime_error("not a signature file");
  std::istringstream piped;
  std::istream* stream = &in;
  if (!in.seekg(0)) {
    in.clear();
    piped.str(std::string(mark, sizeof mark) +
              std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    stream = &piped;
  }
  try {
    signature.read(*stream, nullptr);
  } catch (...) {
    throw std::runtime_error("the signature file is truncated or damaged (" + describeCurrentException() + ")");
  }
}

bool beginsAsSignature(const std::string& path) { return regularFileBeginsWith(path, kSignatureMark); }

void printFeatureSummary(const CAudioSignMulti& signature, std::ostream& out) {
  const CSignDataMulti* data = signature.getSignData();
  if (!data) return;
  for (const auto& [name, feature] : *data) {
    FeatureDataInfo info;
    feature->getDataInfo(info);
    out << "  " << std::left << std::setw(18) << name << std::right << std::setw(6) << info.rows << " rows x "
        << std::setw(3) << info.cols << " columns\n";
  }
}

void printSignature(const CAudioSignMulti& signature, unsigned firstRows, std::ostream& out) {
  const CSignDataMulti* data = signature.getSignData();
  if (!data) {
    out << "  (no signature data)\n";
    return;
  }
  const CMetaVec& frames = data->getMetaVec();
  out << "  metadata frames: " << frames.size() << '\n';
  for (unsigned i = 0; i < frames.size(); ++i) printFrame(*frames.frame(static_cast<int>(i)), out);
  if (data->getTime() != 0) out << "    TIME      " << data->getTime() << " s\n";

  out << "  features: " << data->size() << '\n';
  for (const auto& [name, feature] : *data) {
    FeatureDataInfo info;
    feature->getDataInfo(info);
    out << "    " << name << ": type " << feature->getFeatureType() << ", element " << feature->getElementType()
        << ", " << info.rows << " rows x " << info.cols << " columns, " << feature->getMsPerRow()
        << " ms per row\n";
    printParameters(*feature, out);
    printRows(info, firstRows, out);
  }
}

std::string describeCurrentException() {
  try {
    throw;
  } catch (const vemra_kivet::vraKivetException& e) {
    return std::string(e.what()) + " (code " + std::to_string(e.getCode()) + ")";
  } catch (const std::filesystem::filesystem_error& e) {
    // Its own text words the system's reason capitalised, among its names.
    return (e.path1().empty() ? "" : e.path1().string() + ": ") + systemText(e.code().value());
  } catch (const std::exception& e) {
    return e.what();
  } catch (const std::string& message) {
    return message;
  } catch (const char* message) {
    return message;
  } catch (...) {
    return "unknown error";
  }
}
