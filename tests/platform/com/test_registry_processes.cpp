// Several processes writing the registry at the same time: every transaction lands, none is lost
// or torn, and the database stays readable.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"

namespace {

constexpr int kProcesses = 4;
constexpr int kKeysPerProcess = 30;

std::string KeyPath(int process, int key) {
  return "Concurrent\\P" + std::to_string(process) + "\\K" + std::to_string(key);
}

// Child body: waits for the start signal, then writes its keys, each key with two values in one
// transaction, and a third of them through plain calls without a transaction. Returns the exit
// status.
int WriteKeys(int process, int startFd) {
  char go;
  if (::read(startFd, &go, 1) != 1) return 10;
  for (int i = 0; i < kKeysPerProcess; ++i) {
    bool grouped = i % 3 != 0;
    if (grouped && RegBeginTransaction() != ERROR_SUCCESS) return 11;
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CLASSES_ROOT, KeyPath(process, i).c_str(), &key) != ERROR_SUCCESS) return 12;
    std::string text = "p" + std::to_string(process) + "k" + std::to_string(i);
    DWORD number = static_cast<DWORD>(process * 1000 + i);
    if (RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS)
      return 13;
    if (RegSetValueExA(key, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4) != ERROR_SUCCESS) return 14;
    RegCloseKey(key);
    if (grouped && RegEndTransaction(TRUE) != ERROR_SUCCESS) return 15;
  }
  return 0;
}

TEST(RegistryProcesses, ConcurrentWritersAllLand) {
  std::string saved = CoGetRegistryPath();
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("plenor-regproc-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  // A database nobody has opened yet: the children race to create it as well.
  CoSetRegistryPath((dir / "reg.db").string());

  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  pid_t children[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(pipeFds[1]);
      ::_exit(WriteKeys(p, pipeFds[0]));
    }
    children[p] = pid;
  }
  ::close(pipeFds[0]);
  char start[kProcesses] = {};
  ASSERT_EQ(::write(pipeFds[1], start, sizeof start), static_cast<ssize_t>(sizeof start));
  ::close(pipeFds[1]);

  for (int p = 0; p < kProcesses; ++p) {
    int status = 0;
    ASSERT_EQ(::waitpid(children[p], &status, 0), children[p]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "writer " << p;
  }

  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kKeysPerProcess; ++i) {
      HKEY key = nullptr;
      ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, KeyPath(p, i).c_str(), &key), ERROR_SUCCESS) << KeyPath(p, i);
      char text[32] = {};
      DWORD size = sizeof text;
      EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
                ERROR_SUCCESS);
      EXPECT_EQ(std::string(text), "p" + std::to_string(p) + "k" + std::to_string(i));
      DWORD number = 0;
      size = 4;
      EXPECT_EQ(RegQueryValueExA(key, "n", nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &size),
                ERROR_SUCCESS);
      EXPECT_EQ(number, static_cast<DWORD>(p * 1000 + i));
      RegCloseKey(key);
    }
  }
  // Exactly the keys written, no duplicates from racing creations of the shared parents.
  HKEY top = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "Concurrent", &top), ERROR_SUCCESS);
  DWORD count = 0;
  for (;; ++count) {
    char name[16];
    DWORD cch = sizeof name;
    if (RegEnumKeyExA(top, count, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
  }
  EXPECT_EQ(count, static_cast<DWORD>(kProcesses));
  RegCloseKey(top);

  CoSetRegistryPath(saved);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
