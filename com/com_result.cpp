#include "com/com_result.h"

#include <cstdint>

namespace vemra_kivet {

namespace {

constexpr uint32_t kFacilityItfFailure = 0x80040000u;
constexpr int kCodeBase = 0x200;

}  // namespace

HRESULT hresultOfCode(int code) {
  return static_cast<HRESULT>(kFacilityItfFailure | static_cast<uint32_t>(code + kCodeBase));
}

int codeOfHresult(HRESULT result) { return static_cast<int>(static_cast<uint32_t>(result) & 0xFFFu) - kCodeBase; }

}  // namespace vemra_kivet
