#include "com/server_entry_points.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "com/kivet_local.h"
#include "tests/com/com_test_support.h"

using comtest::ComRef;

namespace {

using EntryPoints = comtest::ComServerTest;

// The class id as registration writes it, written out by hand.
const std::string kClassKey = "CLSID\\{6C1C399F-29ED-49C1-A2BD-C54B5528AE6F}";
const std::string kServerKey = kClassKey + "\\InprocServer32";
constexpr IID kForeignId = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
void* const kUntouched = reinterpret_cast<void*>(0x1234);

LONG openKey(const std::string& path) {
  HKEY key;
  const LONG status = RegOpenKeyA(HKEY_CLASSES_ROOT, path.c_str(), &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

}  // namespace

TEST_F(EntryPoints, ClassObjectAndFactory) {
  enum Out { untouched, null, anObject };
  const struct {
    const CLSID* classId;
    const IID* iid;
    bool nullOut;
    HRESULT result;
    Out out;
  } cases[] = {
      {&kForeignId, &IID_IClassFactory, false, CLASS_E_CLASSNOTAVAILABLE, untouched},
      {&kForeignId, &IID_IClassFactory, true, CLASS_E_CLASSNOTAVAILABLE, untouched},
      {&CLSID_KivetLocal, &IID_IClassFactory, true, E_POINTER, untouched},
      {&CLSID_KivetLocal, &IID_IKivetLocal, false, E_NOINTERFACE, null},
      {&CLSID_KivetLocal, &IID_IUnknown, false, S_OK, anObject},
  };
  for (const auto& c : cases) {
    void* got = kUntouched;
    EXPECT_EQ(DllGetClassObject(*c.classId, *c.iid, c.nullOut ? nullptr : &got), c.result);
    if (c.out == anObject)
      EXPECT_EQ(static_cast<IUnknown*>(got)->Release(), 0u);  // the caller's is the only reference
    else
      EXPECT_EQ(got, c.out == null ? nullptr : kUntouched);
  }

  ComRef<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_KivetLocal, IID_IClassFactory, factory.outVoid()), S_OK);
  void* object = kUntouched;
  EXPECT_EQ(factory->CreateInstance(factory.get(), IID_IKivetLocal, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKivetLocal, nullptr), E_POINTER);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);

  ComRef<IKivetLocal> local;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKivetLocal, local.outVoid()), S_OK);
  EXPECT_EQ(local->AddRef(), 2u);
  EXPECT_EQ(local->Release(), 1u);
  // The object answers IUnknown and its own interface, nothing else.
  ComRef<IUnknown> same;
  EXPECT_EQ(local->QueryInterface(IID_IUnknown, same.outVoid()), S_OK);
  EXPECT_EQ(static_cast<void*>(same.get()), static_cast<void*>(local.get()));
  EXPECT_EQ(local->QueryInterface(IID_ISignature, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(local->QueryInterface(IID_IKivetLocal, nullptr), E_POINTER);
}

TEST_F(EntryPoints, LocksAndLiveObjectsKeepTheServerLoaded) {
  EXPECT_EQ(DllMain(nullptr, 1, nullptr), TRUE);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_KivetLocal, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the factory lives
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  IKivetLocal* local = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKivetLocal, reinterpret_cast<void**>(&local)), S_OK);
  factory->Release();
  local->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the lock alone

  ASSERT_EQ(DllGetClassObject(CLSID_KivetLocal, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// Under Windows the registry is shared by every process: the cases that change
// the server's keys run in this one test, one after the other.
TEST_F(EntryPoints, RegistrationWritesAndRemovesTheServerKeys) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  ASSERT_EQ(DllRegisterServer(), S_OK);  // finds the keys in place
  HKEY key;
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, kServerKey.c_str(), &key), ERROR_SUCCESS);
  DWORD type = 0;
  char data[64] = {};
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, REG_SZ);
  // The file name without a directory; a reader may add a terminating zero.
  EXPECT_STREQ(data, "KivetLocal.dll");
  EXPECT_GE(size, 14u);

  EXPECT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(openKey(kServerKey), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(openKey(kClassKey), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(openKey("CLSID"), ERROR_SUCCESS);
  // Nothing left to remove is a failure, reported as one.
  EXPECT_EQ(static_cast<uint32_t>(DllUnregisterServer()), 0x80070002u);

  // A sub-key the server did not write keeps its key.
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::string foreign = kClassKey + "\\Foreign";
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, foreign.c_str(), &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(static_cast<uint32_t>(DllUnregisterServer()), 0x80070005u);
  EXPECT_EQ(openKey(kServerKey), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, foreign.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey.c_str()), ERROR_SUCCESS);
}
