// Module architecture read from the ELF header, and a module built for another architecture
// refused before the dynamic loader with one line that names both architectures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/runtime.h"

namespace {

namespace fs = std::filesystem;

// An ELF header cut after e_machine: class, byte order, machine.
std::vector<unsigned char> ElfHead(unsigned char elfClass, unsigned char order, unsigned machine) {
  std::vector<unsigned char> h(20, 0);
  h[0] = 0x7f; h[1] = 'E'; h[2] = 'L'; h[3] = 'F';
  h[4] = elfClass; h[5] = order; h[6] = 1;
  h[16] = 3;  // ET_DYN
  if (order == 2) { h[18] = static_cast<unsigned char>(machine >> 8); h[19] = static_cast<unsigned char>(machine); }
  else { h[18] = static_cast<unsigned char>(machine); h[19] = static_cast<unsigned char>(machine >> 8); }
  return h;
}

class ModuleArchitecture : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("plenor_arch_" + std::to_string(::getpid()));
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) {
    const std::string path = (m_dir / name).string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
  }
  fs::path m_dir;
};

TEST_F(ModuleArchitecture, ReadFromTheElfHeader) {
  struct Case { const char* name; std::vector<unsigned char> bytes; const char* arch; };
  std::vector<unsigned char> cut = ElfHead(2, 1, 62);
  cut.pop_back();
  const std::vector<Case> cases = {
      {"x86_64.so", ElfHead(2, 1, 62), "x86-64"},
      {"i386.so", ElfHead(1, 1, 3), "i386"},
      {"arm64.so", ElfHead(2, 1, 183), "ELF machine 183"},
      {"bigendian.so", ElfHead(2, 2, 0x0102), "ELF machine 258"},
      {"short.so", cut, ""},
      {"text.so", std::vector<unsigned char>(40, 'x'), ""},
      {"empty.so", {}, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CoModuleArchitecture(Write(c.name, c.bytes).c_str()), c.arch) << c.name;
  EXPECT_EQ(CoModuleArchitecture((m_dir / "missing.so").c_str()), "");
  // The running test program is of the host's own architecture.
  EXPECT_EQ(CoModuleArchitecture("/proc/self/exe"), CoHostArchitecture());
  EXPECT_TRUE(CoHostArchitecture() == "x86-64" || CoHostArchitecture() == "i386");
}

TEST_F(ModuleArchitecture, ModuleOfAnotherArchitectureIsRefusedInOneLine) {
  const bool host64 = CoHostArchitecture() == "x86-64";
  const std::string other = host64 ? "i386" : "x86-64";
  const std::string path = Write("other.so", host64 ? ElfHead(1, 1, 3) : ElfHead(2, 1, 62));
  std::string error;
  EXPECT_EQ(LoadLibrary(path.c_str(), &error), nullptr);
  EXPECT_EQ(error, fs::absolute(path).lexically_normal().string() + ": is an " + other +
                       " module and this host is " + CoHostArchitecture() + "; use the " + other +
                       " build of the host for it");
  EXPECT_EQ(error.find('\n'), std::string::npos);

  // A file of the host's architecture that is no loadable module still reaches the loader.
  const std::string same = Write("same.so", host64 ? ElfHead(2, 1, 62) : ElfHead(1, 1, 3));
  error.clear();
  EXPECT_EQ(LoadLibrary(same.c_str(), &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(error.find("this host is"), std::string::npos) << error;
}

}  // namespace
