// The system reference clock (CLSID_SystemClock): IReferenceClock on the monotonic performance
// counter. One clock thread, started on the first advise, signals the CAMEvent handles given to
// AdviseTime and AdvisePeriodic when their times come.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/graph/comobject.h"
#include "platform/strmbase/strmif.h"

namespace plenor::graph {

class CSystemClock final : public ComObject<CSystemClock, IReferenceClock> {
 public:
  CSystemClock();
  ~CSystemClock() override;

  // IReferenceClock; any thread.
  STDMETHODIMP GetTime(REFERENCE_TIME* pTime) override;
  STDMETHODIMP AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                          DWORD_PTR* pdwAdviseCookie) override;
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
                              DWORD_PTR* pdwAdviseCookie) override;
  STDMETHODIMP Unadvise(DWORD_PTR dwAdviseCookie) override;

  // The counter in 100 ns units, never decreasing.
  static REFERENCE_TIME Now();

 private:
  struct Advise {
    DWORD_PTR cookie;
    REFERENCE_TIME due;
    REFERENCE_TIME period;  // 0 for a one-shot advise
    HEVENT event;
  };
  HRESULT Add(REFERENCE_TIME due, REFERENCE_TIME period, HEVENT event, DWORD_PTR* cookie);
  void ThreadProc();

  std::mutex m_lock;  // guards everything below; held while an event is signalled
  std::condition_variable m_wake;
  std::vector<Advise> m_advises;
  DWORD_PTR m_nextCookie = 1;
  bool m_exit = false;
  std::thread m_thread;  // started on the first advise
};

}  // namespace plenor::graph
