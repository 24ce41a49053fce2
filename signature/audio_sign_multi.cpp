#include "signature/audio_sign_multi.h"

#include <istream>
#include <utility>

#include "signature/fingerprint_stream.h"

namespace {

const char kUninitialized[] = "Uninitialized CAudioSignMulti object";

}  // namespace

CAudioSignMulti::CAudioSignMulti() = default;

CAudioSignMulti::CAudioSignMulti(CSignDataMulti* data) : data(data) {}

CAudioSignMulti::CAudioSignMulti(const CAudioSignMulti& other) {
  if (other.data) data = std::make_unique<CSignDataMulti>(*other.data, 0, 0, nullptr);
}

CAudioSignMulti::CAudioSignMulti(std::istream& in, CRsaObject* verifier) : data(readData(in, verifier)) {}

CAudioSignMulti::~CAudioSignMulti() = default;

std::unique_ptr<CSignDataMulti> CAudioSignMulti::readData(std::istream& in, CRsaObject* verifier) {
  // A stream that failed to open must not pass for one at its end.
  if (in.eof()) throw AudioSignException("no audio signature found in istream (EOF)");
  if (!in) throw AudioSignException("could not open audio signature istream");
  if (in.peek() == std::istream::traits_type::eof()) {
    if (in.eof()) throw AudioSignException("no audio signature found in istream (EOF)");
    throw AudioSignException("could not open audio signature istream");
  }
  const CFingerprintStream stream(in, verifier);
  return std::make_unique<CSignDataMulti>(stream, nullptr);
}

std::istream& CAudioSignMulti::read(std::istream& in, CRsaObject* verifier) {
  data = readData(in, verifier);
  return in;
}

int CAudioSignMulti::write(std::ostream& out) const {
  if (!data) return -1;
  CFingerprintStream stream;
  data->writeStream(stream, nullptr).write(out);
  return 0;
}

void CAudioSignMulti::setSignData(CSignDataMulti* newData) {
  if (newData == data.get()) return;
  data.reset(newData);
}

const CSignDataMulti& CAudioSignMulti::requireData() const {
  if (!data) throw AudioSignException(kUninitialized);
  return *data;
}

void CAudioSignMulti::setTuid(const CSignatureID& id) {
  requireData();
  if (!id.isValid()) throw AudioSignException("Invalid CSignatureID");
  data->setTuid(id.getLow(), id.getHigh());
}

CSignatureID CAudioSignMulti::getTuid() const { return CSignatureID(requireData().getTuid()); }

void CAudioSignMulti::append(const CAudioSignMulti& other) {
  if (!other.data) return;
  if (!data) {
    data = std::make_unique<CSignDataMulti>(*other.data, 0, 0, nullptr);
    return;
  }
  data->append(*other.data);
}

void CAudioSignMulti::append(CAudioSignMulti&& other) {
  if (!other.data) return;
  if (!data) {
    data = std::move(other.data);
    return;
  }
  data->append(*other.data);
}

void CAudioSignMulti::reset() { data.reset(); }

SCompareResult CAudioSignMulti::compare(const CAudioSignMulti& other) const {
  const CSignDataMulti& mine = requireData();
  const CSignDataMulti& theirs = other.requireData();
  if (mine.getFeature() == nullptr || theirs.getFeature() == nullptr)
    throw AudioSignException("Active feature not set or type mismatch");
  return SCompareResult{255.0f, {0, 0, 0}};
}
