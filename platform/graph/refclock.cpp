#include "platform/graph/refclock.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "platform/com/runtime.h"
#include "platform/strmbase/wxutil.h"

namespace plenor::graph {

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;

HRESULT GetClockClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

// Registers the clock as a class built into the runtime when the library loads.
const bool g_registered = [] {
  CoRegisterBuiltinClass(CLSID_SystemClock, GetClockClassObject);
  return true;
}();

class ClockFactory final : public ComObject<ClockFactory, IClassFactory> {
 public:
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateComObject<CSystemClock>(riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

HRESULT GetClockClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_SystemClock) return CLASS_E_CLASSNOTAVAILABLE;
  return CreateComObject<ClockFactory>(riid, ppv);
}

}  // namespace

CSystemClock::CSystemClock() { (void)g_registered; }

CSystemClock::~CSystemClock() {
  {
    std::lock_guard l(m_lock);
    m_exit = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

REFERENCE_TIME CSystemClock::Now() {
  static const LONGLONG freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart > 0 ? f.QuadPart : 1;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  // Split the conversion so that large counts cannot overflow.
  LONGLONG whole = c.QuadPart / freq;
  LONGLONG rest = c.QuadPart % freq;
  REFERENCE_TIME t = whole * kUnitsPerSecond + rest * kUnitsPerSecond / freq;
  // The counter is monotonic; keep the clock so across threads even if the conversion rounds.
  static std::atomic<REFERENCE_TIME> last{0};
  REFERENCE_TIME prev = last.load(std::memory_order_relaxed);
  while (t > prev && !last.compare_exchange_weak(prev, t, std::memory_order_relaxed)) {
  }
  return std::max(t, prev);
}

STDMETHODIMP CSystemClock::GetTime(REFERENCE_TIME* pTime) {
  if (!pTime) return E_POINTER;
  *pTime = Now();
  return S_OK;
}

STDMETHODIMP CSystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                      DWORD_PTR* pdwAdviseCookie) {
  if (!pdwAdviseCookie) return E_POINTER;
  *pdwAdviseCookie = 0;
  if (!hEvent) return E_INVALIDARG;
  if (baseTime < 0 || streamTime < 0 || baseTime > std::numeric_limits<REFERENCE_TIME>::max() - streamTime)
    return E_INVALIDARG;
  return Add(baseTime + streamTime, 0, hEvent, pdwAdviseCookie);
}

STDMETHODIMP CSystemClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
                                          DWORD_PTR* pdwAdviseCookie) {
  if (!pdwAdviseCookie) return E_POINTER;
  *pdwAdviseCookie = 0;
  if (!hSemaphore || startTime < 0 || periodTime <= 0) return E_INVALIDARG;
  return Add(startTime, periodTime, hSemaphore, pdwAdviseCookie);
}

HRESULT CSystemClock::Add(REFERENCE_TIME due, REFERENCE_TIME period, HEVENT event, DWORD_PTR* cookie) {
  return Guarded([&]() -> HRESULT {
    {
      std::lock_guard l(m_lock);
      if (!m_thread.joinable()) m_thread = std::thread([this] { ThreadProc(); });
      *cookie = m_nextCookie++;
      m_advises.push_back({*cookie, due, period, event});
    }
    m_wake.notify_all();
    return S_OK;
  });
}

STDMETHODIMP CSystemClock::Unadvise(DWORD_PTR dwAdviseCookie) {
  // Taking the lock also waits for a signal in progress, so the caller may free its event as
  // soon as this returns.
  std::lock_guard l(m_lock);
  auto it = std::find_if(m_advises.begin(), m_advises.end(),
                         [&](const Advise& a) { return a.cookie == dwAdviseCookie; });
  if (it == m_advises.end()) return S_FALSE;
  m_advises.erase(it);
  return S_OK;
}

// Clock thread: sleeps until the earliest due advise, signals every advise that is due, drops the
// one-shot ones and moves the periodic ones on by whole periods.
void CSystemClock::ThreadProc() {
  std::unique_lock l(m_lock);
  while (!m_exit) {
    REFERENCE_TIME now = Now();
    REFERENCE_TIME next = std::numeric_limits<REFERENCE_TIME>::max();
    for (size_t i = 0; i < m_advises.size();) {
      Advise& a = m_advises[i];
      if (a.due <= now) {
        CAMEvent::FromHandle(a.event)->Set();
        if (a.period == 0) {
          m_advises.erase(m_advises.begin() + static_cast<std::ptrdiff_t>(i));
          continue;
        }
        // Periods that passed unseen are signalled once, not replayed.
        REFERENCE_TIME missed = (now - a.due) / a.period + 1;
        a.due += missed * a.period;
      }
      next = std::min(next, a.due);
      ++i;
    }
    if (next == std::numeric_limits<REFERENCE_TIME>::max()) {
      m_wake.wait(l);
    } else {
      // 100 ns units to a steady-clock wait; Now() and steady_clock share the monotonic counter.
      auto wait = std::chrono::nanoseconds((next - now) * 100);
      m_wake.wait_for(l, wait);
    }
  }
}

}  // namespace plenor::graph
