// A running graph allocates nothing per sample: this binary replaces the global operator new to
// count every allocation made by any thread, and a 1920x1080 RGB24 stream through three copy
// transforms must make none between two points of a run.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "platform/com/runtime.h"
#include "support_filters.h"
#include "tests/support/harness.h"

namespace {
std::atomic<long long> g_allocations{0};

void* CountedAlloc(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* CountedAlignedAlloc(std::size_t n, std::align_val_t al) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  std::size_t a = static_cast<std::size_t>(al);
  if (void* p = std::aligned_alloc(a, (n + a - 1) / a * a)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return CountedAlloc(n); }
void* operator new[](std::size_t n) { return CountedAlloc(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return CountedAlloc(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return CountedAlloc(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t n, std::align_val_t al) { return CountedAlignedAlloc(n, al); }
void* operator new[](std::size_t n, std::align_val_t al) { return CountedAlignedAlloc(n, al); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

using namespace graphtest;

namespace {

void WaitRendered(CountingRenderer* r, int n) {
  while (r->rendered.load(std::memory_order_acquire) < n) std::this_thread::yield();
}

TEST(GraphAllocations, AFullHdStreamThroughThreeCopyTransformsAllocatesNothingPerSample) {
  // The counter sees allocations: the replacement is in effect for this binary.
  long long probeBefore = g_allocations.load();
  delete new int(1);
  ASSERT_GT(g_allocations.load(), probeBefore);

  ComPtr<IGraphBuilder> g;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, g.AsOut()), S_OK);
  auto src = Make<FrameSource>(plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 1920, 1080, 24), -1);
  ComPtr<CopyFilter> copies[3] = {Make<CopyFilter>(), Make<CopyFilter>(), Make<CopyFilter>()};
  auto sink = Make<CountingRenderer>();
  g->AddFilter(src.Get(), L"Source");
  for (auto& c : copies) g->AddFilter(c.Get(), L"Copy");
  g->AddFilter(sink.Get(), L"Renderer");
  ComPtr<IPin> out(src->Output());
  for (auto& c : copies) {
    ASSERT_EQ(g->Connect(out.Get(), PinAt(c.Get(), 0).Get()), S_OK);
    out = PinAt(c.Get(), 1);
  }
  ASSERT_EQ(g->Connect(out.Get(), sink->Input()), S_OK);
  g.As<IMediaFilter>()->SetSyncSource(nullptr);
  ComPtr<IMediaControl> mc = g.As<IMediaControl>();

  ASSERT_EQ(mc->Run(), S_OK);
  WaitRendered(sink.Get(), 5);
  long long before = g_allocations.load();
  WaitRendered(sink.Get(), 45);
  long long after = g_allocations.load();
  ASSERT_EQ(mc->Stop(), S_OK);

  EXPECT_EQ(after - before, 0) << "allocations while 40 frames streamed";
  EXPECT_EQ(sink->outOfOrder.load(), 0);
  EXPECT_GE(copies[2]->transformed.load(), 45);
}

}  // namespace
