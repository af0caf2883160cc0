// The system reference clock: time from the monotonic counter, one-shot and periodic advises
// signalling events from the clock thread, and cancelling them.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/com/runtime.h"
#include "platform/strmbase/strmif.h"
#include "platform/strmbase/wxutil.h"

namespace {

constexpr REFERENCE_TIME kMs = 10'000;

ComPtr<IReferenceClock> NewClock() {
  ComPtr<IReferenceClock> c;
  EXPECT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock, c.AsOut()), S_OK);
  return c;
}

REFERENCE_TIME Now(IReferenceClock* c) {
  REFERENCE_TIME t = 0;
  EXPECT_EQ(c->GetTime(&t), S_OK);
  return t;
}

TEST(SystemClock, TimeFollowsTheCounterAndNeverGoesBack) {
  ComPtr<IReferenceClock> c = NewClock();
  ASSERT_TRUE(c);
  REFERENCE_TIME t0 = Now(c.Get());
  REFERENCE_TIME prev = t0;
  for (int i = 0; i < 10000; ++i) {
    REFERENCE_TIME t = Now(c.Get());
    ASSERT_GE(t, prev);
    prev = t;
  }
  auto wall0 = std::chrono::steady_clock::now();
  REFERENCE_TIME a = Now(c.Get());
  Sleep(50);
  REFERENCE_TIME b = Now(c.Get());
  auto wall = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - wall0).count();
  // 100 ns units: 50 ms is 500000; the clock agrees with the steady clock (a few ms of slack for
  // a busy machine between the readings).
  EXPECT_GE(b - a, 50 * kMs);
  EXPECT_NEAR(static_cast<double>(b - a), static_cast<double>(wall) * 10, 5.0 * kMs);
  EXPECT_EQ(c->GetTime(nullptr), E_POINTER);
}

TEST(SystemClock, AdviseTimeSignalsWhenTheTimeComesAndNotBefore) {
  ComPtr<IReferenceClock> c = NewClock();
  CAMEvent ev;
  DWORD_PTR cookie = 0;
  REFERENCE_TIME base = Now(c.Get());
  ASSERT_EQ(c->AdviseTime(base, 60 * kMs, ev.Hand(), &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_FALSE(ev.Wait(20));
  ASSERT_TRUE(ev.Wait(2000));
  EXPECT_GE(Now(c.Get()), base + 60 * kMs);
  // One-shot: gone after it fired.
  EXPECT_EQ(c->Unadvise(cookie), S_FALSE);
}

TEST(SystemClock, AnAdviseForAPastTimeSignalsAtOnce) {
  ComPtr<IReferenceClock> c = NewClock();
  CAMEvent ev;
  DWORD_PTR cookie = 0;
  ASSERT_EQ(c->AdviseTime(1, 0, ev.Hand(), &cookie), S_OK);
  EXPECT_TRUE(ev.Wait(500));
}

TEST(SystemClock, PeriodicAdvisesRepeatUntilCancelled) {
  ComPtr<IReferenceClock> c = NewClock();
  CAMEvent ev;
  DWORD_PTR cookie = 0;
  ASSERT_EQ(c->AdvisePeriodic(Now(c.Get()) + 5 * kMs, 10 * kMs, ev.Hand(), &cookie), S_OK);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ev.Wait(2000)) << i;
  EXPECT_EQ(c->Unadvise(cookie), S_OK);
  ev.Reset();
  EXPECT_FALSE(ev.Wait(50));
  EXPECT_EQ(c->Unadvise(cookie), S_FALSE);
}

TEST(SystemClock, CancelledAdvisesNeverSignal) {
  ComPtr<IReferenceClock> c = NewClock();
  CAMEvent early, late;
  DWORD_PTR a = 0, b = 0;
  REFERENCE_TIME now = Now(c.Get());
  ASSERT_EQ(c->AdviseTime(now, 30 * kMs, late.Hand(), &a), S_OK);
  ASSERT_EQ(c->AdviseTime(now, 10 * kMs, early.Hand(), &b), S_OK);
  EXPECT_EQ(c->Unadvise(a), S_OK);
  EXPECT_TRUE(early.Wait(2000));
  EXPECT_FALSE(late.Wait(80));
}

TEST(SystemClock, RefusesBadAdvises) {
  ComPtr<IReferenceClock> c = NewClock();
  CAMEvent ev;
  DWORD_PTR cookie = 7;
  EXPECT_EQ(c->AdviseTime(0, 10, nullptr, &cookie), E_INVALIDARG);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(c->AdviseTime(-5, 10, ev.Hand(), &cookie), E_INVALIDARG);
  EXPECT_EQ(c->AdviseTime(0x7FFFFFFFFFFFFFFF, 10, ev.Hand(), &cookie), E_INVALIDARG);  // would overflow
  EXPECT_EQ(c->AdvisePeriodic(Now(c.Get()), 0, ev.Hand(), &cookie), E_INVALIDARG);
  EXPECT_EQ(c->AdviseTime(0, 10, ev.Hand(), nullptr), E_POINTER);
  EXPECT_EQ(c->Unadvise(12345), S_FALSE);
}

TEST(SystemClock, ReleasingTheClockWithAdvisesPendingEndsItsThread) {
  CAMEvent ev;
  {
    ComPtr<IReferenceClock> c = NewClock();
    DWORD_PTR cookie;
    ASSERT_EQ(c->AdvisePeriodic(Now(c.Get()) + 1000 * kMs, 1000 * kMs, ev.Hand(), &cookie), S_OK);
  }
  EXPECT_FALSE(ev.Wait(0));
}

}  // namespace
