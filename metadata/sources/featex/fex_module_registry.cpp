#include "metadata/sources/featex/fex_module_registry.h"

#include <cstdint>

#include "metadata/sources/common/string_util.h"

namespace {

struct BuiltinModuleFunctions {
  FexNewInstanceFunction newInstance;
  FexGetModuleInfoFunction getModuleInfo;
};

// Zero-initialised before any binding of a module's source file runs.
BuiltinModuleFunctions builtinModules[kFexBuiltinModuleCount];

}  // namespace

CFexBuiltinModuleBinding::CFexBuiltinModuleBinding(int index, FexNewInstanceFunction newInstance,
                                                   FexGetModuleInfoFunction getModuleInfo) {
  builtinModules[index] = {newInstance, getModuleInfo};
}

CFexModuleInterface::CFexModuleInterface(FexNewInstanceFunction newInstance, FexDeleteInstanceFunction deleteInstance,
                                         FexGetModuleInfoFunction getModuleInfo)
    : newInstanceFunction(newInstance), deleteInstanceFunction(deleteInstance), getModuleInfoFunction(getModuleInfo) {}

CFexModule* CFexModuleInterface::newInstance(SettingsBase* local, SettingsBase* global) const {
  return newInstanceFunction(local, global);
}

void CFexModuleInterface::deleteInstance(CFexModule* module) const { deleteInstanceFunction(module); }

const CFexModuleInfo* CFexModuleInterface::getModuleInfo() const { return getModuleInfoFunction(); }

CSharedLibrary::CSharedLibrary(const std::string& name) : path(name + platform::kSharedLibrarySuffix) {
  handle = platform::loadLibrary(path.c_str());
  check(handle, "couldn't load library: " + path);
}

CSharedLibrary::~CSharedLibrary() {
  if (handle) platform::freeLibrary(handle);
}

void* CSharedLibrary::getFunction(const std::string& symbol) {
  void* function = platform::getProcAddress(handle, symbol.c_str());
  check(function, "couldn't load function pointer: " + symbol);
  return function;
}

void CSharedLibrary::check(const void* pointer, const std::string& what) {
  if (pointer) return;
  // Taken before anything else can overwrite it. The code prints as the
  // 32-bit long it was on the original target.
  const int32_t code = static_cast<int32_t>(platform::getLastError());
  std::string tail;
  throw simpleException("shared-library-exception: " + what + formatString(tail, " (code=%ld)", static_cast<long>(code)));
}

CFexPlugInInterface::CFexPlugInInterface(const std::string& typeName)
    : CFexModuleInterface(nullptr, nullptr, nullptr), library(typeName) {
  newInstanceFunction = reinterpret_cast<FexNewInstanceFunction>(library.getFunction("newInstance"));
  deleteInstanceFunction = reinterpret_cast<FexDeleteInstanceFunction>(library.getFunction("deleteInstance"));
  getModuleInfoFunction = reinterpret_cast<FexGetModuleInfoFunction>(library.getFunction("getModuleInfo"));
}

CFexModuleRegistry::CFexModuleRegistry() {
  for (unsigned i = 0; i < kFexBuiltinModuleCount; ++i) {
    const BuiltinModuleFunctions& functions = builtinModules[i];
    if (!functions.newInstance) continue;
    add(kFexBuiltinModuleTypes[i],
        new CFexModuleInterface(functions.newInstance, &CFexModule::deleteInstance, functions.getModuleInfo));
  }
}

CFexModuleRegistry::~CFexModuleRegistry() {
  for (auto& entry : interfaces) delete entry.second;
  interfaces.clear();
}

CFexModuleInterface* CFexModuleRegistry::find(const std::string& typeName) const {
  auto found = interfaces.find(typeName);
  return found == interfaces.end() ? nullptr : found->second;
}

void CFexModuleRegistry::add(const std::string& typeName, CFexModuleInterface* iface) {
  CFexModuleInterface*& slot = interfaces[typeName];
  if (slot != iface) delete slot;
  slot = iface;
}
