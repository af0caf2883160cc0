// Minimal filters and pins for graph manager tests that need no streaming: they connect by
// offering and accepting media types, record the calls the graph makes into a shared log, and
// can notify events to the graph.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/strmbase/mtype.h"
#include "platform/strmbase/strmif.h"

namespace fakes {

// A PCM audio type with a WAVEFORMATEX.
CMediaType AudioType(DWORD rate, WORD channels, WORD bits);

class CallLog {
 public:
  void Add(std::string s) {
    std::lock_guard l(m_lock);
    m_entries.push_back(std::move(s));
  }
  std::vector<std::string> Entries() {
    std::lock_guard l(m_lock);
    return m_entries;
  }
  // Entries that end with suffix, in order (for example every ":Pause").
  std::vector<std::string> EndingWith(const std::string& suffix);
  void Clear() {
    std::lock_guard l(m_lock);
    m_entries.clear();
  }

 private:
  std::mutex m_lock;
  std::vector<std::string> m_entries;
};

class FakeFilter;

class FakePin final : public IPin {
 public:
  FakePin(FakeFilter* owner, PIN_DIRECTION dir, std::wstring name);

  // Types offered by EnumMediaTypes, and which types QueryAccept/ReceiveConnection take (all
  // offered types by default; set accept to change that).
  std::vector<CMediaType> offered;
  std::function<bool(const AM_MEDIA_TYPE&)> accept;
  // Called after the pin became connected (either side); a failure undoes the connection.
  std::function<HRESULT(FakePin*)> onConnected;
  // Connection type (valid while connected).
  CMediaType mt;
  IPin* Peer() const { return m_peer.Get(); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pPin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
  STDMETHODIMP QueryId(LPWSTR* Id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
  STDMETHODIMP EndOfStream() override { return S_OK; }
  STDMETHODIMP BeginFlush() override { return S_OK; }
  STDMETHODIMP EndFlush() override { return S_OK; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

 private:
  bool Accepts(const AM_MEDIA_TYPE& mt) const;
  FakeFilter* m_owner;
  PIN_DIRECTION m_dir;
  std::wstring m_name;
  ComPtr<IPin> m_peer;
};

class FakeFilter final : public IBaseFilter {
 public:
  // Created with one reference, owned by the returned pointer.
  static ComPtr<FakeFilter> Create(std::string label, std::shared_ptr<CallLog> log = nullptr);

  FakePin* AddPin(PIN_DIRECTION dir, std::wstring name, std::vector<CMediaType> offered = {});
  FakePin* Pin(size_t i) { return m_pins[i].get(); }
  const std::string& Label() const { return m_label; }
  IFilterGraph* Graph() const { return m_graph; }
  const std::wstring& JoinedName() const { return m_joinedName; }
  int JoinCount() const { return m_joins; }
  REFERENCE_TIME RunStart() const { return m_runStart; }
  IReferenceClock* Clock() const { return m_clock.Get(); }
  // The current reference count (for tests that check the graph let go).
  ULONG RefCount() const { return m_ref; }
  // Sends an event to the graph the filter belongs to; param2 of EC_COMPLETE is this filter.
  HRESULT NotifyGraph(LONG code, LONG_PTR p1, LONG_PTR p2);
  HRESULT pauseResult = S_OK;
  CLSID clsid = GUID_NULL;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_ref; }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetClassID(CLSID* pClassID) override {
    *pClassID = clsid;
    return S_OK;
  }
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;
  STDMETHODIMP GetState(DWORD, FILTER_STATE* State) override {
    *State = m_state;
    return S_OK;
  }
  STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override {
    m_clock = ComPtr<IReferenceClock>(pClock);
    return S_OK;
  }
  STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override {
    *pClock = m_clock.Get();
    if (*pClock) (*pClock)->AddRef();
    return S_OK;
  }
  STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override {
    *pVendorInfo = nullptr;
    return E_NOTIMPL;
  }

 private:
  FakeFilter(std::string label, std::shared_ptr<CallLog> log);
  ~FakeFilter() = default;
  std::atomic<ULONG> m_ref{1};
  std::string m_label;
  std::shared_ptr<CallLog> m_log;
  std::vector<std::unique_ptr<FakePin>> m_pins;
  IFilterGraph* m_graph = nullptr;  // not referenced, as filters do
  std::wstring m_joinedName;
  int m_joins = 0;
  FILTER_STATE m_state = State_Stopped;
  REFERENCE_TIME m_runStart = 0;
  ComPtr<IReferenceClock> m_clock;
  friend class FakePin;
};

// Connects out -> in through the graph's ConnectDirect with no type.
HRESULT Link(IFilterGraph* graph, FakePin* out, FakePin* in);

}  // namespace fakes
