// The H.264 file source with its application thread and its worker thread at work together:
// Loads, seeks, parameter reads and writes and Stops while units are being delivered. Every
// sample must still be one whole unit of one of the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "tests/sources/avcfile_support.h"

using namespace avctest;
using rawtest::Pipeline;
using rawtest::TempDir;

namespace {

TEST(AvcFileThreads, LoadsSeeksAndParameterChangesWhileStreamingLandBetweenUnits) {
  TempDir dir;
  // Two files of many small units (their parameter sets are not parseable, so they play in
  // 352 x 288 buffers with "usequelth264" clear), long enough for the changes to meet the stream.
  auto file = [](int count, unsigned seed) {
    std::vector<Bytes> units = {MakeUnit(0x67, 3), MakeUnit(0x68, 2)};
    for (int n = 0; n < count; ++n)
      units.push_back(MakeUnit(n % 9 ? 0x41 : 0x65, static_cast<size_t>(n * 37 % 300), n % 2 ? 3 : 4, seed + n));
    return units;
  };
  const std::vector<Bytes> a = file(20000, 1), b = file(12000, 900000);
  const std::string pathA = dir.File("a.h264"), pathB = dir.File("b.h264");
  WriteBytes(pathA, Join(a));
  WriteBytes(pathB, Join(b));
  std::set<Bytes> known(a.begin(), a.end());
  known.insert(b.begin(), b.end());

  ComPtr<IBaseFilter> filter = CreateAvcFileSource();
  ASSERT_TRUE(filter);
  ASSERT_EQ(rawtest::LoadFile(filter.Get(), pathA), S_OK);
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  ComPtr<IMediaSeeking> seeking = Seeking(filter.Get());

  std::atomic<bool> stop{false};
  std::thread changer([&] {
    for (int i = 0; i < 2000 && !stop.load(); ++i) {
      LONGLONG position = (i * 7919 % 11000) * 333333;
      const HRESULT hr = seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0);
      EXPECT_TRUE(hr == S_OK || hr == E_INVALIDARG) << hr;
      if (i % 200 == 100) {
        EXPECT_EQ(rawtest::LoadFile(filter.Get(), i % 400 == 100 ? pathB : pathA), S_OK);
      }
      EXPECT_EQ(rawtest::GetParam(filter.Get(), "sourcedimensions"), "");
      EXPECT_EQ(rawtest::SetParam(filter.Get(), "fps", i % 2 ? "30" : "25"), S_OK);
      LONGLONG current = -1;
      EXPECT_EQ(seeking->GetCurrentPosition(&current), S_OK);
      std::this_thread::yield();
    }
  });
  const LONG code = p.RunToEnd(60000);
  stop = true;
  changer.join();
  EXPECT_EQ(code, EC_COMPLETE);

  const auto samples = p.Samples();
  ASSERT_FALSE(samples.empty());
  for (size_t i = 0; i < samples.size(); ++i) ASSERT_TRUE(known.count(samples[i].data)) << "sample " << i;
  ASSERT_EQ(p.Stop(), S_OK);
}

TEST(AvcFileThreads, StopsWhileStreamingRewindToTheFirstUnit) {
  TempDir dir;
  const std::vector<Bytes> units = EncodeStream(64, 48, 60, 10);
  const std::string path = dir.File("clip.h264");
  WriteBytes(path, Join(units));
  ComPtr<IBaseFilter> filter = CreateAvcFileSource();
  ASSERT_TRUE(filter);
  ASSERT_EQ(rawtest::LoadFile(filter.Get(), path), S_OK);
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(p.control->Run(), S_OK);
    p.WaitForSamples(1 + round % 5, 5000);
    ASSERT_EQ(p.Stop(), S_OK);
    // The grabber is cleared when the graph starts again; what one run delivered is the file's
    // first units in order.
    const auto samples = p.Samples();
    ASSERT_LE(samples.size(), units.size());
    for (size_t i = 0; i < samples.size(); ++i) ASSERT_TRUE(samples[i].data == units[i]) << "sample " << i;
  }
}

}  // namespace
