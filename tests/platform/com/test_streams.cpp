// Memory and file streams: short reads, seeking (including past 4 GiB), sizes, clones, copying,
// access modes and write failures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/com/objidl.h"
#include "platform/com/runtime.h"

namespace {

LARGE_INTEGER Offset(LONGLONG v) {
  LARGE_INTEGER li;
  li.QuadPart = v;
  return li;
}
ULARGE_INTEGER Size(ULONGLONG v) {
  ULARGE_INTEGER li;
  li.QuadPart = v;
  return li;
}

ULONGLONG Position(IStream* s) {
  ULARGE_INTEGER pos{};
  EXPECT_EQ(s->Seek(Offset(0), STREAM_SEEK_CUR, &pos), S_OK);
  return pos.QuadPart;
}

class FileStreamFiles : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::temp_directory_path() / ("plenor-streams-" + std::to_string(::getpid()));
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  std::string PathOf(const char* name) const { return (m_dir / name).string(); }
  std::filesystem::path m_dir;
};

TEST(MemoryStream, ReadsWritesSeeksAndGrows) {
  ComPtr<IStream> s;
  ASSERT_EQ(CreateStreamOnMemory("hello", 5, &s), S_OK);
  EXPECT_EQ(Position(s.Get()), 0u);

  char buf[16] = {};
  ULONG n = 99;
  EXPECT_EQ(s->Read(buf, 3, &n), S_OK);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(std::string(buf, 3), "hel");
  // A read past the end returns what there is and S_FALSE.
  EXPECT_EQ(s->Read(buf, 10, &n), S_FALSE);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(std::string(buf, 2), "lo");
  EXPECT_EQ(s->Read(buf, 10, &n), S_FALSE);
  EXPECT_EQ(n, 0u);

  // Writing past the end leaves a zero-filled gap.
  ASSERT_EQ(s->Seek(Offset(2), STREAM_SEEK_END, nullptr), S_OK);
  ASSERT_EQ(s->Write("XY", 2, &n), S_OK);
  std::string bytes;
  ASSERT_EQ(GetStreamBytes(s.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, std::string("hello\0\0XY", 9));
  EXPECT_EQ(Position(s.Get()), 9u) << "GetStreamBytes keeps the position";

  // Seeking before the start fails and leaves the position alone; so does a bad origin.
  EXPECT_EQ(s->Seek(Offset(-10), STREAM_SEEK_CUR, nullptr), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(s->Seek(Offset(0), 7, nullptr), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(Position(s.Get()), 9u);
  // Far beyond 32 bits is a valid position; reading there gives nothing.
  ULARGE_INTEGER pos{};
  ASSERT_EQ(s->Seek(Offset(5LL << 32), STREAM_SEEK_SET, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, 5ULL << 32);
  EXPECT_EQ(s->Read(buf, 4, &n), S_FALSE);
  EXPECT_EQ(n, 0u);

  STATSTG stat{};
  ASSERT_EQ(s->Stat(&stat, STATFLAG_DEFAULT), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 9u);
  EXPECT_EQ(stat.type, STGTY_STREAM);

  ASSERT_EQ(s->SetSize(Size(3)), S_OK);
  ASSERT_EQ(GetStreamBytes(s.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, "hel");
  ASSERT_EQ(s->SetSize(Size(5)), S_OK);
  ASSERT_EQ(GetStreamBytes(s.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, std::string("hel\0\0", 5));
}

TEST(MemoryStream, ClonesShareDataButNotPosition) {
  ComPtr<IStream> s;
  ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &s), S_OK);
  ASSERT_EQ(s->Write("abcdef", 6, nullptr), S_OK);
  ComPtr<IStream> clone;
  ASSERT_EQ(s->Clone(&clone), S_OK);
  EXPECT_EQ(Position(clone.Get()), 6u);
  ASSERT_EQ(clone->Seek(Offset(0), STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(clone->Write("AB", 2, nullptr), S_OK);
  EXPECT_EQ(Position(s.Get()), 6u);
  std::string bytes;
  ASSERT_EQ(GetStreamBytes(s.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, "ABcdef");
  // Releasing the original keeps the data alive for the clone.
  s.Reset();
  ASSERT_EQ(GetStreamBytes(clone.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, "ABcdef");

  ComPtr<ISequentialStream> seq;
  EXPECT_EQ(clone.As(std::addressof(seq)), S_OK);
  ComPtr<IPropertyBag> bag;
  EXPECT_EQ(clone.As(std::addressof(bag)), E_NOINTERFACE);
  EXPECT_FALSE(bag);
}

TEST(MemoryStream, CopyToStopsAtTheCountOrTheEnd) {
  std::string data(200000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  ComPtr<IStream> src, dst;
  ASSERT_EQ(CreateStreamOnMemory(data.data(), static_cast<ULONG>(data.size()), &src), S_OK);
  ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &dst), S_OK);
  ASSERT_EQ(src->Seek(Offset(10), STREAM_SEEK_SET, nullptr), S_OK);
  ULARGE_INTEGER read{}, written{};
  ASSERT_EQ(src->CopyTo(dst.Get(), Size(150000), &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 150000u);
  EXPECT_EQ(written.QuadPart, 150000u);
  EXPECT_EQ(Position(src.Get()), 150010u);
  ASSERT_EQ(src->CopyTo(dst.Get(), Size(1ULL << 40), &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, data.size() - 150010);
  std::string bytes;
  ASSERT_EQ(GetStreamBytes(dst.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, data.substr(10));
  EXPECT_EQ(src->CopyTo(nullptr, Size(1), nullptr, nullptr), E_POINTER);
}

TEST_F(FileStreamFiles, FileStreamModes) {
  std::string path = PathOf("modes.bin");
  ComPtr<IStream> s;
  EXPECT_EQ(CreateStreamOnFile(path.c_str(), "r", &s), STG_E_FILENOTFOUND);
  EXPECT_EQ(CreateStreamOnFile(path.c_str(), "a", &s), E_INVALIDARG);
  EXPECT_EQ(CreateStreamOnFile(m_dir.string().c_str(), "r", &s), STG_E_ACCESSDENIED) << "a folder";

  ASSERT_EQ(CreateStreamOnFile(path.c_str(), "w", &s), S_OK);
  ULONG n = 0;
  ASSERT_EQ(s->Write("0123456789", 10, &n), S_OK);
  EXPECT_EQ(n, 10u);
  char buf[16];
  EXPECT_EQ(s->Read(buf, 1, &n), STG_E_ACCESSDENIED);
  ASSERT_EQ(s->Commit(0), S_OK);
  s.Reset();

  ASSERT_EQ(CreateStreamOnFile(path.c_str(), "r", &s), S_OK);
  EXPECT_EQ(s->Write("x", 1, &n), STG_E_ACCESSDENIED);
  EXPECT_EQ(s->SetSize(Size(1)), STG_E_ACCESSDENIED);
  ASSERT_EQ(s->Seek(Offset(-4), STREAM_SEEK_END, nullptr), S_OK);
  EXPECT_EQ(s->Read(buf, 8, &n), S_FALSE);
  EXPECT_EQ(std::string(buf, n), "6789");
  STATSTG stat{};
  ASSERT_EQ(s->Stat(&stat, STATFLAG_DEFAULT), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 10u);
  ASSERT_NE(stat.pwcsName, nullptr);
  EXPECT_EQ(std::wstring(stat.pwcsName), Utf8ToWide(path));
  CoTaskMemFree(stat.pwcsName);
  s.Reset();

  // "rw" keeps the contents; "w" truncates.
  ASSERT_EQ(CreateStreamOnFile(path.c_str(), "rw", &s), S_OK);
  ASSERT_EQ(s->Seek(Offset(2), STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(s->Write("ab", 2, nullptr), S_OK);
  std::string bytes;
  ASSERT_EQ(GetStreamBytes(s.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, "01ab456789");
  EXPECT_EQ(Position(s.Get()), 4u);
  s.Reset();
  ASSERT_EQ(CreateStreamOnFile(path.c_str(), "w", &s), S_OK);
  s.Reset();
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(FileStreamFiles, FileStreamBeyondFourGigabytes) {
  std::string path = PathOf("sparse.bin");
  ComPtr<IStream> s;
  ASSERT_EQ(CreateStreamOnFile(path.c_str(), "rw", &s), S_OK);
  const ULONGLONG far = (1ULL << 32) + 123;
  // A sparse file: only the written block takes space.
  ASSERT_EQ(s->Seek(Offset(static_cast<LONGLONG>(far)), STREAM_SEEK_SET, nullptr), S_OK);
  ULONG n = 0;
  ASSERT_EQ(s->Write("tail", 4, &n), S_OK);
  STATSTG stat{};
  ASSERT_EQ(s->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.pwcsName, nullptr);
  EXPECT_EQ(stat.cbSize.QuadPart, far + 4);

  ComPtr<IStream> clone;
  ASSERT_EQ(s->Clone(&clone), S_OK);
  ASSERT_EQ(clone->Seek(Offset(-6), STREAM_SEEK_END, nullptr), S_OK);
  char buf[8] = {};
  EXPECT_EQ(clone->Read(buf, 8, &n), S_FALSE);
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(std::string(buf, 6), std::string("\0\0tail", 6));
  EXPECT_EQ(Position(s.Get()), far + 4) << "the clone's reads do not move the original";

  ASSERT_EQ(s->SetSize(Size(10)), S_OK);
  EXPECT_EQ(std::filesystem::file_size(path), 10u);
}

TEST(FileStream, WriteFailuresAreReported) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ComPtr<IStream> s;
  ASSERT_EQ(CreateStreamOnFile("/dev/full", "w", &s), S_OK);
  ULONG n = 99;
  EXPECT_EQ(s->Write("data", 4, &n), STG_E_MEDIUMFULL);
  EXPECT_EQ(n, 0u);
}

}  // namespace
