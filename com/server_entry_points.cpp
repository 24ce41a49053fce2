#include "com/server_entry_points.h"

#include <cstdio>
#include <new>

#include "com/co_kivet_local_factory.h"
#include "com/kivet_local.h"
#include "com/server_counts.h"

using namespace vemra_kivet;

namespace {

// Length of a GUID's text without braces.
constexpr size_t kGuidTextLength = 36;

// The text of a GUID as registry key names hold it: without braces,
// upper-case hexadecimal ("6C1C399F-29ED-49C1-A2BD-C54B5528AE6F").
void guidText(REFGUID id, char (&text)[kGuidTextLength + 1]) {
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(id.Data1), static_cast<unsigned>(id.Data2), static_cast<unsigned>(id.Data3),
                id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6],
                id.Data4[7]);
}

// The file registered as the server, without a directory: hosts find it on
// their library search path. Written without its terminating zero.
constexpr char kServerFile[] = "KivetLocal.dll";

// "CLSID\{<class id>}" followed by `suffix`.
template <size_t N>
void classKey(char (&key)[N], const char* suffix) {
  char id[kGuidTextLength + 1];
  guidText(CLSID_KivetLocal, id);
  std::snprintf(key, N, "CLSID\\{%s}%s", id, suffix);
}

HRESULT registryResult(LONG status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

STDAPI DllCanUnloadNow() { return ServerCounts::inUse() ? S_FALSE : S_OK; }

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* object) {
  if (!IsEqualGUID(classId, CLSID_KivetLocal)) return CLASS_E_CLASSNOTAVAILABLE;
  if (!isWritable(object)) return E_POINTER;
  *object = nullptr;
  auto* factory = new (std::nothrow) coKivetLocalFactory;
  if (factory == nullptr) return E_OUTOFMEMORY;
  // QueryInterface adds the caller's reference; ours goes, so the caller holds
  // the only one (and a refused interface destroys the factory).
  const HRESULT result = factory->QueryInterface(iid, object);
  factory->Release();
  return result;
}

STDAPI DllRegisterServer() {
  char key[64];
  HKEY handle;
  classKey(key, "");
  LONG status = RegCreateKeyA(HKEY_CLASSES_ROOT, key, &handle);
  if (status != ERROR_SUCCESS) return registryResult(status);
  RegCloseKey(handle);

  classKey(key, "\\InprocServer32");
  status = RegCreateKeyA(HKEY_CLASSES_ROOT, key, &handle);
  if (status != ERROR_SUCCESS) return registryResult(status);
  status = RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kServerFile),
                          sizeof kServerFile - 1);
  RegCloseKey(handle);
  return registryResult(status);
}

STDAPI DllUnregisterServer() {
  HKEY classes;
  LONG status = RegOpenKeyA(HKEY_CLASSES_ROOT, "CLSID", &classes);
  if (status != ERROR_SUCCESS) return registryResult(status);
  char id[kGuidTextLength + 1];
  guidText(CLSID_KivetLocal, id);
  char key[64];
  // The server key can go only once it has no sub-key left.
  std::snprintf(key, sizeof key, "{%s}\\InprocServer32", id);
  status = RegDeleteKeyA(classes, key);
  if (status == ERROR_SUCCESS) {
    std::snprintf(key, sizeof key, "{%s}", id);
    status = RegDeleteKeyA(classes, key);
  }
  RegCloseKey(classes);
  return registryResult(status);
}
