#pragma once
// Stand-ins for the registry calls on systems other than Windows: a key tree
// kept in the process under HKEY_CLASSES_ROOT, the only root key here, with
// the rules of the Windows registry that self-registration meets. Key and
// value names compare without regard to ASCII case; a key with sub-keys
// cannot be deleted (ERROR_ACCESS_DENIED); a handle of a deleted key refuses
// every call (ERROR_KEY_DELETED). Results are system error codes. Include
// platform/com_platform.h rather than this header.

#include "platform/windows_types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u));

inline constexpr DWORD REG_SZ = 1;

// Opens the key at `subKey` ('\'-separated) below `key`, creating each
// missing key on the way; a null or empty `subKey` opens `key` itself.
LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);

// Opens an existing key; ERROR_FILE_NOT_FOUND when a key on the way is
// missing.
LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);

// Deletes the key `subKey` below `key`; it must have no sub-keys.
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);

LONG RegCloseKey(HKEY key);

// Sets the value `name` (null or empty: the key's default value) to `size`
// bytes of `data`, kept as given.
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);

// Reads a value: its type into `*type`, its bytes into `data` when that is
// given, and its size into `*size`. ERROR_MORE_DATA when `*size` is too small
// for the bytes; ERROR_FILE_NOT_FOUND when the key has no such value.
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
