#include "examples/table_cell.h"

namespace {

// The length of the well-formed UTF-8 sequence that begins at bytes (of
// which size are there), or 0 when none begins there: no overlong form, no
// surrogate, nothing above U+10FFFF.
size_t sequenceLength(const unsigned char* bytes, size_t size) {
  const unsigned char lead = bytes[0];
  if (lead < 0x80) return 1;
  // The lead bounds the second byte; the others are all 80 to BF.
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (size < length || bytes[1] < low || bytes[1] > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (bytes[i] < 0x80 || bytes[i] > 0xBF) return 0;
  return length;
}

bool isC1(unsigned char byte) { return byte >= 0x80 && byte <= 0x9F; }

// Whether the piece that begins at bytes, a well-formed sequence of length
// bytes or a stray byte (length 0), is a control character.
bool isControl(const unsigned char* bytes, size_t length) {
  switch (length) {
    case 0:
      return isC1(bytes[0]);
    case 1:
      return bytes[0] < 0x20 || bytes[0] == 0x7F;
    case 2:
      return bytes[0] == 0xC2 && isC1(bytes[1]);
    default:
      return false;
  }
}

}  // namespace

std::string tableCell(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::string cell;
  cell.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = sequenceLength(bytes + i, text.size() - i);
    const size_t piece = length == 0 ? 1 : length;
    if (isControl(bytes + i, length))
      cell += ' ';
    else
      cell.append(text, i, piece);
    i += piece;
  }
  return cell;
}
