#include "platform/system_info.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/utsname.h>
#include <time.h>
#endif

namespace platform {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number whose digits start at text, reduced to its last two digits;
// text is left behind the digits.
unsigned lastTwoDigits(const char*& text) {
  unsigned value = 0;
  for (; isDigit(*text); ++text) value = (value * 10 + static_cast<unsigned>(*text - '0')) % 100;
  return value;
}

}  // namespace

OsVersion osVersionFromRelease(const char* release) {
  OsVersion version;
  if (release == nullptr || !isDigit(*release)) return version;
  version.majorVersion = lastTwoDigits(release);
  if (*release == '.') version.minorVersion = lastTwoDigits(++release);
  return version;
}

#ifdef _WIN32

std::tm localTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local = {};
  localtime_s(&local, &now);
  return local;
}

uint32_t tickCount() { return GetTickCount(); }

OsVersion osVersion() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  OsVersion version;
  if (!GetVersionExA(&info)) return version;
  version.majorVersion = info.dwMajorVersion;
  version.minorVersion = info.dwMinorVersion;
  return version;
}

#else

std::tm localTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local = {};
  localtime_r(&now, &local);
  return local;
}

uint32_t tickCount() {
  timespec now = {};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const uint64_t milliseconds =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(milliseconds);
}

OsVersion osVersion() {
  utsname name = {};
  if (uname(&name) != 0) return OsVersion();
  return osVersionFromRelease(name.release);
}

#endif

}  // namespace platform
