#include "platform/graph/eventqueue.h"

#include <algorithm>
#include <chrono>

namespace plenor::graph {

namespace {
constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

// Waits on cond until pred holds or msTimeout passes (negative: no limit). False on timeout.
template <class Pred>
bool WaitFor(std::condition_variable& cond, std::unique_lock<std::mutex>& l, LONG msTimeout, Pred pred) {
  if (msTimeout < 0) {
    cond.wait(l, pred);
    return true;
  }
  return cond.wait_for(l, std::chrono::milliseconds(msTimeout), pred);
}
}  // namespace

HRESULT GraphEvents::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
  try {
    std::lock_guard l(m_lock);
    if (code == EC_COMPLETE && m_defaultComplete) {
      // Collected until every renderer of the run has finished; one EC_COMPLETE then goes out.
      if (!m_inRun || m_completePosted) return S_OK;
      if (param2 == 0) {
        ++m_anonymousFinished;
      } else if (std::find(m_finished.begin(), m_finished.end(), param2) == m_finished.end()) {
        m_finished.push_back(param2);
        // A filter that reports completion itself counts as a renderer of the run.
        if (std::find(m_renderers.begin(), m_renderers.end(), param2) == m_renderers.end())
          m_renderers.push_back(param2);
      }
      CompleteIfDoneLocked();
      return S_OK;
    }
    PostLocked(code, param1, param2);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void GraphEvents::CompleteIfDoneLocked() {
  if (m_completePosted || !m_inRun) return;
  size_t identified = 0;
  for (LONG_PTR r : m_renderers)
    if (std::find(m_finished.begin(), m_finished.end(), r) != m_finished.end()) ++identified;
  // Completions that name no filter stand for one renderer each.
  size_t outstanding = m_renderers.size() - identified;
  if (m_anonymousFinished < outstanding) return;
  if (m_renderers.empty() && m_anonymousFinished == 0 && !m_running) return;
  m_completePosted = true;
  PostLocked(EC_COMPLETE, S_OK, 0);
}

void GraphEvents::PostLocked(LONG code, LONG_PTR param1, LONG_PTR param2) {
  if (Ends(code) && m_inRun && m_terminalCode == 0) m_terminalCode = code;
  if (!(m_notifyFlags & AM_MEDIAEVENT_NONOTIFY)) {
    m_queue.push_back({code, param1, param2});
    m_hasEvents.Set();
  }
  m_changed.notify_all();
}

void GraphEvents::BeginRun(std::vector<LONG_PTR> renderers) {
  std::lock_guard l(m_lock);
  m_inRun = true;
  m_running = false;
  m_completePosted = false;
  m_terminalCode = 0;
  m_renderers = std::move(renderers);
  m_finished.clear();
  m_anonymousFinished = 0;
  m_changed.notify_all();
}

void GraphEvents::Running() {
  std::lock_guard l(m_lock);
  m_running = true;
  CompleteIfDoneLocked();
}

void GraphEvents::Paused() {
  std::lock_guard l(m_lock);
  m_running = false;
}

void GraphEvents::EndRun() {
  std::lock_guard l(m_lock);
  m_inRun = false;
  m_running = false;
  m_renderers.clear();
  m_finished.clear();
  m_anonymousFinished = 0;
  m_changed.notify_all();
}

HRESULT GraphEvents::GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout) {
  if (!code || !param1 || !param2) return E_POINTER;
  *code = 0;
  *param1 = *param2 = 0;
  std::unique_lock l(m_lock);
  if (!WaitFor(m_changed, l, msTimeout, [&] { return !m_queue.empty(); })) return E_ABORT;
  Event e = m_queue.front();
  m_queue.pop_front();
  if (m_queue.empty()) m_hasEvents.Reset();
  *code = e.code;
  *param1 = e.param1;
  *param2 = e.param2;
  return S_OK;
}

HRESULT GraphEvents::WaitForCompletion(LONG msTimeout, LONG* code) {
  if (!code) return E_POINTER;
  *code = 0;
  std::unique_lock l(m_lock);
  // The queue is left as it is: the host still reads every event with GetEvent.
  bool done = WaitFor(m_changed, l, msTimeout, [&] { return m_terminalCode != 0 || !m_running; });
  if (m_terminalCode != 0) {
    *code = m_terminalCode;
    return S_OK;
  }
  if (!done) return E_ABORT;
  return VFW_E_WRONG_STATE;
}

HRESULT GraphEvents::CancelDefaultHandling(LONG code) {
  if (code != EC_COMPLETE) return S_FALSE;  // the only event with default handling
  std::lock_guard l(m_lock);
  m_defaultComplete = false;
  return S_OK;
}

HRESULT GraphEvents::RestoreDefaultHandling(LONG code) {
  if (code != EC_COMPLETE) return S_FALSE;
  std::lock_guard l(m_lock);
  m_defaultComplete = true;
  return S_OK;
}

void GraphEvents::SetNotifyFlags(LONG flags) {
  std::lock_guard l(m_lock);
  m_notifyFlags = flags;
  if (flags & AM_MEDIAEVENT_NONOTIFY) {
    m_queue.clear();
    m_hasEvents.Reset();
  }
}

LONG GraphEvents::GetNotifyFlags() {
  std::lock_guard l(m_lock);
  return m_notifyFlags;
}

}  // namespace plenor::graph
