// Test entry point shared by every test binary. Each test process gets a fresh registry database
// in a temporary folder, and each test ends by checking that no object of any module loaded
// through the runtime is still alive (every module answers DllCanUnloadNow with S_OK).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "platform/com/runtime.h"

namespace {

class ModuleLeakCheck : public testing::EmptyTestEventListener {
 public:
  void OnTestEnd(const testing::TestInfo& info) override {
    for (const LoadedModuleInfo& m : CoGetLoadedModules()) {
      if (m.canUnloadNow != S_OK) {
        std::fprintf(stderr, "[  LEAK    ] %s.%s: module %s still has live objects or locks\n",
                     info.test_suite_name(), info.name(), m.path.c_str());
        leaked = true;
      }
    }
  }
  bool leaked = false;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("plenor-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  CoSetRegistryPath((dir / "registry.db").string());
  auto* leaks = new ModuleLeakCheck;  // owned by gtest's listener list
  testing::UnitTest::GetInstance()->listeners().Append(leaks);
  int rc = RUN_ALL_TESTS();
  bool leaked = leaks->leaked;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  if (leaked) {
    std::fprintf(stderr, "objects of loaded modules were still alive at the end of a test\n");
    return 1;
  }
  return rc;
}
