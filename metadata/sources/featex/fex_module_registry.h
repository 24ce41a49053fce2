#pragma once
// Module types by name: the handles that create and destroy modules of a type,
// the plug-in libraries that supply types the library does not have, and the
// registry that maps type names to handles.
//
// Built-in module classes enter the registry through the table of built-in
// types below: a module's source file binds its class to its type name with
// KIVET_FEX_BUILTIN_MODULE, and every registry then offers that type. Types of
// the table that no linked source has bound are not offered (a configuration
// naming one is looked for as a plug-in library). The bindings are made while
// the program or library is loaded, so a program that wants the built-in
// modules links their objects whole, as the product library does.

#include <map>
#include <string>
#include <string_view>

#include "metadata/sources/featex/fex_module.h"
#include "platform/shared_library.h"

// The handle on one module type: the three functions of its class.
class CFexModuleInterface {
 public:
  CFexModuleInterface(FexNewInstanceFunction newInstance, FexDeleteInstanceFunction deleteInstance,
                      FexGetModuleInfoFunction getModuleInfo);
  CFexModuleInterface(const CFexModuleInterface&) = delete;
  CFexModuleInterface& operator=(const CFexModuleInterface&) = delete;
  virtual ~CFexModuleInterface() = default;

  CFexModule* newInstance(SettingsBase* local, SettingsBase* global) const;
  void deleteInstance(CFexModule* module) const;
  const CFexModuleInfo* getModuleInfo() const;

 protected:
  FexNewInstanceFunction newInstanceFunction;
  FexDeleteInstanceFunction deleteInstanceFunction;
  FexGetModuleInfoFunction getModuleInfoFunction;
};

// A loaded dynamic library; unloaded when destroyed.
class CSharedLibrary {
 public:
  // Loads the library name + the platform's library suffix; raises
  // simpleException when it cannot be loaded.
  explicit CSharedLibrary(const std::string& name);
  CSharedLibrary(const CSharedLibrary&) = delete;
  CSharedLibrary& operator=(const CSharedLibrary&) = delete;
  virtual ~CSharedLibrary();

  // The exported symbol's address; raises simpleException when there is none.
  void* getFunction(const std::string& symbol);

  // Raises simpleException naming what failed and the system's error code
  // when pointer is null.
  static void check(const void* pointer, const std::string& what);

 private:
  platform::LibraryHandle handle = nullptr;
  std::string path;
};

// The handle on a type supplied by a plug-in library named after the type,
// which exports "newInstance", "deleteInstance" and "getModuleInfo". The
// library stays loaded as long as the handle lives: modules created through it
// must be deleted before it.
class CFexPlugInInterface : public CFexModuleInterface {
 public:
  explicit CFexPlugInInterface(const std::string& typeName);

 private:
  CSharedLibrary library;
};

// Type names to handles; the registry owns its handles.
class CFexModuleRegistry {
 public:
  // Registers every built-in type that is bound, in the order of the table.
  CFexModuleRegistry();
  CFexModuleRegistry(const CFexModuleRegistry&) = delete;
  CFexModuleRegistry& operator=(const CFexModuleRegistry&) = delete;
  // Deletes every handle, which unloads the plug-in libraries.
  virtual ~CFexModuleRegistry();

  // Exact, case-sensitive; null when the type is not registered.
  CFexModuleInterface* find(const std::string& typeName) const;
  // Takes ownership of iface; a handle registered earlier under the same name
  // is replaced and deleted.
  void add(const std::string& typeName, CFexModuleInterface* iface);

 private:
  std::map<std::string, CFexModuleInterface*> interfaces;
};

// The built-in module types, in the order the registry registers them.
inline constexpr unsigned kFexBuiltinModuleCount = 24;
inline constexpr const char* kFexBuiltinModuleTypes[kFexBuiltinModuleCount] = {
    "fex_complex_spectrum_to_psd",
    "fex_sfm_mp7",
    "fex_stereo_to_mono",
    "fex_statistics",
    "fex_mfcc",
    "fex_ase",
    "fex_centroid",
    "fex_time_to_weighted_time",
    "fex_feature_object",
    "fex_zerocrossing",
    "fex_weighted_time_to_complex_spectrum",
    "fex_critical_band_to_spreaded_energy",
    "fex_ear_transfer_to_critical_band",
    "fex_log_loudness",
    "fex_norm_loudness",
    "fex_scf",
    "fex_psd_to_ear_transfer",
    "fex_spreaded_energy_to_specific_loudness",
    "fex_feature_input_module",
    "fex_filter",
    "fex_modulation_feature",
    "fex_aggregate",
    "fex_splitter",
    "fex_statistics_matrix",
};

// The position of a type in the table above; -1 when it is not built in.
constexpr int fexBuiltinModuleIndex(std::string_view typeName) {
  for (unsigned i = 0; i < kFexBuiltinModuleCount; ++i)
    if (typeName == kFexBuiltinModuleTypes[i]) return static_cast<int>(i);
  return -1;
}

// Binds a built-in type of the table to its class's newInstance and
// getModuleInfo; every built-in class shares CFexModule::deleteInstance.
class CFexBuiltinModuleBinding {
 public:
  CFexBuiltinModuleBinding(int index, FexNewInstanceFunction newInstance, FexGetModuleInfoFunction getModuleInfo);
};

// In the source file of a built-in module class, at namespace scope:
//   KIVET_FEX_BUILTIN_MODULE(CFexMfccModule, "fex_mfcc");
#define KIVET_FEX_BUILTIN_MODULE(ModuleClass, typeName)                                        \
  static_assert(fexBuiltinModuleIndex(typeName) >= 0, "not a built-in module type: " typeName); \
  static const CFexBuiltinModuleBinding kivetBuiltinModuleBinding_##ModuleClass(               \
      fexBuiltinModuleIndex(typeName), &ModuleClass::newInstance, &ModuleClass::getModuleInfo)
