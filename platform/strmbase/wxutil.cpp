#include "platform/strmbase/wxutil.h"

CAMThread::CAMThread() = default;

CAMThread::~CAMThread() { Close(); }

BOOL CAMThread::Create() {
  CAutoLock lock(&m_AccessLock);
  if (ThreadExists()) return FALSE;
  try {
    m_hThread = std::thread([this] { ThreadProc(); });
  } catch (...) {
    return FALSE;
  }
  return TRUE;
}

DWORD CAMThread::CallWorker(DWORD dwParam) {
  CAutoLock lock(&m_AccessLock);
  if (!ThreadExists()) return static_cast<DWORD>(E_FAIL);
  m_dwParam = dwParam;
  m_EventSend.Set();
  m_EventComplete.Wait();
  return m_dwReturnVal;
}

void CAMThread::Close() {
  if (m_hThread.joinable()) m_hThread.join();
}

DWORD CAMThread::GetRequest() {
  m_EventSend.Wait();
  return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* pParam) {
  if (!m_EventSend.Check()) return FALSE;
  if (pParam) *pParam = m_dwParam;
  return TRUE;
}

void CAMThread::Reply(DWORD dw) {
  m_dwReturnVal = dw;
  // Reset before completing: the caller may send the next command as soon as it wakes.
  m_EventSend.Reset();
  m_EventComplete.Set();
}
