#pragma once
// Facts about the running system that session ids are made of: the local
// date and time, a millisecond tick count and the operating system's version
// numbers.

#include <cstdint>
#include <ctime>

namespace platform {

// The local calendar time of the moment, read through the reentrant call of
// the platform (the C library's shared result would race with the host).
std::tm localTime();

// Milliseconds since the system started, wrapping around in 32 bits (after
// about 49.7 days) as Windows' GetTickCount does. Elsewhere it is read from the
// clock that counts from boot, time spent suspended included.
uint32_t tickCount();

struct OsVersion {
  unsigned majorVersion = 0;
  unsigned minorVersion = 0;
};

// The operating system's major and minor version numbers: on Windows from
// GetVersionExA (0.0 when the call fails), elsewhere from the kernel release
// that uname reports (osVersionFromRelease).
OsVersion osVersion();

// The numbers X and Y of a release text "X.Y...": the digits at its start and
// those after the point that follows them; a number that is missing is 0.
// Session ids print each number as two digits, as Windows' numbers always are,
// so only the last two digits of each are kept.
OsVersion osVersionFromRelease(const char* release);

}  // namespace platform
