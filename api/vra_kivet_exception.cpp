#include "api/vra_kivet_exception.h"

namespace vemra_kivet {

namespace {

// Indexed by the code. The texts are what hosts show and compare: keep them
// byte for byte, misspellings included.
constexpr const char* kErrorMessages[kVraErrorCodeCount] = {
    "",
    "Unknown Error",
    "Failed to open file",
    "Failed to save file",
    "File doesn't exist",
    "Session format missmatch",
    "Invalid signature",
    "Invalid session",
    "Signature not initialized",
    "Out of memory",
    "Index exceeds dimension",
    "Signature ID doesn't exist",
    "Loading shared library failed",
    "Invalid buffer",
    "Invalid parameter",
    "Memory Error",
    "No Metadata / Callback",
    "Error in Callback Interface",
    "Callback host-error",
    "Callback error: Unknown ID",
    "Session not initialized",
    "",
    "",
    "Invalid Object",
    "",
    "ID not in whitelist",
    "Invalid Whitelist",
    "Session too small",
    "UTF-8 conversion error",
    "Corrupted Session",
};

constexpr unsigned kNotificationCount = 2;
constexpr const char* kNotificationNames[kNotificationCount] = {
    "General Notification",
    "Newer file version",
};

}  // namespace

const char* errorMessage(int code) {
  if (code < 0 || code >= kVraErrorCodeCount) return "";
  return kErrorMessages[code];
}

const char* notificationName(unsigned index) {
  if (index >= kNotificationCount) throw vraKivetException(VRA_INVALID_PARAMETER);
  return kNotificationNames[index];
}

vraKivetException::vraKivetException(int code) : code(code) {}

const char* vraKivetException::what() const noexcept { return errorMessage(code); }

}  // namespace vemra_kivet
