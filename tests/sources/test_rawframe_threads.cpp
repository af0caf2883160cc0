// The raw YUV source with its application thread and its worker thread at work together:
// parameter changes, Loads and Stops while frames are being delivered.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/sources/rawframe_support.h"

using namespace rawtest;

namespace {

constexpr size_t kQcifFrame = 176 * 144 * 3 / 2;
constexpr REFERENCE_TIME kDuration = 333333;

TEST(RawFrameThreads, SizeChangesWhileStreamingLandBetweenFrames) {
  TempDir dir;
  const std::string path = dir.File("moving.yuv");
  constexpr size_t kLarge = 128 * 96 * 3 / 2, kSmall = 64 * 48 * 3 / 2;
  // One run of bytes whose value depends on the offset: any frame of any size can be checked.
  const std::vector<BYTE> file = WriteYuvFile(path, kLarge * 300, 1);

  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  ASSERT_EQ(SetParam(filter.Get(), "sourcedimensions", "128x96"), S_OK);
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);

  std::atomic<bool> done{false};
  std::atomic<int> changes{0};
  std::thread changer([&] {
    for (int i = 0; !done.load(); ++i) {
      EXPECT_EQ(SetParam(filter.Get(), "sourcedimensions", i % 2 ? "128x96" : "64x48"), S_OK);
      changes.fetch_add(1);
      std::this_thread::yield();
    }
  });
  const LONG code = p.RunToEnd();
  done = true;
  changer.join();
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_GT(changes.load(), 0);

  // Every sample is one whole frame of one of the two sizes, taken from the place its time
  // stamp gives at that size: size, position and time were read together.
  const auto samples = p.Samples();
  ASSERT_FALSE(samples.empty());
  for (const auto& s : samples) {
    const size_t size = s.data.size();
    ASSERT_TRUE(size == kLarge || size == kSmall) << size;
    ASSERT_EQ(s.start % kDuration, 0);
    const size_t offset = static_cast<size_t>(s.start / kDuration) * size;
    ASSERT_LE(offset + size, file.size());
    ASSERT_TRUE(std::equal(s.data.begin(), s.data.end(), file.begin() + static_cast<std::ptrdiff_t>(offset)))
        << "frame at " << s.start;
  }
  ASSERT_EQ(p.Stop(), S_OK);
}

TEST(RawFrameThreads, LoadsWhileStreamingDeliverWholeFramesOfOneFile) {
  TempDir dir;
  const std::string a = dir.File("a_qcif.yuv"), b = dir.File("b_qcif.yuv");
  std::vector<BYTE> fileA = WriteYuvFile(a, kQcifFrame, 40);
  std::vector<BYTE> fileB = fileA;
  for (BYTE& v : fileB) v = static_cast<BYTE>(~v);
  {
    std::FILE* out = std::fopen(b.c_str(), "wb");
    ASSERT_TRUE(out);
    ASSERT_EQ(std::fwrite(fileB.data(), 1, fileB.size(), out), fileB.size());
    std::fclose(out);
  }

  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  ASSERT_EQ(LoadFile(filter.Get(), a), S_OK);
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  ASSERT_EQ(p.control->Run(), S_OK);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(LoadFile(filter.Get(), i % 2 ? a : b), S_OK);
  LONG code = 0;
  EXPECT_EQ(p.events->WaitForCompletion(20000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);

  // A Load starts again at frame 0 of the new file; no frame mixes the two files.
  const auto samples = p.Samples();
  ASSERT_GE(samples.size(), 40u);
  for (const auto& s : samples) {
    const long long n = s.start / kDuration;
    ASSERT_LT(n, 40);
    ASSERT_TRUE(s.data == FrameOf(fileA, kQcifFrame, n) || s.data == FrameOf(fileB, kQcifFrame, n))
        << "frame " << n;
  }
  ASSERT_EQ(p.Stop(), S_OK);
}

TEST(RawFrameThreads, EveryRunAfterAStopAtFullSpeedStartsAtFrameZero) {
  TempDir dir;
  const std::string path = dir.File("long_qcif.yuv");
  const std::vector<BYTE> file = WriteYuvFile(path, kQcifFrame, 120);
  const std::vector<BYTE> first = FrameOf(file, kQcifFrame, 0);

  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  for (int run = 0; run < 40; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    p.Clear();
    ASSERT_EQ(p.control->Run(), S_OK);
    ASSERT_TRUE(p.WaitForSamples(1 + run % 3, 10000));
    ASSERT_EQ(p.Stop(), S_OK);
    const auto samples = p.Samples();
    EXPECT_EQ(samples.front().start, 0);
    EXPECT_TRUE(samples.front().data == first);
  }
}

}  // namespace
