#pragma once
// Stand-ins for the OLE Automation string calls on systems other than
// Windows. A BSTR points at 16-bit code units preceded by a 32-bit count of
// their bytes and followed by a zero unit; the length comes from the count,
// so a BSTR may hold zero units. A null BSTR is the empty text. Include
// platform/com_platform.h rather than this header.

#include "platform/windows_types.h"

// A copy of the zero-terminated text; null for a null text or when memory
// runs out.
BSTR SysAllocString(const OLECHAR* text);

// `length` units copied from `text` (zero units when `text` is null), then a
// terminating zero; null when memory runs out or the byte count would not fit
// in 32 bits.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);

// Frees a BSTR of the calls above; null is allowed.
void SysFreeString(BSTR text);

// The number of units; 0 for null.
UINT SysStringLen(BSTR text);
