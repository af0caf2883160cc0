#include "framework/status.h"

#include <cstring>
#include <new>

#include "framework/settings.h"

std::string VersionInfo::VersionText() {
  return std::to_string(kMajor) + "." + std::to_string(kMinor) + "." + std::to_string(kBuild);
}

CStatusInterface::CStatusInterface(IUnknown* pOwner) : m_pOwner(pOwner) {}

CStatusInterface::~CStatusInterface() = default;

STDMETHODIMP CStatusInterface::QueryInterface(REFIID riid, void** ppv) { return m_pOwner->QueryInterface(riid, ppv); }
STDMETHODIMP_(ULONG) CStatusInterface::AddRef() { return m_pOwner->AddRef(); }
STDMETHODIMP_(ULONG) CStatusInterface::Release() { return m_pOwner->Release(); }

void CStatusInterface::Notify(LONG code) {
  if (m_pEventSink) {
    auto id = static_cast<LONG_PTR>(m_nNotificationId);
    m_pEventSink->Notify(code, id, id);
  }
}

STDMETHODIMP CStatusInterface::GetVersion(char* buffer, int size) {
  if (!buffer) return E_POINTER;
  try {
    return CopyTextToBuffer(VersionText(), buffer, size) ? S_OK : HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP CStatusInterface::GetStatusText(char* buffer, int size) {
  if (!buffer) return E_POINTER;
  return CopyTextToBuffer(m_sStatusText, buffer, size) ? S_OK : E_FAIL;
}

STDMETHODIMP CStatusInterface::SetStatusText(const char* text) {
  if (!text) return E_POINTER;
  if (std::strlen(text) > kMaxStatusText) return E_FAIL;
  try {
    m_sStatusText = text;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  Notify(EC_PLENOR_STATUS);
  return S_OK;
}

STDMETHODIMP CStatusInterface::GetLastErrorText(char* buffer, int size) {
  if (!buffer) return E_POINTER;
  return CopyTextToBuffer(m_sLastError, buffer, size) ? S_OK : HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
}

STDMETHODIMP CStatusInterface::SetLastErrorText(const char* text, bool notify) {
  if (!text) return E_POINTER;
  try {
    m_sLastError = text;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (notify) Notify(EC_PLENOR_LAST_ERROR);
  return S_OK;
}

STDMETHODIMP CStatusInterface::SetEventSink(IMediaEventSink* sink) {
  m_pEventSink = sink;
  return S_OK;
}

STDMETHODIMP CStatusInterface::SetNotificationId(int id) {
  m_nNotificationId = id;
  return S_OK;
}

STDMETHODIMP CStatusInterface::GetNotificationId(int* id) {
  if (!id) return E_POINTER;
  *id = m_nNotificationId;
  return S_OK;
}
