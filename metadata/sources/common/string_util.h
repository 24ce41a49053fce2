#pragma once
// Small std::string helpers: printf-style formatting, number and hexadecimal
// text, trimming, splitting, text-to-number parsing and string-table lookup.

#include <cstdarg>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/string_resource.h"

// The formatter is C99's on every build (MinGW's C++ runtime brings its own);
// GCC's plain printf check would hold Windows builds to the older Microsoft
// conversions and reject %zu and %lld.
#if defined(__GNUC__) && !defined(__clang__)
#define KIVET_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(gnu_printf, formatIndex, firstArg)))
#elif defined(__GNUC__)
#define KIVET_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#else
#define KIVET_PRINTF_FORMAT(formatIndex, firstArg)
#endif

// printf-style formatting into out; the result is cut to its first 43008
// characters. Returns out. Where va_list is a plain char* (32-bit x86), a
// single non-const char* argument selects the va_list form: pass it as const char*.
std::string& formatString(std::string& out, const char* format, va_list args);
std::string& formatString(std::string& out, const char* format, ...) KIVET_PRINTF_FORMAT(2, 3);
// The variadic form with one text argument. Where va_list is a char*, a string
// literal would otherwise select the va_list form.
std::string& formatString(std::string& out, const char* format, const char* text);

// Grows text to n characters (filled with NUL) when it is shorter, and returns
// its writable character buffer.
char* resizeAndGetBuffer(std::string& text, int n);

// Lower-case hexadecimal digits without leading zeros; 0 gives the empty string.
std::string toHexString(uint32_t value);
std::string intToString(int value);
std::string uint64ToString(uint64_t value);
// Writes the decimal text of value onto out.
std::ostream& int64ToString(std::ostream& out, const int64_t& value);

// Copies without leading, trailing or both kinds of blanks; only the space
// character is a blank (tabs and newlines stay).
std::string trimLeft(const std::string& text);
std::string trimRight(const std::string& text);
std::string trim(const std::string& text);

// The number at the start of text (leading white space skipped). Text that
// does not begin with a number, or whose number is out of range, gives 0.
int stringToInt(const std::string& text);
float stringToFloat(const std::string& text);

// Splits text at every delimiter character; parts are trimmed of spaces when
// trimParts is set, and empty parts are dropped.
std::vector<std::string> split(const std::string& text, char delimiter, bool trimParts);
// The same, any character of delimiters being a delimiter.
std::vector<std::string> split(const std::string& text, const std::string& delimiters, bool trimParts);

// Loads string-table entry id of module (nullptr: the main module of the
// process) into out. True when a non-empty string was loaded; when no block of
// the table holds id the result is false and out is unchanged (a block without
// the entry leaves out empty).
bool loadResourceString(std::string& out, unsigned id, platform::ModuleHandle module);

// A textOrId that is non-zero and below 0x10000 is a string-table id of the
// process's main module; any other non-null value is a text that is copied. A
// null pointer gives the empty string.
std::string stringFromTextOrId(const char* textOrId);
