#pragma once
// The error codes of the programming interface and the names of the
// notifications a host may receive. vraKivetException itself is declared in
// the chief header, api/kivet.h, with the interfaces that raise it.

#include "api/kivet.h"

namespace vemra_kivet {

// The codes that operations raise; each has its message in the table.
enum vraErrorCode : int {
  VRA_NO_ERROR = 0,
  VRA_UNKNOWN_ERROR = 1,
  VRA_FAILED_TO_OPEN_FILE = 2,
  VRA_FAILED_TO_SAVE_FILE = 3,
  VRA_FILE_DOES_NOT_EXIST = 4,
  VRA_SESSION_FORMAT_MISMATCH = 5,
  VRA_INVALID_SIGNATURE = 6,
  VRA_INVALID_SESSION = 7,
  VRA_SIGNATURE_NOT_INITIALIZED = 8,
  VRA_OUT_OF_MEMORY = 9,
  VRA_INDEX_EXCEEDS_DIMENSION = 10,
  VRA_SIGNATURE_ID_DOES_NOT_EXIST = 11,
  VRA_LOADING_SHARED_LIBRARY_FAILED = 12,
  VRA_INVALID_BUFFER = 13,
  VRA_INVALID_PARAMETER = 14,
  VRA_MEMORY_ERROR = 15,
  VRA_NO_METADATA_CALLBACK = 16,
  VRA_CALLBACK_INTERFACE_ERROR = 17,
  VRA_CALLBACK_HOST_ERROR = 18,
  VRA_CALLBACK_UNKNOWN_ID = 19,
  VRA_SESSION_NOT_INITIALIZED = 20,
  VRA_INVALID_OBJECT = 23,
  VRA_ID_NOT_IN_WHITELIST = 25,
  VRA_INVALID_WHITELIST = 26,
  VRA_SESSION_TOO_SMALL = 27,
  VRA_UTF8_CONVERSION_ERROR = 28,
  VRA_CORRUPTED_SESSION = 29,
};

// Number of entries of the message table: codes 0 to 29.
inline constexpr int kVraErrorCodeCount = 30;

// The message of a code; the empty text for a code without one, also outside
// the table.
const char* errorMessage(int code);

// The name of a notification: 0 "General Notification", 1 "Newer file
// version"; any other index raises code 14.
const char* notificationName(unsigned index);

// Runs an operation whose failures must all arrive as coded exceptions: a
// vraKivetException passes unchanged, anything else becomes `code`.
template <typename Operation>
auto withErrorCode(int code, Operation&& operation) -> decltype(operation()) {
  try {
    return operation();
  } catch (const vraKivetException&) {
    throw;
  } catch (...) {
    throw vraKivetException(code);
  }
}

}  // namespace vemra_kivet
