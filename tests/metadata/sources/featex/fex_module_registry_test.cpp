#include "metadata/sources/featex/fex_module_registry.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <gtest/gtest.h>

#include <cstring>

#include <filesystem>
#include <fstream>
#include <memory>

#include "metadata/sources/featex/dsp_tree_node.h"
#include "platform/shared_library.h"
#include "tests/metadata/sources/featex/fex_test_modules.h"
#include "tests/support/temp_files.h"

namespace {

// Stands for the built-in statistics-matrix module, bound the way a built-in
// module's source file binds itself.
class BoundModule : public TestModule {
 public:
  using TestModule::TestModule;
  static CFexModule* newInstance(SettingsBase* local, SettingsBase* global) { return new BoundModule(local, global); }
  static const CFexModuleInfo* getModuleInfo() {
    static const CFexProjectModuleInfo moduleInfo("mean and variance calculations");
    return &moduleInfo;
  }
};

}  // namespace

KIVET_FEX_BUILTIN_MODULE(BoundModule, "fex_statistics_matrix");

namespace {

template <class Call>
std::string failure(Call&& call) {
  try {
    call();
  } catch (const simpleException& e) {
    return e.what();
  }
  return "no exception";
}

// The library's file name as the loader is asked for it.
std::string libraryFile(const std::string& type) { return type + platform::kSharedLibrarySuffix; }

#ifdef _WIN32

// Whether the library is loaded into the process at the moment.
bool isLoaded(const char* file) { return GetModuleHandleA(file) != nullptr; }

int pluginLiveInstances() {
  HMODULE library = GetModuleHandleA(FEX_TEST_PLUGIN_FILE);
  if (!library) return -1;
  auto live = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(library, "liveInstances")));
  return live ? live() : -2;
}

#else

bool isLoaded(const char* file) {
  void* handle = dlopen(file, RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

int pluginLiveInstances() {
  void* handle = dlopen(FEX_TEST_PLUGIN_FILE, RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return -1;
  auto live = reinterpret_cast<int (*)()>(dlsym(handle, "liveInstances"));
  const int count = live ? live() : -2;
  dlclose(handle);
  return count;
}

#endif

struct Graph {
  Graph(const std::string& xml, CFexModuleRegistry* registry) {
    ConfigTreeNode* cfg = config.load(xml, false, 512);
    root = std::make_unique<DspTreeNode>(*cfg, &cfg->settings, registry, &endFlag);
    root->collectLeaves(root->leaves);
  }
  ConfigTree config;
  bool endFlag = false;
  std::unique_ptr<DspTreeNode> root;
};

// Runs the current directory elsewhere for the life of the object.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& dir) : previous(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~WorkingDirectory() { std::filesystem::current_path(previous); }

 private:
  std::filesystem::path previous;
};

std::filesystem::path freshDirectory(const std::string& name) {
  const std::filesystem::path dir = testfiles::tempPath(name);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace

TEST(FexModuleRegistryTest, OffersTheBoundBuiltInTypes) {
  CFexModuleRegistry registry;
  CFexModuleInterface* iface = registry.find("fex_statistics_matrix");
  ASSERT_NE(iface, nullptr);
  EXPECT_EQ(iface->getModuleInfo()->getDescription(), "mean and variance calculations");
  Settings local;
  CFexModule* module = iface->newInstance(&local, &local);
  EXPECT_NE(dynamic_cast<BoundModule*>(module), nullptr);
  EXPECT_EQ(TestModule::live, 1);
  iface->deleteInstance(module);
  EXPECT_EQ(TestModule::live, 0);

  // Types of the table that nothing in this program binds are not offered,
  // and lookups are exact.
  EXPECT_EQ(registry.find("fex_mfcc"), nullptr);
  EXPECT_EQ(registry.find("FEX_STATISTICS_MATRIX"), nullptr);
  EXPECT_EQ(registry.find("fex_statistics_matrix "), nullptr);
  EXPECT_EQ(fexBuiltinModuleIndex("fex_complex_spectrum_to_psd"), 0);
  EXPECT_EQ(fexBuiltinModuleIndex("fex_statistics_matrix"), 23);
  EXPECT_EQ(fexBuiltinModuleIndex("fex_test_plugin"), -1);
}

TEST(FexModuleRegistryTest, NodesOfOneBuiltInTypeShareItsHandle) {
  CFexModuleRegistry registry;
  Graph graph("<c><module name='fex_statistics_matrix'/><module name='fex_statistics_matrix'/></c>", &registry);
  EXPECT_EQ(graph.root->children[0]->iface, registry.find("fex_statistics_matrix"));
  EXPECT_EQ(graph.root->children[1]->iface, registry.find("fex_statistics_matrix"));
  EXPECT_NE(graph.root->children[0]->module, graph.root->children[1]->module);
}

TEST(FexModuleRegistryTest, AddReplacesAndOwns) {
  CFexModuleRegistry registry;
  CFexModuleInterface* first = testInterface<TestModule>();
  registry.add("t", first);
  registry.add("t", first);
  EXPECT_EQ(registry.find("t"), first);
  CFexModuleInterface* second = testInterface<TestMetaSink>();
  registry.add("t", second);
  EXPECT_EQ(registry.find("t"), second);
}

TEST(FexModuleRegistryTest, PlugInLibraryIsLoadedOncePerRegistry) {
  ASSERT_FALSE(isLoaded(FEX_TEST_PLUGIN_FILE));
  {
    CFexModuleRegistry registry;
    {
      Graph graph("<c><module name='fex_test_plugin' instance='double' gain='2'/>"
                  "<module name='fex_test_plugin' instance='triple' gain='3'/></c>",
                  &registry);
      graph.root->check("TimeMono", FTI_none);
      CFexModuleInterface* iface = registry.find("fex_test_plugin");
      ASSERT_NE(dynamic_cast<CFexPlugInInterface*>(iface), nullptr);
      EXPECT_EQ(graph.root->children[0]->iface, iface);
      EXPECT_EQ(graph.root->children[1]->iface, iface);
      EXPECT_EQ(iface->getModuleInfo()->getDescription(), "scales float vectors by 'gain'.");
      EXPECT_EQ(graph.root->children[0]->module->getModuleKind(), FMK_old);
      EXPECT_EQ(pluginLiveInstances(), 2);

      HeapVector<float> frame(3);
      for (unsigned i = 0; i < 3; ++i) frame[i] = static_cast<float>(i + 1);
      HeapVector<float> out;
      int type = FTI_none;
      EXPECT_EQ(graph.root->processFrame(out, &frame, &type), 6u);
      EXPECT_EQ(std::vector<float>(out.begin(), out.end()), (std::vector<float>{2, 4, 6, 3, 6, 9}));
    }
    // The graph deleted its modules through the library; the registry keeps it loaded.
    EXPECT_EQ(pluginLiveInstances(), 0);
    EXPECT_TRUE(isLoaded(FEX_TEST_PLUGIN_FILE));
  }
  EXPECT_FALSE(isLoaded(FEX_TEST_PLUGIN_FILE));
}

TEST(FexModuleRegistryTest, NodeWithoutRegistryOwnsThePlugInHandle) {
  {
    Graph graph("<c><module name='fex_test_plugin'/></c>", nullptr);
    EXPECT_EQ(graph.root->children[0]->registry, nullptr);
    EXPECT_EQ(pluginLiveInstances(), 1);
  }
  EXPECT_FALSE(isLoaded(FEX_TEST_PLUGIN_FILE));
}

TEST(FexModuleRegistryTest, LibraryWithoutDeleteInstanceIsRefused) {
  EXPECT_EQ(failure([] { CFexPlugInInterface iface("fex_test_plugin_nodelete"); }),
            "shared-library-exception: couldn't load function pointer: deleteInstance (code=127)");
  EXPECT_FALSE(isLoaded(FEX_TEST_PLUGIN_NODELETE_FILE));

  CFexModuleRegistry registry;
  EXPECT_EQ(failure([&] { Graph graph("<c><module name='fex_test_plugin_nodelete'/></c>", &registry); }),
            "shared-library-exception: couldn't load function pointer: deleteInstance (code=127)");
  EXPECT_EQ(registry.find("fex_test_plugin_nodelete"), nullptr);
}

TEST(FexModuleRegistryTest, UnknownTypesAreLookedForAsLibraries) {
  CFexModuleRegistry registry;
  EXPECT_EQ(failure([&] { Graph graph("<c><module name='fex_no_such_type'/></c>", &registry); }),
            "shared-library-exception: couldn't load library: " + libraryFile("fex_no_such_type") + " (code=126)");
  EXPECT_EQ(registry.find("fex_no_such_type"), nullptr);
  // The upper-case spelling of a built-in type is not the built-in type.
  EXPECT_EQ(failure([&] { Graph graph("<c><module name='FEX_STATISTICS_MATRIX'/></c>", &registry); }),
            "shared-library-exception: couldn't load library: " + libraryFile("FEX_STATISTICS_MATRIX") +
                " (code=126)");
}

TEST(FexModuleRegistryTest, LibraryResolution) {
  const std::string file = FEX_TEST_PLUGIN_FILE;
#ifndef _WIN32
  // A name with a directory is loaded from there.
  {
    CFexPlugInInterface byPath(file.substr(0, file.size() - std::strlen(platform::kSharedLibrarySuffix)));
    EXPECT_TRUE(isLoaded(FEX_TEST_PLUGIN_FILE));
  }
  EXPECT_FALSE(isLoaded(FEX_TEST_PLUGIN_FILE));
#endif

  // A bare name is also looked for in the working directory.
  const std::filesystem::path dir = freshDirectory("featex_plugin_cwd");
  std::filesystem::copy_file(file, dir / libraryFile("fex_cwd_plugin"));
  std::ofstream(dir / libraryFile("fex_broken_plugin")) << "not a library";
  {
    WorkingDirectory inDir(dir);
    CFexPlugInInterface iface("fex_cwd_plugin");
    EXPECT_EQ(iface.getModuleInfo()->getDescription(), "scales float vectors by 'gain'.");
#ifndef _WIN32
    // A file there that is no library is refused like a missing one.
    EXPECT_EQ(failure([] { CFexPlugInInterface broken("fex_broken_plugin"); }),
              "shared-library-exception: couldn't load library: fex_broken_plugin.so (code=126)");
#endif
  }
  EXPECT_EQ(failure([] { CFexPlugInInterface elsewhere("fex_cwd_plugin"); }),
            "shared-library-exception: couldn't load library: " + libraryFile("fex_cwd_plugin") + " (code=126)");

  // The program's own directory is searched whatever the working directory.
  {
    WorkingDirectory inDir(freshDirectory("featex_plugin_empty"));
    CFexPlugInInterface iface("fex_test_plugin");
    EXPECT_TRUE(isLoaded(FEX_TEST_PLUGIN_FILE));
  }
}

TEST(FexModuleRegistryTest, PlatformCallsReportWindowsErrorCodes) {
  platform::LibraryHandle library = platform::loadLibrary(FEX_TEST_PLUGIN_FILE);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(platform::getProcAddress(library, "noSuchSymbol"), nullptr);
  EXPECT_EQ(platform::getLastError(), platform::kErrorProcedureNotFound);
  EXPECT_NE(platform::getProcAddress(library, "getModuleInfo"), nullptr);
  EXPECT_TRUE(platform::freeLibrary(library));
  EXPECT_EQ(platform::loadLibrary("fex_no_such_type.so"), nullptr);
  EXPECT_EQ(platform::getLastError(), platform::kErrorModuleNotFound);

#ifndef _WIN32
  // The stand-ins clear the code on success and refuse a null handle with
  // the code Windows gives.
  library = platform::loadLibrary(FEX_TEST_PLUGIN_FILE);
  EXPECT_EQ(platform::getLastError(), 0u);
  EXPECT_TRUE(platform::freeLibrary(library));
  EXPECT_EQ(platform::getProcAddress(nullptr, "newInstance"), nullptr);
  EXPECT_EQ(platform::getLastError(), platform::kErrorInvalidHandle);
  EXPECT_FALSE(platform::freeLibrary(nullptr));
  EXPECT_EQ(platform::getLastError(), 6u);
  EXPECT_EQ(platform::loadLibrary(""), nullptr);
  EXPECT_EQ(platform::getLastError(), 126u);
  EXPECT_EQ(platform::loadLibrary(nullptr), nullptr);
  EXPECT_EQ(platform::getLastError(), 126u);
  library = platform::loadLibrary(FEX_TEST_PLUGIN_FILE);
  platform::freeLibrary(library);
  EXPECT_EQ(failure([] { CSharedLibrary::check(nullptr, "x"); }), "shared-library-exception: x (code=0)");
#endif
  EXPECT_NO_THROW(CSharedLibrary::check(&library, "x"));
}
