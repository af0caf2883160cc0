// Locks, events and the worker-thread helper of the filter base classes.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/com/hresult.h"
#include "platform/com/wintypes.h"

// Recursive critical section.
class CCritSec {
 public:
  CCritSec() = default;
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;
  void Lock() { m_mutex.lock(); }
  void Unlock() { m_mutex.unlock(); }
  bool TryLock() { return m_mutex.try_lock(); }

 private:
  std::recursive_mutex m_mutex;
};

class CAutoLock {
 public:
  explicit CAutoLock(CCritSec* plock) : m_pLock(plock) { m_pLock->Lock(); }
  ~CAutoLock() { m_pLock->Unlock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CCritSec* m_pLock;
};

// Manual- or auto-reset event. Hand() gives the HEVENT form used by IReferenceClock::AdviseTime;
// CAMEvent::FromHandle turns it back.
class CAMEvent {
 public:
  explicit CAMEvent(BOOL fManualReset = FALSE) : m_bManualReset(fManualReset != FALSE) {}
  CAMEvent(const CAMEvent&) = delete;
  CAMEvent& operator=(const CAMEvent&) = delete;

  void Set() {
    {
      std::lock_guard<std::mutex> l(m_mutex);
      m_bSignalled = true;
    }
    if (m_bManualReset)
      m_cond.notify_all();
    else
      m_cond.notify_one();
  }
  void Reset() {
    std::lock_guard<std::mutex> l(m_mutex);
    m_bSignalled = false;
  }
  // Waits up to dwTimeout ms (INFINITE for no limit). TRUE when signalled; an auto-reset event is
  // reset by a successful wait.
  BOOL Wait(DWORD dwTimeout = INFINITE) {
    std::unique_lock<std::mutex> l(m_mutex);
    auto ready = [this] { return m_bSignalled; };
    // A zero timeout is a poll: a timed wait would still make a system call (streaming loops
    // poll for commands once per sample).
    if (dwTimeout == 0 && !m_bSignalled) return FALSE;
    if (dwTimeout == INFINITE)
      m_cond.wait(l, ready);
    else if (!m_cond.wait_for(l, std::chrono::milliseconds(dwTimeout), ready))
      return FALSE;
    if (!m_bManualReset) m_bSignalled = false;
    return TRUE;
  }
  BOOL Check() { return Wait(0); }
  HEVENT Hand() { return static_cast<HEVENT>(this); }
  static CAMEvent* FromHandle(HEVENT h) { return static_cast<CAMEvent*>(h); }

 private:
  const bool m_bManualReset;
  bool m_bSignalled = false;
  std::mutex m_mutex;
  std::condition_variable m_cond;
};

// A worker thread driven by synchronous commands. The application thread calls CallWorker(cmd),
// which waits until the worker answers with Reply(result). The worker fetches commands with
// GetRequest (blocking) or polls with CheckRequest. A derived class supplies ThreadProc.
class CAMThread {
 public:
  CAMThread();
  CAMThread(const CAMThread&) = delete;
  CAMThread& operator=(const CAMThread&) = delete;
  virtual ~CAMThread();

  // Lock held by CallWorker: one command at a time.
  CCritSec m_AccessLock;
  // Free for the worker's own use.
  CCritSec m_WorkerLock;

  // Starts the thread running ThreadProc; FALSE if it already exists or cannot start.
  BOOL Create();
  // Sends a command and waits for the reply; E_FAIL when there is no thread.
  DWORD CallWorker(DWORD dwParam);
  // Waits for the thread to end (after it was told to exit) and forgets it.
  void Close();
  BOOL ThreadExists() const { return m_hThread.joinable() ? TRUE : FALSE; }

  // Worker side: waits for the next command.
  DWORD GetRequest();
  // Worker side: TRUE (and the command in *pParam) if a command is waiting; does not remove it.
  BOOL CheckRequest(DWORD* pParam);
  // Worker side: answers the current command.
  void Reply(DWORD dw);
  DWORD GetRequestParam() const { return m_dwParam; }

  virtual DWORD ThreadProc() = 0;

 private:
  CAMEvent m_EventSend{TRUE};  // manual reset, so CheckRequest can peek
  CAMEvent m_EventComplete;
  DWORD m_dwParam = 0;
  DWORD m_dwReturnVal = 0;
  std::thread m_hThread;
};
