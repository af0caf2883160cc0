// Version, status text and last-error text of a filter, with notifications to the graph's event
// sink when a text changes.
//
// Threads: no lock. SetLastErrorText may run on a streaming thread while the host reads the text.
#pragma once

#include <string>

#include "framework/guids.h"
#include "platform/strmbase/strmif.h"

// Event codes sent to the sink: the last error text changed / the status text changed. Both event
// parameters carry the notification id.
constexpr LONG EC_PLENOR_LAST_ERROR = EC_USER + 13;  // 0x800D
constexpr LONG EC_PLENOR_STATUS = EC_USER + 14;      // 0x800E

struct IStatusInterface : IUnknown {
  static constexpr const IID& iid = IID_IStatusInterface;

  // "1.6.4". HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) (nothing written) when the text and its
  // terminator do not fit in size bytes.
  STDMETHOD(GetVersion)(char* buffer, int size) PURE;
  // E_FAIL (nothing written) when the text and its terminator do not fit.
  STDMETHOD(GetStatusText)(char* buffer, int size) PURE;
  // E_FAIL (old text kept, no notification) for texts longer than 512 characters; otherwise stores
  // the text and notifies EC_USER + 14 when a sink is set.
  STDMETHOD(SetStatusText)(const char* text) PURE;
  // As GetVersion, for the last error text.
  STDMETHOD(GetLastErrorText)(char* buffer, int size) PURE;
  // Stores the text (any length); notifies EC_USER + 13 when notify is true and a sink is set.
  STDMETHOD(SetLastErrorText)(const char* text, bool notify) PURE;
  // The sink is borrowed (no reference); null switches notifications off.
  STDMETHOD(SetEventSink)(IMediaEventSink* sink) PURE;
  STDMETHOD(SetNotificationId)(int id) PURE;
  STDMETHOD(GetNotificationId)(int* id) PURE;

 protected:
  ~IStatusInterface() = default;
};

// The suite's version (identical in every deliverable) and the status text.
class VersionInfo {
 public:
  static constexpr int kMajor = 1;
  static constexpr int kMinor = 6;
  static constexpr int kBuild = 4;
  // "major.minor.build".
  static std::string VersionText();

 protected:
  std::string m_sStatusText;
};

// The status object mixed into filters. Supplies IStatusInterface as a separate subobject whose
// IUnknown forwards to the filter's controlling IUnknown (one identity, one reference count).
class CStatusInterface : public IStatusInterface, public VersionInfo {
 public:
  static constexpr size_t kMaxStatusText = 512;

  // pOwner: the filter's controlling IUnknown; not reference-counted.
  explicit CStatusInterface(IUnknown* pOwner);
  CStatusInterface(const CStatusInterface&) = delete;
  CStatusInterface& operator=(const CStatusInterface&) = delete;
  virtual ~CStatusInterface();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetVersion(char* buffer, int size) override;
  STDMETHODIMP GetStatusText(char* buffer, int size) override;
  STDMETHODIMP SetStatusText(const char* text) override;
  STDMETHODIMP GetLastErrorText(char* buffer, int size) override;
  STDMETHODIMP SetLastErrorText(const char* text, bool notify) override;
  STDMETHODIMP SetEventSink(IMediaEventSink* sink) override;
  STDMETHODIMP SetNotificationId(int id) override;
  STDMETHODIMP GetNotificationId(int* id) override;

 protected:
  std::string m_sLastError;
  IMediaEventSink* m_pEventSink = nullptr;  // borrowed
  int m_nNotificationId = -1;

 private:
  void Notify(LONG code);

  IUnknown* const m_pOwner;
};
