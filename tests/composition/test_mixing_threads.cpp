// Threads: parameter changes from a host thread while frames are drawn on the streaming threads
// (geometry update serialised with drawing), a parameter change while the downstream filter
// blocks the streaming thread (it must not wait for it), and two inputs pushing at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <thread>

#include "composition/inset/insetvideo.h"
#include "composition/tilemix/tilemix.h"
#include "tests/composition/support_composition.h"
#include "tests/composition/support_mixchain.h"

using namespace comptest;

namespace {

TEST(MixingThreads, GeometryChangesWhileBothInputsStream) {
  const CMediaType t0 = VideoType(MEDIASUBTYPE_RGB24, 97, 61), t1 = VideoType(MEDIASUBTYPE_RGB24, 83, 47);
  MixChain<InsetVideoFilter> chain(&t0, &t1);
  ASSERT_EQ(chain.outputConnect, S_OK);
  auto pusher = [&](int input, int w, int h) {
    std::mt19937 rng(input);
    const Picture p = RandomPicture(w, h, 3, rng);
    for (int i = 0; i < 60; ++i) EXPECT_GE(chain.push[input]->PushBytes(p.bytes, i, i + 1), S_OK);
  };
  std::thread a(pusher, 0, 97, 61), b(pusher, 1, 83, 47);
  const char* values[][2] = {{"sub_pic_width", "31"}, {"offset_x", "-5"}, {"sub_pic_height", "100000"},
                             {"offset_y", "20"},      {"sub_pic_width", "0"}, {"border_width", "1"}};
  for (int round = 0; round < 20; ++round)
    for (auto& v : values) EXPECT_EQ(chain.filter->SetParameter(v[0], v[1]), S_OK);
  a.join();
  b.join();
  EXPECT_GT(chain.sink->SampleCount(), 0u);
}

TEST(MixingThreads, ParameterChangeDoesNotWaitForABlockedDownstream) {
  const CMediaType t = VideoType(MEDIASUBTYPE_RGB24, 40, 30);
  MixChain<InsetVideoFilter> inset(&t, &t);
  MixChain<TileMixFilter> tile(&t, &t);
  ASSERT_EQ(inset.outputConnect, S_OK);
  ASSERT_EQ(tile.outputConnect, S_OK);
  const std::vector<BYTE> frame(Stride(40, 3) * 30, 5);
  auto check = [&](auto& chain, const char* name, const char* value) {
    chain.sink->SetBlocking(true);
    std::thread streaming([&] { chain.push[0]->PushBytes(frame, 0, 1); });
    while (chain.sink->BlockedReceives() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto set = std::async(std::launch::async, [&] { return chain.filter->SetParameter(name, value); });
    EXPECT_EQ(set.wait_for(std::chrono::seconds(5)), std::future_status::ready) << name;
    chain.sink->SetBlocking(false);
    streaming.join();
    EXPECT_EQ(set.get(), S_OK);
  };
  check(inset, "offset_x", "3");
  check(tile, "orientation", "1");
}

TEST(MixingThreads, TwoInputsAreServedOneAtATime) {
  const CMediaType t = VideoType(MEDIASUBTYPE_RGB32, 64, 32);
  MixChain<TileMixFilter> chain(&t, &t);
  ASSERT_EQ(chain.outputConnect, S_OK);
  chain.sink->SetBlocking(true);
  const std::vector<BYTE> frame(64 * 32 * 4, 1);
  std::thread first([&] { chain.push[0]->PushBytes(frame, 0, 1); });
  while (chain.sink->BlockedReceives() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::thread second([&] { chain.push[1]->PushBytes(frame, 0, 1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(chain.sink->BlockedReceives(), 1);  // the second Receive waits for the first
  chain.sink->SetBlocking(false);
  first.join();
  second.join();
  EXPECT_EQ(chain.sink->SampleCount(), 2u);
}

}  // namespace
