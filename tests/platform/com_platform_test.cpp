// The platform calls of the COM server. The same tests run against our
// stand-ins and, in the Windows build, against the system's own calls, which
// keeps the stand-ins honest.
#include "platform/com_platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

uint32_t bytePrefix(BSTR text) {
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - 4, 4);
  return bytes;
}

}  // namespace

static_assert(sizeof(HRESULT) == 4 && static_cast<HRESULT>(-1) < 0 && sizeof(ULONG) == 4 && sizeof(LONG) == 4 &&
                  sizeof(BOOL) == 4 && sizeof(OLECHAR) == 2 && sizeof(GUID) == 16,
              "the widths of 32-bit Windows");

TEST(ComPlatform, ResultsGuidsAndWritablePointers) {
  EXPECT_TRUE(FAILED(E_POINTER) && SUCCEEDED(S_FALSE));
  EXPECT_EQ(static_cast<uint32_t>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), 0x80070005u);
  GUID changed = IID_IUnknown;
  changed.Data4[7] ^= 1;
  EXPECT_TRUE(IsEqualGUID(IID_IUnknown, IID_IUnknown));
  EXPECT_FALSE(IsEqualGUID(IID_IUnknown, changed));
  int target = 0;
  EXPECT_TRUE(IsBadWritePtr(nullptr, 4));
  EXPECT_FALSE(IsBadWritePtr(&target, sizeof target));
}

TEST(ComPlatform, BstrsCarryTheirByteCount) {
  const OLECHAR text[] = {'a', 'b', 0, 'c', 0};
  BSTR whole = SysAllocString(text);  // up to the first zero
  BSTR counted = SysAllocStringLen(text, 4);  // the zero inside is kept
  BSTR empty = SysAllocStringLen(text, 0);
  const struct {
    BSTR bstr;
    UINT length;
  } cases[] = {{whole, 2}, {counted, 4}, {empty, 0}};
  for (const auto& c : cases) {
    ASSERT_NE(c.bstr, nullptr);
    EXPECT_EQ(SysStringLen(c.bstr), c.length);
    EXPECT_EQ(bytePrefix(c.bstr), 2 * c.length);
    EXPECT_EQ(c.bstr[c.length], 0);
  }
  EXPECT_EQ(counted[2], 0);
  EXPECT_EQ(counted[3], 'c');
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  for (const auto& c : cases) SysFreeString(c.bstr);
}

TEST(ComPlatform, AnsiCodePageIsWindows1252) {
  EXPECT_EQ(GetACP(), 1252u);
  // Bytes and their characters, written out from the code page's table.
  const struct {
    unsigned char byte;
    char16_t unit;
  } table[] = {{0x41, 0x0041}, {0x7F, 0x007F}, {0x80, 0x20AC}, {0x82, 0x201A}, {0x8A, 0x0160},
               {0x8C, 0x0152}, {0x91, 0x2018}, {0x96, 0x2013}, {0x99, 0x2122}, {0x9F, 0x0178},
               {0x81, 0x0081}, {0x8D, 0x008D}, {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF}};
  for (const auto& entry : table) {
    const char byte = static_cast<char>(entry.byte);
    OLECHAR unit = 0;
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, &byte, 1, &unit, 1), 1);
    EXPECT_EQ(static_cast<char16_t>(unit), entry.unit) << int{entry.byte};
    char back = 0;
    BOOL defaulted = TRUE;
    const OLECHAR asked = static_cast<OLECHAR>(entry.unit);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, &asked, 1, &back, 1, nullptr, &defaulted), 1);
    EXPECT_EQ(static_cast<unsigned char>(back), entry.byte) << int{entry.byte};
    EXPECT_FALSE(defaulted);
  }
}

TEST(ComPlatform, CodePageConversionCountsAndRefuses) {
  const OLECHAR wide[] = {'x', 0x4E2D, 0x00E9, 0};  // the middle one is not in the code page
  char out[8] = {};
  BOOL defaulted = FALSE;
  // -1: up to and with the terminating zero; capacity 0 only counts.
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, out, 8, nullptr, &defaulted), 4);
  EXPECT_STREQ(out, "x?\xE9");
  EXPECT_TRUE(defaulted);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 3, out, 2, nullptr, nullptr), 0);  // too small
  OLECHAR units[4] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x80z", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, units, 2), 0);  // too small
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, units, 4), 0);
}

TEST(ComPlatform, RegistryKeysUnderClassesRoot) {
  const char* const parent = "KivetPlatformTest";
  const char* const child = "KivetPlatformTest\\Child";
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, child, &key), ERROR_SUCCESS);  // makes both
  const BYTE text[] = {'v', 'a', 'l', 'u', 'e'};
  EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, text, 5), ERROR_SUCCESS);
  RegCloseKey(key);

  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "kivetplatformtest\\CHILD", &key), ERROR_SUCCESS);  // any case
  DWORD type = 0;
  BYTE data[16] = {};
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_STREQ(reinterpret_cast<const char*>(data), "value");
  EXPECT_EQ(RegQueryValueExA(key, "absent", nullptr, &type, data, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, parent), ERROR_ACCESS_DENIED);  // has a sub-key
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, child), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, child), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, parent), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, parent, &key), ERROR_FILE_NOT_FOUND);
}
