#pragma once
// Texts between COM callers and the library: BSTRs of 16-bit code units on
// one side, 8-bit texts in the system's ANSI code page on the other.

#include <string>

#include "platform/com_platform.h"

namespace vemra_kivet {

// The 8-bit text of a BSTR; a null BSTR is the empty text. A character the
// code page lacks becomes '?'.
std::string bstrToText(BSTR text);

// A new BSTR holding an 8-bit text; a null text gives an empty BSTR. The
// caller frees it. Throws std::bad_alloc when it cannot be allocated.
BSTR textToBstr(const char* text);

}  // namespace vemra_kivet
