// The utility filters while their streams run: a host reading the grabber's queue and changing
// parameters on its own thread, and graphs stopped at full speed while a writer is writing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support_utilities.h"

using namespace utiltest;

namespace {

TEST(UtilityThreads, HostReadsTheGrabberAndChangesParametersWhileStreaming) {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  ASSERT_EQ(Set(source.Get(), "frames", "0"), S_OK);
  ASSERT_EQ(Set(source.Get(), "width", "16"), S_OK);
  ASSERT_EQ(Set(source.Get(), "height", "16"), S_OK);
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  ASSERT_EQ(Set(grabber.Get(), "max_samples", "50"), S_OK);
  Graph g;
  ASSERT_EQ(g.Build({source.Get(), grabber.Get()}), S_OK);
  ComPtr<IMediaControl> mc = g.builder.As<IMediaControl>();
  ComPtr<IPlenorSampleGrabber> queue = grabber.As<IPlenorSampleGrabber>();

  std::atomic<bool> done{false};
  std::thread host([&] {
    int i = 0;
    while (!done) {
      LONG count = 0;
      queue->GetSampleCount(&count);
      if (count > 0) {
        GRABBED_SAMPLE_INFO info{};
        std::vector<BYTE> bytes(16 * 16 * 3);
        if (queue->GetSampleInfo(count - 1, &info) == S_OK)
          queue->GetSampleData(count - 1, bytes.data(), static_cast<LONG>(bytes.size()), nullptr);
      }
      Set(source.Get(), "pattern", (++i % 2) ? "noise" : "bars");
      Set(source.Get(), "seed", std::to_string(i));
      Set(grabber.Get(), "max_samples", std::to_string(40 + i % 20));
    }
  });
  for (int run = 0; run < 20; ++run) {
    ASSERT_EQ(mc->Run(), S_OK);
    EXPECT_EQ(queue->WaitForSamples(5, 5000), S_OK);
    ASSERT_EQ(mc->Stop(), S_OK);
  }
  done = true;
  host.join();
}

TEST(UtilityThreads, StoppingAtFullSpeedAlwaysLeavesOneCompleteFile) {
  ScratchDir dir;
  const std::string path = dir.File("out.raw");
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  ASSERT_EQ(Set(source.Get(), "frames", "0"), S_OK);
  ASSERT_EQ(Set(source.Get(), "width", "32"), S_OK);
  ASSERT_EQ(Set(source.Get(), "height", "32"), S_OK);
  ComPtr<IBaseFilter> writer = CreateFilter(CLSID_FileWriter);
  ASSERT_EQ(Set(writer.Get(), "filename", path), S_OK);
  Graph g;
  ASSERT_EQ(g.Build({source.Get(), writer.Get()}), S_OK);
  ComPtr<IMediaControl> mc = g.builder.As<IMediaControl>();
  const size_t frame = 32 * 32 * 3;
  for (int run = 0; run < 30; ++run) {
    ASSERT_EQ(mc->Run(), S_OK);
    if (run % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(mc->Stop(), S_OK);
    ASSERT_EQ(dir.Files(), (std::vector<std::string>{"out.raw"})) << run;
    EXPECT_EQ(ReadFile(path).size() % frame, 0u) << run;  // whole frames only
  }
}

}  // namespace
