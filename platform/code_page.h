#pragma once
// Stand-ins for the code-page conversions between 8-bit text and 16-bit code
// units on systems other than Windows. The "ANSI" code page here is
// Windows-1252, the one of a Western Windows: bytes 0x80 to 0x9F carry the
// euro sign, typographic quotes and dashes and a few letters, every other byte
// is the Latin-1 character of its value. Only that code page is known (by
// CP_ACP or by its number 1252). Include platform/com_platform.h rather than
// this header.

#include "platform/windows_types.h"

inline constexpr UINT CP_ACP = 0;

// The ANSI code page: 1252.
UINT GetACP();

// Converts `length` bytes of `text` (-1: up to and with its terminating zero)
// into `capacity` units at `out`. Returns the number of units made; with a
// capacity of 0 only counts them. Every byte has its character, so `flags`
// change nothing. 0 on failure: an unknown code page, no text, a length of 0
// or below -1, or a capacity too small for the result.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR out, int capacity);

// Converts `length` units of `text` (-1: up to and with its terminating zero)
// into `capacity` bytes at `out`, counting only when the capacity is 0. A
// character the code page lacks becomes `defaultChar`'s first byte, or '?'
// when that is null, and sets `*usedDefault`; a pair of surrogates is one
// character. Returns the number of bytes, 0 on the failures of
// MultiByteToWideChar.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR out, int capacity,
                        LPCSTR defaultChar, LPBOOL usedDefault);
