#include "platform/registry.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct RegistryKey;

// An open handle; HKEY values are pointers to these, except the root's.
struct HKEY__ {
  std::shared_ptr<RegistryKey> key;
};

namespace {

// Key and value names ignore ASCII case, as in the Windows registry.
struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const {
    const size_t shorter = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < shorter; ++i) {
      const int ca = lower(a[i]), cb = lower(b[i]);
      if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
  }
  static int lower(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : static_cast<unsigned char>(c); }
};

struct Value {
  DWORD type;
  std::vector<BYTE> data;
};

}  // namespace

struct RegistryKey {
  std::map<std::string, std::shared_ptr<RegistryKey>, CaseInsensitiveLess> subKeys;
  std::map<std::string, Value, CaseInsensitiveLess> values;
  // A handle may outlive its key's deletion; it then refuses every call.
  bool deleted = false;
};

namespace {

struct Registry {
  std::mutex lock;
  std::shared_ptr<RegistryKey> classesRoot = std::make_shared<RegistryKey>();
  std::set<HKEY> openHandles;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

// The key of a handle; null with the reason in `status` when the handle is not
// open or its key was deleted.
std::shared_ptr<RegistryKey> keyOf(Registry& reg, HKEY handle, LONG& status) {
  std::shared_ptr<RegistryKey> key;
  if (handle == HKEY_CLASSES_ROOT)
    key = reg.classesRoot;
  else if (reg.openHandles.count(handle) != 0)
    key = handle->key;
  status = key == nullptr ? ERROR_INVALID_HANDLE : key->deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
  return status == ERROR_SUCCESS ? key : nullptr;
}

// Runs `work` (registry, key) on the key of an open handle, under the
// registry's lock; the reason when the handle has no key.
template <typename Work>
LONG onKey(HKEY handle, Work&& work) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> guard(reg.lock);
  LONG status;
  std::shared_ptr<RegistryKey> key = keyOf(reg, handle, status);
  return key == nullptr ? status : work(reg, key);
}

// The names of a '\'-separated path; false for an empty name inside it.
bool splitPath(LPCSTR path, std::vector<std::string>& names) {
  if (path == nullptr || *path == '\0') return true;
  std::string name;
  for (const char* c = path;; ++c) {
    if (*c == '\\' || *c == '\0') {
      if (name.empty()) return false;
      names.push_back(name);
      name.clear();
      if (*c == '\0') return true;
    } else {
      name += *c;
    }
  }
}

LONG openPath(HKEY handle, LPCSTR subKey, PHKEY result, bool create) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  return onKey(handle, [&](Registry& reg, std::shared_ptr<RegistryKey> key) {
    std::vector<std::string> names;
    if (!splitPath(subKey, names)) return ERROR_INVALID_PARAMETER;
    for (const std::string& name : names) {
      auto found = key->subKeys.find(name);
      if (found == key->subKeys.end()) {
        if (!create) return ERROR_FILE_NOT_FOUND;
        found = key->subKeys.emplace(name, std::make_shared<RegistryKey>()).first;
      }
      key = found->second;
    }
    auto* opened = new HKEY__{key};
    reg.openHandles.insert(opened);
    *result = opened;
    return ERROR_SUCCESS;
  });
}

std::string valueName(LPCSTR name) { return name == nullptr ? std::string() : std::string(name); }

}  // namespace

LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) { return openPath(key, subKey, result, true); }

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) { return openPath(key, subKey, result, false); }

LONG RegDeleteKeyA(HKEY handle, LPCSTR subKey) {
  return onKey(handle, [&](Registry&, std::shared_ptr<RegistryKey> parent) {
    std::vector<std::string> names;
    if (!splitPath(subKey, names) || names.empty()) return ERROR_INVALID_PARAMETER;
    const std::string leaf = names.back();
    names.pop_back();
    for (const std::string& name : names) {
      auto found = parent->subKeys.find(name);
      if (found == parent->subKeys.end()) return ERROR_FILE_NOT_FOUND;
      parent = found->second;
    }
    auto found = parent->subKeys.find(leaf);
    if (found == parent->subKeys.end()) return ERROR_FILE_NOT_FOUND;
    if (!found->second->subKeys.empty()) return ERROR_ACCESS_DENIED;
    found->second->deleted = true;
    parent->subKeys.erase(found);
    return ERROR_SUCCESS;
  });
}

LONG RegCloseKey(HKEY handle) {
  if (handle == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
  Registry& reg = registry();
  std::lock_guard<std::mutex> guard(reg.lock);
  if (reg.openHandles.erase(handle) == 0) return ERROR_INVALID_HANDLE;
  delete handle;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (data == nullptr && size > 0) return ERROR_INVALID_PARAMETER;
  return onKey(handle, [&](Registry&, const std::shared_ptr<RegistryKey>& key) {
    key->values[valueName(name)] = Value{type, std::vector<BYTE>(data, data + size)};
    return ERROR_SUCCESS;
  });
}

LONG RegQueryValueExA(HKEY handle, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  return onKey(handle, [&](Registry&, const std::shared_ptr<RegistryKey>& key) {
    const auto found = key->values.find(valueName(name));
    if (found == key->values.end()) return ERROR_FILE_NOT_FOUND;
    const Value& value = found->second;
    const auto stored = static_cast<DWORD>(value.data.size());
    if (type != nullptr) *type = value.type;
    if (data != nullptr && *size < stored) {
      *size = stored;
      return ERROR_MORE_DATA;
    }
    if (data != nullptr && stored > 0) std::memcpy(data, value.data.data(), stored);
    if (size != nullptr) *size = stored;
    return ERROR_SUCCESS;
  });
}
