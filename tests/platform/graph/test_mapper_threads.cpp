// The mapper used from several threads at once: whole entries from each thread, and pins added to
// one filter by all threads, each pin getting its own slot.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"

namespace {

constexpr int kThreads = 4;
constexpr int kPerThread = 6;

CLSID ThreadFilter(int thread, int i) {
  return {0xA49FC300u + static_cast<DWORD>(thread * 16 + i), 0x4A0A, 0x47F6, {0x91, 0xFE, 0x83, 0x07, 0x4E, 0x28, 0x51, 0x95}};
}
PLENOR_GUID(CLSID_SharedFilter, 0xA49FC3FF, 0x4A0A, 0x47F6, 0x91, 0xFE, 0x83, 0x07, 0x4E, 0x28, 0x51, 0x95);

TEST(MapperThreads, ConcurrentWritersLoseNothing) {
  {
    ComPtr<IFilterMapper> old;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper, old.AsOut()), S_OK);
    ASSERT_EQ(old->RegisterFilter(CLSID_SharedFilter, L"Shared", MERIT_NORMAL), S_OK);
  }

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      ComPtr<IFilterMapper2> mapper;
      ASSERT_EQ(
          CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.AsOut()),
          S_OK);
      ComPtr<IFilterMapper> old = mapper.As<IFilterMapper>();
      const REGPINTYPES types[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
      const REGFILTERPINS pins[] = {{L"In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, types},
                                    {L"Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, types}};
      const REGFILTER2 rf2{1, MERIT_UNLIKELY, 2, pins};
      for (int i = 0; i < kPerThread; ++i) {
        const std::wstring name = L"T" + std::to_wstring(t) + L"." + std::to_wstring(i);
        EXPECT_EQ(mapper->RegisterFilter(ThreadFilter(t, i), name.c_str(), nullptr, nullptr, nullptr, &rf2), S_OK);
        // A pin named after this thread and step on the shared filter, with its type.
        EXPECT_EQ(old->RegisterPin(CLSID_SharedFilter, name.c_str(), FALSE, FALSE, FALSE, FALSE, CLSID_NULL, nullptr),
                  S_OK);
        EXPECT_EQ(old->RegisterPinType(CLSID_SharedFilter, name.c_str(), MEDIATYPE_Audio, MEDIASUBTYPE_PCM), S_OK);
      }
    });
  }
  for (std::thread& th : threads) th.join();

  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i) {
      RegisteredFilter f;
      ASSERT_EQ(MapperGetFilter(ThreadFilter(t, i), &f), S_OK);
      EXPECT_EQ(f.pins.size(), 2u);
    }
  }
  RegisteredFilter shared;
  ASSERT_EQ(MapperGetFilter(CLSID_SharedFilter, &shared), S_OK);
  ASSERT_EQ(shared.pins.size(), static_cast<size_t>(kThreads * kPerThread));
  std::set<std::wstring> names;
  for (const RegisteredPin& p : shared.pins) {
    names.insert(p.name);
    EXPECT_EQ(p.mediaTypes.size(), 1u) << WideToUtf8(p.name);
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(kThreads * kPerThread));
}

}  // namespace
