// The graph's event queue: events that filters notify on any thread, with the default handling of
// EC_COMPLETE (the renderers' completions are collected and one EC_COMPLETE goes to the host
// once every renderer of the run has finished), read by the host with GetEvent or waited for
// with WaitForCompletion. It has its own lock and never calls out of the graph, so filters may
// notify from streaming threads while the graph thread holds the graph lock.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/strmbase/strmif.h"
#include "platform/strmbase/wxutil.h"

namespace plenor::graph {

class GraphEvents {
 public:
  GraphEvents() = default;
  GraphEvents(const GraphEvents&) = delete;
  GraphEvents& operator=(const GraphEvents&) = delete;

  // IMediaEventSink::Notify, any thread.
  HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2);

  // Graph thread, on entering Paused from Stopped: the filters (as the LONG_PTR value of their
  // IBaseFilter pointers) whose EC_COMPLETE the run waits for. Completions of an earlier run are
  // forgotten.
  void BeginRun(std::vector<LONG_PTR> renderers);
  // Graph thread, on entering Running: posts EC_COMPLETE at once when the run has no renderer or
  // all of them have already finished while paused.
  void Running();
  // Graph thread, on leaving Running for Paused.
  void Paused();
  // Graph thread, on Stop: forgets the run and wakes WaitForCompletion callers.
  void EndRun();

  // Host calls (IMediaEvent).
  HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout);
  HRESULT WaitForCompletion(LONG msTimeout, LONG* code);
  HRESULT CancelDefaultHandling(LONG code);
  HRESULT RestoreDefaultHandling(LONG code);
  // Set while events are queued (manual reset).
  HEVENT Handle() { return m_hasEvents.Hand(); }
  void SetNotifyFlags(LONG flags);
  LONG GetNotifyFlags();

 private:
  struct Event {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
  };
  void PostLocked(LONG code, LONG_PTR param1, LONG_PTR param2);
  void CompleteIfDoneLocked();
  static bool Ends(LONG code) { return code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT; }

  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<Event> m_queue;
  CAMEvent m_hasEvents{TRUE};
  bool m_defaultComplete = true;  // EC_COMPLETE default handling
  LONG m_notifyFlags = 0;         // AM_MEDIAEVENT_NONOTIFY: events are not queued

  // The current run.
  bool m_inRun = false;
  bool m_running = false;
  bool m_completePosted = false;
  std::vector<LONG_PTR> m_renderers;
  std::vector<LONG_PTR> m_finished;  // renderers (and other filters) that sent EC_COMPLETE
  size_t m_anonymousFinished = 0;    // EC_COMPLETE without a filter pointer
  LONG m_terminalCode = 0;           // first EC_COMPLETE/EC_ERRORABORT/EC_USERABORT of the run
};

}  // namespace plenor::graph
