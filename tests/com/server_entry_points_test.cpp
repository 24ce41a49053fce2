#include "com/server_entry_points.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "com/kivet_local.h"
#include "tests/com/com_test_support.h"

using comtest::ComRef;

namespace {

using EntryPoints = comtest::ComServerTest;

// Identifiers written out by hand: the class id as registration writes it.
constexpr char kClassKey[] = "CLSID\\{6C1C399F-29ED-49C1-A2BD-C54B5528AE6F}";
constexpr IID kForeignId = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

std::string serverKey() { return std::string(kClassKey) + "\\InprocServer32"; }

LONG openKey(const std::string& path) {
  HKEY key;
  const LONG status = RegOpenKeyA(HKEY_CLASSES_ROOT, path.c_str(), &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

}  // namespace

TEST_F(EntryPoints, GetClassObject) {
  void* const untouched = reinterpret_cast<void*>(0x1234);
  const struct {
    const CLSID* classId;
    const IID* iid;
    bool nullOut;
    HRESULT result;
    bool gotObject;
  } cases[] = {
      {&kForeignId, &IID_IClassFactory, false, CLASS_E_CLASSNOTAVAILABLE, false},
      {&kForeignId, &IID_IClassFactory, true, CLASS_E_CLASSNOTAVAILABLE, false},
      {&CLSID_KivetLocal, &IID_IClassFactory, true, E_POINTER, false},
      {&CLSID_KivetLocal, &IID_IClassFactory, false, S_OK, true},
      {&CLSID_KivetLocal, &IID_IUnknown, false, S_OK, true},
      {&CLSID_KivetLocal, &IID_IKivetLocal, false, E_NOINTERFACE, false},
  };
  for (const auto& c : cases) {
    void* object = untouched;
    const HRESULT result = DllGetClassObject(*c.classId, *c.iid, c.nullOut ? nullptr : &object);
    EXPECT_EQ(result, c.result);
    if (c.nullOut) continue;
    if (c.result == CLASS_E_CLASSNOTAVAILABLE) {
      EXPECT_EQ(object, untouched);
    } else if (!c.gotObject) {
      EXPECT_EQ(object, nullptr);
    } else {
      // The caller holds the one reference.
      auto* factory = static_cast<IUnknown*>(object);
      EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
      EXPECT_EQ(factory->AddRef(), 2u);
      EXPECT_EQ(factory->Release(), 1u);
      EXPECT_EQ(factory->Release(), 0u);
    }
  }
}

TEST_F(EntryPoints, FactoryCreatesTheRootObject) {
  ComRef<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_KivetLocal, IID_IClassFactory, factory.outVoid()), S_OK);
  ComRef<IUnknown> outer;
  ASSERT_EQ(factory->QueryInterface(IID_IUnknown, outer.outVoid()), S_OK);

  const struct {
    IUnknown* outer;
    const IID* iid;
    bool nullOut;
    HRESULT result;
  } cases[] = {
      {outer.get(), &IID_IKivetLocal, false, CLASS_E_NOAGGREGATION},
      {nullptr, &IID_IKivetLocal, true, E_POINTER},
      {nullptr, &IID_IUnknown, false, E_NOINTERFACE},
      {nullptr, &IID_ISession, false, E_NOINTERFACE},
  };
  for (const auto& c : cases) {
    void* object = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(factory->CreateInstance(c.outer, *c.iid, c.nullOut ? nullptr : &object), c.result);
    if (c.result != CLASS_E_NOAGGREGATION && !c.nullOut) {
      EXPECT_EQ(object, nullptr);
    }
  }

  ComRef<IKivetLocal> local;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKivetLocal, local.outVoid()), S_OK);
  // One reference, the caller's; the object answers its own interface and
  // IUnknown, nothing else.
  EXPECT_EQ(local->AddRef(), 2u);
  EXPECT_EQ(local->Release(), 1u);
  ComRef<IUnknown> same;
  EXPECT_EQ(local->QueryInterface(IID_IUnknown, same.outVoid()), S_OK);
  EXPECT_EQ(static_cast<void*>(same.get()), static_cast<void*>(local.get()));
  void* other = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(local->QueryInterface(IID_ISignature, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(local->QueryInterface(IID_IKivetLocal, nullptr), E_POINTER);
}

TEST_F(EntryPoints, LocksAndLiveObjectsKeepTheServerLoaded) {
  EXPECT_EQ(DllMain(nullptr, 1, nullptr), TRUE);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_KivetLocal, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // two locks, no object

  ASSERT_EQ(DllGetClassObject(CLSID_KivetLocal, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  IKivetLocal* local = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKivetLocal, reinterpret_cast<void**>(&local)), S_OK);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // no lock, one object
  local->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// Under Windows the registry is shared by every process: the cases that change
// the server's keys run in this one test, one after the other.
TEST_F(EntryPoints, RegistrationWritesAndRemovesTheServerKeys) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  // Registering again finds the keys in place.
  ASSERT_EQ(DllRegisterServer(), S_OK);
  HKEY key;
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, serverKey().c_str(), &key), ERROR_SUCCESS);
  DWORD type = 0;
  BYTE data[64] = {};
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, data, &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, REG_SZ);
  // The file name without a directory; a reader may add a terminating zero.
  ASSERT_GE(size, 14u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 14), "KivetLocal.dll");
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(data)), 14u);

  EXPECT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(openKey(serverKey()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(openKey(kClassKey), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(openKey("CLSID"), ERROR_SUCCESS);
  // Nothing left to remove is a failure, and reported as one.
  EXPECT_EQ(DllUnregisterServer(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(static_cast<uint32_t>(DllUnregisterServer()), 0x80070002u);

  // A sub-key the server did not write keeps its key.
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::string foreign = std::string(kClassKey) + "\\Foreign";
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, foreign.c_str(), &key), ERROR_SUCCESS);
  RegCloseKey(key);
  // The server key still has a sub-key: its deletion fails after the
  // InprocServer32 key is gone.
  EXPECT_EQ(DllUnregisterServer(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(openKey(serverKey()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, foreign.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey), ERROR_SUCCESS);
  EXPECT_EQ(openKey(kClassKey), ERROR_FILE_NOT_FOUND);
}
