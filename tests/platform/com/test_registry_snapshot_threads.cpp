// A reader that takes many steps inside a snapshot never sees half of a registration another
// connection commits meanwhile (each thread has a connection of its own, as processes do).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"

namespace {

constexpr int kEntries = 12;

// One "registration": the old entries go and new ones, all tagged with the round, come, in one
// transaction.
bool Register(int round) {
  if (RegBeginTransaction() != ERROR_SUCCESS) return false;
  bool ok = RegDeleteTreeA(HKEY_CLASSES_ROOT, "Snap") == ERROR_SUCCESS ||
            RegDeleteTreeA(HKEY_CLASSES_ROOT, "Snap") == ERROR_FILE_NOT_FOUND;
  for (int i = 0; ok && i < kEntries; ++i) {
    HKEY key = nullptr;
    ok = RegCreateKeyA(HKEY_CLASSES_ROOT, ("Snap\\E" + std::to_string(i)).c_str(), &key) == ERROR_SUCCESS;
    const DWORD tag = static_cast<DWORD>(round);
    ok = ok && RegSetValueExA(key, "round", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&tag), 4) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
  }
  return RegEndTransaction(ok) == ERROR_SUCCESS && ok;
}

// Enumerates the entries and reads each one's round. Returns false when what it saw is torn:
// a missing entry, an unreadable one, or entries of different rounds.
bool ReadConsistently(std::string* what) {
  RegSnapshot snapshot;
  HKEY root = nullptr;
  if (RegOpenKeyA(HKEY_CLASSES_ROOT, "Snap", &root) != ERROR_SUCCESS) {
    *what = "no Snap key";
    return false;
  }
  int count = 0;
  long round = -1;
  bool ok = true;
  for (DWORD i = 0;; ++i) {
    char name[32];
    DWORD cch = sizeof name;
    LSTATUS st = RegEnumKeyExA(root, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (st == ERROR_NO_MORE_ITEMS) break;
    HKEY key = nullptr;
    DWORD tag = 0, cb = 4, type = 0;
    if (st != ERROR_SUCCESS || RegOpenKeyA(root, name, &key) != ERROR_SUCCESS ||
        RegQueryValueExA(key, "round", nullptr, &type, reinterpret_cast<BYTE*>(&tag), &cb) != ERROR_SUCCESS) {
      *what = "entry " + std::to_string(i) + " vanished while reading";
      ok = false;
    } else if (round >= 0 && static_cast<long>(tag) != round) {
      *what = "rounds " + std::to_string(round) + " and " + std::to_string(tag) + " mixed";
      ok = false;
    }
    round = tag;
    if (key) RegCloseKey(key);
    ++count;
    if (!ok) break;
  }
  RegCloseKey(root);
  if (ok && count != kEntries) {
    *what = std::to_string(count) + " of " + std::to_string(kEntries) + " entries";
    ok = false;
  }
  return ok;
}

TEST(RegistrySnapshot, ReadersNeverSeeAHalfDoneRegistration) {
  const std::string saved = CoGetRegistryPath();
  const auto dir = std::filesystem::temp_directory_path() / ("plenor-regsnap-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  CoSetRegistryPath((dir / "reg.db").string());
  ASSERT_TRUE(Register(0));

  std::atomic<bool> stop{false};
  std::atomic<int> rounds{0};
  std::thread writer([&] {
    for (int r = 1; !stop; ++r) {
      if (!Register(r)) break;
      rounds = r;
    }
  });
  int reads = 0;
  std::string what;
  bool consistent = true;
  while (consistent && (reads < 200 || rounds < 20) && reads < 20000) {
    consistent = ReadConsistently(&what);
    ++reads;
  }
  stop = true;
  writer.join();
  EXPECT_TRUE(consistent) << what << " after " << reads << " reads";
  EXPECT_GE(rounds.load(), 20) << "the writer did not get through";

  // A snapshot inside a transaction changes nothing; a transaction inside a snapshot is refused.
  ASSERT_EQ(RegBeginTransaction(), ERROR_SUCCESS);
  EXPECT_EQ(RegBeginSnapshot(), ERROR_SUCCESS);
  EXPECT_EQ(RegEndSnapshot(), ERROR_SUCCESS);
  EXPECT_EQ(RegEndTransaction(TRUE), ERROR_SUCCESS);
  ASSERT_EQ(RegBeginSnapshot(), ERROR_SUCCESS);
  EXPECT_EQ(RegBeginTransaction(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegEndSnapshot(), ERROR_SUCCESS);
  EXPECT_EQ(RegEndSnapshot(), ERROR_INVALID_PARAMETER);

  CoSetRegistryPath(saved);
  std::filesystem::remove_all(dir);
}

}  // namespace
