#include "support_fakes.h"

#include <cstring>

#include "platform/com/runtime.h"

namespace fakes {

CMediaType AudioType(DWORD rate, WORD channels, WORD bits) {
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = WAVE_FORMAT_PCM;
  wfx.nChannels = channels;
  wfx.nSamplesPerSec = rate;
  wfx.wBitsPerSample = bits;
  wfx.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  wfx.nAvgBytesPerSec = rate * wfx.nBlockAlign;
  CMediaType mt;
  CreateAudioMediaType(&wfx, &mt, TRUE);
  return mt;
}

std::vector<std::string> CallLog::EndingWith(const std::string& suffix) {
  std::lock_guard l(m_lock);
  std::vector<std::string> out;
  for (const std::string& e : m_entries)
    if (e.size() >= suffix.size() && e.compare(e.size() - suffix.size(), suffix.size(), suffix) == 0)
      out.push_back(e);
  return out;
}

namespace {

class TypeEnum final : public IEnumMediaTypes {
 public:
  explicit TypeEnum(std::vector<CMediaType> types) : m_types(std::move(types)) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_ref; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG c = --m_ref;
    if (!c) delete this;
    return c;
  }
  STDMETHODIMP Next(ULONG n, AM_MEDIA_TYPE** out, ULONG* fetched) override {
    ULONG got = 0;
    while (got < n && m_pos < m_types.size()) out[got++] = CreateMediaType(&m_types[m_pos++]);
    if (fetched) *fetched = got;
    return got == n ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG n) override {
    m_pos += n;
    return m_pos <= m_types.size() ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumMediaTypes** out) override {
    *out = new TypeEnum(m_types);
    return S_OK;
  }

 private:
  ~TypeEnum() = default;
  std::atomic<ULONG> m_ref{1};
  std::vector<CMediaType> m_types;
  size_t m_pos = 0;
};

class PinEnum final : public IEnumPins {
 public:
  explicit PinEnum(std::vector<IPin*> pins) {
    for (IPin* p : pins) m_pins.emplace_back(p);
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IEnumPins) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_ref; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG c = --m_ref;
    if (!c) delete this;
    return c;
  }
  STDMETHODIMP Next(ULONG n, IPin** out, ULONG* fetched) override {
    ULONG got = 0;
    while (got < n && m_pos < m_pins.size()) {
      out[got] = m_pins[m_pos++].Get();
      out[got++]->AddRef();
    }
    if (fetched) *fetched = got;
    return got == n ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG n) override {
    m_pos += n;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumPins**) override { return E_NOTIMPL; }

 private:
  ~PinEnum() = default;
  std::atomic<ULONG> m_ref{1};
  std::vector<ComPtr<IPin>> m_pins;
  size_t m_pos = 0;
};

}  // namespace

// ---- FakePin ----

FakePin::FakePin(FakeFilter* owner, PIN_DIRECTION dir, std::wstring name)
    : m_owner(owner), m_dir(dir), m_name(std::move(name)) {}

STDMETHODIMP FakePin::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IPin) {
    *ppv = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) FakePin::AddRef() { return m_owner->AddRef(); }
STDMETHODIMP_(ULONG) FakePin::Release() { return m_owner->Release(); }

bool FakePin::Accepts(const AM_MEDIA_TYPE& t) const {
  if (accept) return accept(t);
  for (const CMediaType& o : offered)
    if (CMediaType(t) == o) return true;
  return false;
}

STDMETHODIMP FakePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
  if (!pReceivePin) return E_POINTER;
  if (m_peer) return VFW_E_ALREADY_CONNECTED;
  std::vector<CMediaType> tries;
  if (pmt) {
    tries.emplace_back(*pmt);
  } else {
    ComPtr<IEnumMediaTypes> e;
    if (SUCCEEDED(pReceivePin->EnumMediaTypes(&e)) && e) {
      AM_MEDIA_TYPE* t = nullptr;
      ULONG got = 0;
      while (e->Next(1, &t, &got) == S_OK && got == 1) {
        tries.emplace_back(*t);
        DeleteMediaType(t);
      }
    }
    for (const CMediaType& o : offered) tries.push_back(o);
  }
  for (const CMediaType& t : tries) {
    if (!Accepts(t)) continue;
    if (pReceivePin->ReceiveConnection(this, &t) != S_OK) continue;
    m_peer = ComPtr<IPin>(pReceivePin);
    mt = t;
    m_owner->m_log->Add(m_owner->m_label + ":connected");
    if (onConnected) {
      HRESULT hr = onConnected(this);
      if (FAILED(hr)) {
        pReceivePin->Disconnect();
        Disconnect();
        return hr;
      }
    }
    return S_OK;
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

STDMETHODIMP FakePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
  if (!pConnector || !pmt) return E_POINTER;
  if (m_peer) return VFW_E_ALREADY_CONNECTED;
  if (!Accepts(*pmt)) return VFW_E_TYPE_NOT_ACCEPTED;
  m_peer = ComPtr<IPin>(pConnector);
  mt = *pmt;
  if (onConnected) {
    HRESULT hr = onConnected(this);
    if (FAILED(hr)) {
      m_peer = nullptr;
      return hr;
    }
  }
  return S_OK;
}

STDMETHODIMP FakePin::Disconnect() {
  if (!m_peer) return S_FALSE;
  m_peer = nullptr;
  return S_OK;
}

STDMETHODIMP FakePin::ConnectedTo(IPin** pPin) {
  if (!pPin) return E_POINTER;
  *pPin = m_peer.Get();
  if (!*pPin) return VFW_E_NOT_CONNECTED;
  (*pPin)->AddRef();
  return S_OK;
}

STDMETHODIMP FakePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  *pmt = {};
  if (!m_peer) return VFW_E_NOT_CONNECTED;
  return CopyMediaType(pmt, &mt);
}

STDMETHODIMP FakePin::QueryPinInfo(PIN_INFO* pInfo) {
  pInfo->pFilter = m_owner;
  m_owner->AddRef();
  pInfo->dir = m_dir;
  std::wcsncpy(pInfo->achName, m_name.c_str(), MAX_PIN_NAME - 1);
  pInfo->achName[MAX_PIN_NAME - 1] = 0;
  return S_OK;
}

STDMETHODIMP FakePin::QueryDirection(PIN_DIRECTION* pPinDir) {
  *pPinDir = m_dir;
  return S_OK;
}

STDMETHODIMP FakePin::QueryId(LPWSTR* Id) {
  size_t bytes = (m_name.size() + 1) * sizeof(wchar_t);
  *Id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  std::memcpy(*Id, m_name.c_str(), bytes);
  return S_OK;
}

STDMETHODIMP FakePin::QueryAccept(const AM_MEDIA_TYPE* pmt) { return pmt && Accepts(*pmt) ? S_OK : S_FALSE; }

STDMETHODIMP FakePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  *ppEnum = new TypeEnum(offered);
  return S_OK;
}

STDMETHODIMP FakePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

// ---- FakeFilter ----

FakeFilter::FakeFilter(std::string label, std::shared_ptr<CallLog> log)
    : m_label(std::move(label)), m_log(log ? std::move(log) : std::make_shared<CallLog>()) {}

ComPtr<FakeFilter> FakeFilter::Create(std::string label, std::shared_ptr<CallLog> log) {
  return ComPtr<FakeFilter>::Attach(new FakeFilter(std::move(label), std::move(log)));
}

FakePin* FakeFilter::AddPin(PIN_DIRECTION dir, std::wstring name, std::vector<CMediaType> offered) {
  m_pins.push_back(std::make_unique<FakePin>(this, dir, std::move(name)));
  m_pins.back()->offered = std::move(offered);
  return m_pins.back().get();
}

STDMETHODIMP FakeFilter::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
    *ppv = static_cast<IBaseFilter*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeFilter::Release() {
  ULONG c = --m_ref;
  if (!c) delete this;
  return c;
}

STDMETHODIMP FakeFilter::Stop() {
  m_log->Add(m_label + ":Stop");
  m_state = State_Stopped;
  return S_OK;
}
STDMETHODIMP FakeFilter::Pause() {
  m_log->Add(m_label + ":Pause");
  if (FAILED(pauseResult)) return pauseResult;
  m_state = State_Paused;
  return S_OK;
}
STDMETHODIMP FakeFilter::Run(REFERENCE_TIME tStart) {
  m_log->Add(m_label + ":Run");
  m_runStart = tStart;
  m_state = State_Running;
  return S_OK;
}

STDMETHODIMP FakeFilter::EnumPins(IEnumPins** ppEnum) {
  std::vector<IPin*> pins;
  for (auto& p : m_pins) pins.push_back(p.get());
  *ppEnum = new PinEnum(pins);
  return S_OK;
}

STDMETHODIMP FakeFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
  *ppPin = nullptr;
  return Id ? VFW_E_NOT_FOUND : E_POINTER;
}

STDMETHODIMP FakeFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
  std::wcsncpy(pInfo->achName, m_joinedName.c_str(), MAX_FILTER_NAME - 1);
  pInfo->achName[MAX_FILTER_NAME - 1] = 0;
  pInfo->pGraph = m_graph;
  if (m_graph) m_graph->AddRef();
  return S_OK;
}

STDMETHODIMP FakeFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
  ++m_joins;
  m_graph = pGraph;
  m_joinedName = pName ? pName : L"";
  m_log->Add(m_label + (pGraph ? ":Join" : ":Leave"));
  return S_OK;
}

HRESULT FakeFilter::NotifyGraph(LONG code, LONG_PTR p1, LONG_PTR p2) {
  if (!m_graph) return E_NOTIMPL;
  ComPtr<IMediaEventSink> sink;
  HRESULT hr = m_graph->QueryInterface(IID_IMediaEventSink, sink.AsOut());
  if (FAILED(hr)) return hr;
  return sink->Notify(code, p1, p2);
}

HRESULT Link(IFilterGraph* graph, FakePin* out, FakePin* in) { return graph->ConnectDirect(out, in, nullptr); }

}  // namespace fakes
