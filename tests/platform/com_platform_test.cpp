// The platform calls of the COM server. The same tests run against our
// stand-ins and, in the Windows build, against the system's own calls, which
// keeps the stand-ins honest.
#include "platform/com_platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

static_assert(sizeof(HRESULT) == 4 && static_cast<HRESULT>(-1) < 0 && sizeof(ULONG) == 4 && sizeof(LONG) == 4 &&
                  sizeof(BOOL) == 4 && sizeof(OLECHAR) == 2 && sizeof(GUID) == 16,
              "the widths of 32-bit Windows");

TEST(ComPlatform, BstrsCarryTheirByteCount) {
  const OLECHAR text[] = {'a', 'b', 0, 'c', 0};
  const struct {
    BSTR bstr;
    UINT length;
  } cases[] = {{SysAllocString(text), 2}, {SysAllocStringLen(text, 4), 4}, {SysAllocStringLen(nullptr, 0), 0}};
  for (const auto& c : cases) {
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(c.bstr) - 4, 4);
    EXPECT_EQ(bytes, 2 * c.length);
    EXPECT_EQ(SysStringLen(c.bstr), c.length);
    EXPECT_EQ(c.bstr[c.length], 0);
  }
  EXPECT_EQ(cases[1].bstr[3], 'c');  // the zero inside is kept
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  for (const auto& c : cases) SysFreeString(c.bstr);
}

TEST(ComPlatform, AnsiCodePageIsWindows1252) {
  EXPECT_EQ(GetACP(), 1252u);
  // Bytes and their characters, written out from the code page's table.
  const struct {
    unsigned char byte;
    char16_t unit;
  } table[] = {{0x41, 0x0041}, {0x80, 0x20AC}, {0x8A, 0x0160}, {0x91, 0x2018}, {0x99, 0x2122},
               {0x9F, 0x0178}, {0x81, 0x0081}, {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF}};
  for (const auto& entry : table) {
    const char byte = static_cast<char>(entry.byte);
    OLECHAR unit = 0;
    char back = 0;
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, &byte, 1, &unit, 1), 1);
    EXPECT_EQ(static_cast<char16_t>(unit), entry.unit) << int{entry.byte};
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, &unit, 1, &back, 1, nullptr, nullptr), 1);
    EXPECT_EQ(back, byte);
  }
  // A character the code page lacks; -1 counts the terminating zero.
  const OLECHAR wide[] = {'x', 0x4E2D, 0};
  char out[4] = {};
  BOOL defaulted = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, out, 4, nullptr, &defaulted), 3);
  EXPECT_STREQ(out, "x?");
  EXPECT_TRUE(defaulted);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, out, 2, nullptr, nullptr), 0);  // too small
}

TEST(ComPlatform, RegistryKeysUnderClassesRoot) {
  const char* const parent = "KivetPlatformTest";
  const char* const child = "KivetPlatformTest\\Child";
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, child, &key), ERROR_SUCCESS);  // makes both
  EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("value"), 5), ERROR_SUCCESS);
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
