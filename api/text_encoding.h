#pragma once
// The text encodings of song metadata: texts are kept in UTF-8; hosts may give
// them in Latin-1 or UTF-8 and read them in either. A null text reads as the
// empty text.

#include <string>

namespace vemra_kivet {

// True as soon as the text holds one well-formed two-, three- or four-byte
// UTF-8 sequence (a four-byte one of a code point from U+10000 to U+10FFFF)
// before any stray continuation byte; pure ASCII and the empty text are not
// UTF-8.
bool isUtf8(const char* text);

// Every byte from 0x80 up becomes its two-byte UTF-8 sequence.
std::string latin1ToUtf8(const char* text);

// Two-byte sequences become one byte (the Latin-1 character for the leads C2
// and C3); three-byte sequences keep the low byte of their code; four- to
// six-byte sequences and stray bytes are dropped, and so is a sequence cut off
// by the end of the text.
std::string utf8ToLatin1(const char* text);

}  // namespace vemra_kivet
