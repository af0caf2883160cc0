// Writing files without destroying what is at their path: regular files replaced in one step
// (through symbolic links, keeping mode and hard links), special files written directly, folders
// refused, and the old file kept on every failure.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/com/safefile.h"
#include "tests/support/filesizelimit.h"

namespace fs = std::filesystem;
using plenor::test::FileSizeLimit;

namespace {

struct Scratch {
  Scratch() {
    char tmpl[] = "/tmp/plenor-safefile-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string File(const std::string& name) const { return (path / name).string(); }
  fs::path path;
};

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Put(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

HRESULT WriteThrough(const std::string& path, const std::string& bytes, std::string* error) {
  plenor::SafeFileWriter w;
  HRESULT hr = w.Open(path, error);
  if (SUCCEEDED(hr)) hr = w.Write(bytes.data(), bytes.size(), error);
  if (SUCCEEDED(hr)) hr = w.Commit(error);
  return hr;
}

}  // namespace

TEST(SafeFileWriter, ReplacesRegularFilesWithoutBreakingWhatPointsAtThem) {
  struct Case {
    const char* what;
    // Prepares the folder; returns the path to write to.
    std::function<std::string(const Scratch&)> prepare;
    // Checks the folder afterwards.
    std::function<void(const Scratch&)> check;
  };
  const std::string bytes = "new contents";
  const Case cases[] = {
      {"a new file", [](const Scratch& s) { return s.File("new.bin"); },
       [&](const Scratch& s) { EXPECT_EQ(Read(s.File("new.bin")), bytes); }},
      {"an existing file keeps its mode",
       [](const Scratch& s) {
         Put(s.File("old.bin"), "old");
         chmod(s.File("old.bin").c_str(), 0600);
         return s.File("old.bin");
       },
       [&](const Scratch& s) {
         EXPECT_EQ(Read(s.File("old.bin")), bytes);
         struct stat st{};
         ASSERT_EQ(stat(s.File("old.bin").c_str(), &st), 0);
         EXPECT_EQ(st.st_mode & 07777, 0600u);
       }},
      {"a symbolic link stays a link to the replaced file",
       [](const Scratch& s) {
         fs::create_directory(s.path / "real");
         Put(s.File("real/target.bin"), "old");
         fs::create_symlink("real/target.bin", s.path / "link.bin");
         return s.File("link.bin");
       },
       [&](const Scratch& s) {
         EXPECT_TRUE(fs::is_symlink(s.path / "link.bin"));
         EXPECT_EQ(Read(s.File("real/target.bin")), bytes);
         EXPECT_FALSE(fs::exists(s.path / "link.bin.part"));
       }},
      {"a dangling link creates its target",
       [](const Scratch& s) {
         fs::create_symlink("made.bin", s.path / "dangling.bin");
         return s.File("dangling.bin");
       },
       [&](const Scratch& s) {
         EXPECT_TRUE(fs::is_symlink(s.path / "dangling.bin"));
         EXPECT_EQ(Read(s.File("made.bin")), bytes);
       }},
      {"hard links keep sharing the file",
       [](const Scratch& s) {
         Put(s.File("a.bin"), "old");
         fs::create_hard_link(s.path / "a.bin", s.path / "b.bin");
         return s.File("a.bin");
       },
       [&](const Scratch& s) {
         EXPECT_EQ(Read(s.File("b.bin")), bytes);
         EXPECT_EQ(fs::hard_link_count(s.path / "a.bin"), 2u);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scratch s;
    const std::string path = c.prepare(s);
    std::string error;
    ASSERT_EQ(WriteThrough(path, bytes, &error), S_OK) << error;
    c.check(s);
    // Nothing is left beside the files the case made.
    for (const auto& entry : fs::recursive_directory_iterator(s.path))
      EXPECT_NE(entry.path().extension(), ".part") << entry.path();
  }
}

TEST(SafeFileWriter, WritesSpecialFilesDirectlyAndRefusesFolders) {
  Scratch s;
  // A FIFO is written into, not replaced by a regular file.
  const std::string fifo = s.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = Read(fifo); });
  plenor::SafeFileWriter w;
  std::string error;
  ASSERT_EQ(w.Open(fifo, &error), S_OK) << error;
  EXPECT_TRUE(w.IsDirect());
  EXPECT_FALSE(w.CanSeek());
  ASSERT_EQ(w.Write("through the pipe", 16, &error), S_OK) << error;
  EXPECT_TRUE(FAILED(w.WriteAt(0, "x", 1, &error)));
  ASSERT_EQ(w.Commit(&error), S_OK) << error;
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  EXPECT_TRUE(fs::is_fifo(fifo));

  // /dev/null stays the device.
  ASSERT_EQ(WriteThrough("/dev/null", "discarded", &error), S_OK) << error;
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // A folder is refused and left alone; so is an empty name.
  fs::create_directory(s.path / "folder");
  Put(s.File("folder/inside.txt"), "kept");
  EXPECT_EQ(WriteThrough(s.File("folder"), "x", &error), HRESULT_FROM_WIN32(ERROR_DIRECTORY));
  EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
  EXPECT_EQ(Read(s.File("folder/inside.txt")), "kept");
  EXPECT_EQ(WriteThrough("", "x", &error), E_INVALIDARG);
  EXPECT_NE(error.find("no output file name"), std::string::npos) << error;
}

TEST(SafeFileWriter, AFailureLeavesTheOldFileAsItWasAndSaysWhatFailed) {
  Scratch s;
  const std::string path = s.File("graph.json");
  const std::string old = "{\"old\": true}";
  Put(path, old);
  struct Case {
    const char* what;
    std::function<HRESULT(std::string*)> write;
    HRESULT expected;
    const char* says;
  };
  const Case cases[] = {
      {"disk full while writing",
       [&](std::string* e) {
         FileSizeLimit limit(1024);
         return plenor::WriteFileSafely(path, std::string(4096, 'x'), e);
       },
       STG_E_MEDIUMFULL, "cannot write"},
      {"abandoned before the commit",
       [&](std::string* e) {
         plenor::SafeFileWriter w;
         HRESULT hr = w.Open(path, e);
         if (SUCCEEDED(hr)) hr = w.Write("half", 4, e);
         return FAILED(hr) ? hr : E_ABORT;  // destroyed without Commit
       },
       E_ABORT, ""},
      {"missing folder",
       [&](std::string* e) { return plenor::WriteFileSafely(s.File("nowhere/graph.json"), "{}", e); },
       HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    EXPECT_EQ(c.write(&error), c.expected);
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(Read(path), old);
    EXPECT_FALSE(fs::exists(path + ".part"));
  }
  // A large write goes through in pieces and arrives whole.
  const std::string big(3 * plenor::SafeFileWriter::kMaxWriteChunk + 123, 'b');
  std::string error;
  ASSERT_EQ(plenor::WriteFileSafely(path, big, &error), S_OK) << error;
  EXPECT_EQ(Read(path), big);
}
