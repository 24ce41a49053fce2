#pragma once
// How the COM methods report: every method runs its work through comCall,
// which turns a coded exception with code c into 0x80040000 | (c + 0x200)
// (facility ITF) and anything else into the HRESULT of code 1 ("Unknown
// Error"), so that no exception leaves the server. GetErrorMessage reverses
// the mapping.

#include "api/vra_kivet_exception.h"
#include "platform/com_platform.h"

namespace vemra_kivet {

// 0x80040000 | (code + 0x200).
HRESULT hresultOfCode(int code);

// The code an HRESULT of this server carries: its low 12 bits less 0x200.
// Only 0 to 29 are codes of the library; the rest is for the caller to refuse.
int codeOfHresult(HRESULT result);

// Runs `work`; S_OK when it returns, the HRESULT of what it throws otherwise.
template <typename Work>
HRESULT comCall(Work&& work) noexcept {
  try {
    work();
    return S_OK;
  } catch (const vraKivetException& e) {
    return hresultOfCode(e.getCode());
  } catch (...) {
    return hresultOfCode(VRA_UNKNOWN_ERROR);
  }
}

// Whether a caller's out pointer can take a value of its type.
template <typename T>
bool isWritable(T* out) {
  return !IsBadWritePtr(out, sizeof(T));
}

// comCall for a method with one out value: E_POINTER when `out` cannot be
// written; else it is cleared first, so that a failing method leaves no stale
// text or object behind for the caller to free or release.
template <typename T, typename Work>
HRESULT comCallOut(T* out, Work&& work) noexcept {
  if (!isWritable(out)) return E_POINTER;
  *out = T();
  return comCall(work);
}

}  // namespace vemra_kivet
