#include "platform/graph/filtergraph.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"
#include "platform/graph/pinutil.h"
#include "platform/graph/refclock.h"
#include "platform/graph/topology.h"

namespace plenor::graph {

namespace {

// Filters start running this far after the clock time at which Run was called, so that every
// filter has its Run before the first sample is due.
constexpr REFERENCE_TIME kRunOffset = 100'000;  // 10 ms
// Intermediate filters that Connect chains at most between two pins.
constexpr int kMaxIntermediateDepth = 2;
// Filters that Render adds at most along one path.
constexpr int kMaxRenderDepth = 4;
// Nested reconnections allowed before the graph refuses (filters asking back and forth).
constexpr size_t kMaxReconnectNesting = 8;

HRESULT GetGraphClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

const bool g_registered = [] {
  CoRegisterBuiltinClass(CLSID_FilterGraph, GetGraphClassObject);
  return true;
}();

class GraphFactory final : public ComObject<GraphFactory, IClassFactory> {
 public:
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateComObject<CFilterGraph>(riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

HRESULT GetGraphClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_FilterGraph) return CLASS_E_CLASSNOTAVAILABLE;
  return CreateComObject<GraphFactory>(riid, ppv);
}

// Enumerates a snapshot of the graph's filters taken when the enumerator was made.
class FilterEnum final : public ComObject<FilterEnum, IEnumFilters> {
 public:
  FilterEnum(std::vector<ComPtr<IBaseFilter>> filters, size_t pos) : m_filters(std::move(filters)), m_pos(pos) {}
  STDMETHODIMP Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) override {
    if (!ppFilter) return E_POINTER;
    if (cFilters != 1 && !pcFetched) return E_INVALIDARG;
    ULONG n = 0;
    while (n < cFilters && m_pos < m_filters.size()) {
      ppFilter[n] = m_filters[m_pos++].Get();
      ppFilter[n++]->AddRef();
    }
    if (pcFetched) *pcFetched = n;
    return n == cFilters ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG cFilters) override {
    size_t left = m_filters.size() - m_pos;
    if (cFilters > left) {
      m_pos = m_filters.size();
      return S_FALSE;
    }
    m_pos += cFilters;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumFilters** ppEnum) override {
    return CreateComObject<FilterEnum>(IID_IEnumFilters, reinterpret_cast<void**>(ppEnum), m_filters, m_pos);
  }

 private:
  std::vector<ComPtr<IBaseFilter>> m_filters;
  size_t m_pos;
};

HRESULT ToTaskString(const std::string& s, LPSTR* out) {
  if (!out) return E_POINTER;
  *out = static_cast<LPSTR>(CoTaskMemAlloc(s.size() + 1));
  if (!*out) return E_OUTOFMEMORY;
  std::memcpy(*out, s.c_str(), s.size() + 1);
  return S_OK;
}

bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype) return false;
  ULONG sa = a.pbFormat ? a.cbFormat : 0, sb = b.pbFormat ? b.cbFormat : 0;
  return sa == sb && (sa == 0 || std::memcmp(a.pbFormat, b.pbFormat, sa) == 0);
}

CLSID FilterClass(IBaseFilter* f) {
  CLSID c = CLSID_NULL;
  if (f && FAILED(f->GetClassID(&c))) c = CLSID_NULL;
  return c;
}

}  // namespace

// ---- Construction ----

CFilterGraph::CFilterGraph() { (void)g_registered; }

CFilterGraph::~CFilterGraph() {
  CAutoLock lock(&m_csGraph);
  StopLocked();
  // Connections first, so that no filter is left pointing at a pin of a released one.
  for (const Entry& e : m_filters) DisconnectFilter(e.filter.Get());
  while (!m_filters.empty()) RemoveFilterLocked(m_filters.size() - 1);
  m_clock = nullptr;
}

void* CFilterGraph::QueryExtra(REFIID riid) {
  if (riid == IID_IFilterGraph) return static_cast<IFilterGraph*>(static_cast<IGraphBuilder*>(this));
  if (riid == IID_IMediaEvent) return static_cast<IMediaEvent*>(static_cast<IMediaEventEx*>(this));
  if (riid == IID_IPersist) return static_cast<IPersist*>(static_cast<IMediaFilter*>(this));
  return nullptr;
}

// ---- Lookup helpers (graph lock held) ----

int CFilterGraph::FindEntry(IUnknown* filter) const {
  ComPtr<IUnknown> id = Identity(filter);
  if (!id) return -1;
  for (size_t i = 0; i < m_filters.size(); ++i)
    if (m_filters[i].id == id) return static_cast<int>(i);
  return -1;
}

bool CFilterGraph::PinInGraph(IPin* pin) const {
  ComPtr<IBaseFilter> f = PinFilter(pin);
  return f && FindEntry(f.Get()) >= 0;
}

CFilterGraph::Topology CFilterGraph::ComputeTopology() const {
  std::vector<std::pair<size_t, size_t>> edges;
  std::vector<bool> hasInput(m_filters.size(), false), hasOutput(m_filters.size(), false);
  for (size_t i = 0; i < m_filters.size(); ++i) {
    for (const ComPtr<IPin>& pin : FilterPins(m_filters[i].filter.Get())) {
      ComPtr<IPin> peer = ConnectedPeer(pin.Get());
      if (!peer) continue;
      PIN_DIRECTION d;
      if (!PinDirection(pin.Get(), &d)) continue;
      if (d == PINDIR_INPUT) {
        hasInput[i] = true;
        continue;
      }
      hasOutput[i] = true;
      ComPtr<IBaseFilter> down = PinFilter(peer.Get());
      int j = down ? FindEntry(down.Get()) : -1;
      if (j >= 0) edges.emplace_back(i, static_cast<size_t>(j));
    }
  }
  Topology t;
  t.downstreamFirst = UpstreamFirstOrder(m_filters.size(), edges);
  std::reverse(t.downstreamFirst.begin(), t.downstreamFirst.end());
  for (size_t i = 0; i < m_filters.size(); ++i)
    if (hasInput[i] && !hasOutput[i]) t.renderers.push_back(i);
  return t;
}

std::wstring CFilterGraph::UniqueName(LPCWSTR requested, bool* renamed) const {
  std::wstring base = requested && *requested ? requested : L"Filter";
  constexpr size_t kMax = MAX_FILTER_NAME - 1;
  if (base.size() > kMax) base.resize(kMax);
  auto taken = [&](const std::wstring& n) {
    return std::any_of(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.name == n; });
  };
  *renamed = false;
  if (!taken(base)) return base;
  // "Name 0001", "Name 0002", ...: the suffix always fits, the base is shortened if need be.
  std::wstring stem = base.substr(0, std::min(base.size(), kMax - 5));
  for (int n = 1; n <= 9999; ++n) {
    wchar_t suffix[8];
    std::swprintf(suffix, 8, L" %04d", n);
    std::wstring candidate = stem + suffix;
    if (!taken(candidate)) {
      *renamed = true;
      return candidate;
    }
  }
  return {};
}

// ---- IFilterGraph ----

STDMETHODIMP CFilterGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
  if (!pFilter) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    if (FindEntry(pFilter) >= 0) return E_INVALIDARG;  // already in this graph
    bool renamed = false;
    std::wstring name = UniqueName(pName, &renamed);
    if (name.empty()) return VFW_E_DUPLICATE_NAME;
    m_filters.push_back({ComPtr<IBaseFilter>(pFilter), Identity(pFilter), name});
    HRESULT hr = pFilter->JoinFilterGraph(AsGraph(), name.c_str());
    if (FAILED(hr)) {
      m_filters.pop_back();
      return hr;
    }
    if (m_clockChosen) pFilter->SetSyncSource(m_clock.Get());
    return renamed ? VFW_S_DUPLICATE_NAME : S_OK;
  });
}

void CFilterGraph::DisconnectFilter(IBaseFilter* filter) {
  for (const ComPtr<IPin>& pin : FilterPins(filter)) {
    if (ComPtr<IPin> peer = ConnectedPeer(pin.Get())) {
      peer->Disconnect();
      pin->Disconnect();
    }
  }
}

HRESULT CFilterGraph::RemoveFilterLocked(size_t index) {
  ComPtr<IBaseFilter> f = m_filters[index].filter;
  if (m_state != State_Stopped) f->Stop();
  DisconnectFilter(f.Get());
  if (m_clock && Identity(m_clock.Get()) == m_filters[index].id) {
    // The filter that gave the clock leaves: the graph falls back to choosing again.
    SetClockLocked(nullptr);
    m_clockChosen = false;
  }
  f->SetSyncSource(nullptr);
  f->JoinFilterGraph(nullptr, nullptr);
  m_filters.erase(m_filters.begin() + static_cast<std::ptrdiff_t>(index));
  return S_OK;
}

STDMETHODIMP CFilterGraph::RemoveFilter(IBaseFilter* pFilter) {
  if (!pFilter) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    int i = FindEntry(pFilter);
    if (i < 0) return VFW_E_NOT_FOUND;
    return RemoveFilterLocked(static_cast<size_t>(i));
  });
}

STDMETHODIMP CFilterGraph::EnumFilters(IEnumFilters** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  return Guarded([&]() -> HRESULT {
    std::vector<ComPtr<IBaseFilter>> list;
    {
      CAutoLock lock(&m_csGraph);
      for (const Entry& e : m_filters) list.push_back(e.filter);
    }
    return CreateComObject<FilterEnum>(IID_IEnumFilters, reinterpret_cast<void**>(ppEnum), std::move(list), 0);
  });
}

STDMETHODIMP CFilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
  if (!ppFilter) return E_POINTER;
  *ppFilter = nullptr;
  if (!pName) return E_POINTER;
  CAutoLock lock(&m_csGraph);
  for (const Entry& e : m_filters) {
    if (e.name == pName) {
      *ppFilter = e.filter.Get();
      (*ppFilter)->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

void CFilterGraph::RecordFailure(IPin* out, IPin* in, HRESULT hr) {
  try {
    ConnectionReport r = plenor::graph::DiagnoseConnection(out, in);
    r.connectResult = hr;
    m_lastFailure = std::move(r);
  } catch (const std::bad_alloc&) {
    m_lastFailure.reset();
  }
}

HRESULT CFilterGraph::ConnectDirectLocked(IPin* out, IPin* in, const AM_MEDIA_TYPE* pmt) {
  if (!out || !in) return E_POINTER;
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!PinInGraph(out) || !PinInGraph(in)) return VFW_E_NOT_IN_GRAPH;
  PIN_DIRECTION d;
  if (!PinDirection(out, &d) || d != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  if (!PinDirection(in, &d) || d != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  ComPtr<IBaseFilter> fo = PinFilter(out), fi = PinFilter(in);
  if (Identity(fo.Get()) == Identity(fi.Get())) return VFW_E_CIRCULAR_GRAPH;
  ++m_connectDepth;
  HRESULT hr = out->Connect(in, pmt);
  --m_connectDepth;
  return hr;
}

STDMETHODIMP CFilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    HRESULT hr = ConnectDirectLocked(ppinOut, ppinIn, pmt);
    if (FAILED(hr) && m_connectDepth == 0 && ppinOut && ppinIn) RecordFailure(ppinOut, ppinIn, hr);
    return hr;
  });
}

// Tries the filters the mapper offers for the output pin's types, best merit first: each is
// created, added, given the output pin on one of its inputs, and then one of its outputs is
// connected to the input pin (directly, or through one more intermediate filter). A candidate
// that does not complete the chain is removed again.
HRESULT CFilterGraph::ConnectThroughMapper(IPin* out, IPin* in, int depth, bool* triedAny) {
  FilterMatchCriteria criteria;
  criteria.minMerit = MERIT_DO_NOT_USE + 1;
  criteria.inputNeeded = true;
  criteria.outputNeeded = true;
  HRESULT enumHr;
  for (const TaskMediaType& mt : OfferedTypes(out, &enumHr)) {
    RegisteredMediaType t{mt->majortype, mt->subtype};
    bool seen = std::any_of(criteria.inputTypes.begin(), criteria.inputTypes.end(), [&](const RegisteredMediaType& x) {
      return x.majorType == t.majorType && x.subType == t.subType;
    });
    if (!seen) criteria.inputTypes.push_back(t);
  }
  std::vector<RegisteredFilter> candidates;
  if (FAILED(MapperFindFilters(criteria, &candidates))) return VFW_E_CANNOT_CONNECT;

  ComPtr<IBaseFilter> fo = PinFilter(out), fi = PinFilter(in);
  CLSID endClasses[2] = {FilterClass(fo.Get()), FilterClass(fi.Get())};
  for (const RegisteredFilter& cand : candidates) {
    if (m_abort) return E_ABORT;
    if (cand.clsid == endClasses[0] || cand.clsid == endClasses[1]) continue;
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(cand.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut())) ||
        !filter)
      continue;
    if (FAILED(AddFilter(filter.Get(), cand.name.c_str()))) continue;
    *triedAny = true;
    bool done = false;
    for (const ComPtr<IPin>& candIn : FilterPins(filter.Get())) {
      PIN_DIRECTION d;
      if (!PinDirection(candIn.Get(), &d) || d != PINDIR_INPUT) continue;
      if (FAILED(ConnectDirectLocked(out, candIn.Get(), nullptr))) continue;
      for (const ComPtr<IPin>& candOut : FilterPins(filter.Get())) {
        if (!PinDirection(candOut.Get(), &d) || d != PINDIR_OUTPUT || ConnectedPeer(candOut.Get())) continue;
        if (SUCCEEDED(ConnectDirectLocked(candOut.Get(), in, nullptr))) {
          done = true;
        } else if (depth + 1 < kMaxIntermediateDepth) {
          bool deeper = false;
          done = SUCCEEDED(ConnectThroughMapper(candOut.Get(), in, depth + 1, &deeper));
        }
        if (done) break;
      }
      if (done) break;
      // The input side worked but no output reached the target: undo it and give up on this one.
      out->Disconnect();
      candIn->Disconnect();
      break;
    }
    if (done) return S_OK;
    int i = FindEntry(filter.Get());
    if (i >= 0) RemoveFilterLocked(static_cast<size_t>(i));
  }
  return VFW_E_CANNOT_CONNECT;
}

STDMETHODIMP CFilterGraph::Connect(IPin* ppinOut, IPin* ppinIn) {
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    bool topLevel = m_connectDepth == 0;
    if (topLevel) m_abort = false;
    HRESULT direct = ConnectDirectLocked(ppinOut, ppinIn, nullptr);
    if (SUCCEEDED(direct)) return direct;
    // Wrong pins or state: no intermediate filter can help.
    if (direct == E_POINTER || direct == VFW_E_NOT_STOPPED || direct == VFW_E_NOT_IN_GRAPH ||
        direct == VFW_E_INVALID_DIRECTION || direct == VFW_E_ALREADY_CONNECTED || direct == VFW_E_CIRCULAR_GRAPH) {
      if (topLevel && ppinOut && ppinIn) RecordFailure(ppinOut, ppinIn, direct);
      return direct;
    }
    // The report explains the direct attempt; it is recorded before intermediates change things.
    std::optional<ConnectionReport> report;
    if (topLevel) {
      RecordFailure(ppinOut, ppinIn, direct);
      report = std::move(m_lastFailure);
    }
    ++m_connectDepth;
    bool triedAny = false;
    HRESULT hr = ConnectThroughMapper(ppinOut, ppinIn, 0, &triedAny);
    --m_connectDepth;
    if (SUCCEEDED(hr)) return S_OK;
    HRESULT result = hr == E_ABORT ? E_ABORT : triedAny ? VFW_E_CANNOT_CONNECT : direct;
    if (topLevel && report) {
      report->connectResult = result;
      m_lastFailure = std::move(report);
    }
    return result;
  });
}

STDMETHODIMP CFilterGraph::Disconnect(IPin* ppin) {
  if (!ppin) return E_POINTER;
  CAutoLock lock(&m_csGraph);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  return ppin->Disconnect();
}

// Re-makes the connection of a pin, synchronously (a pin may ask for it from inside its
// CompleteConnect, on the graph thread). Types are tried in this order: the types of the other
// connections of the filter that owns the pin (an in-place filter needs its two sides to carry
// one type), the connection's current type, then any type the two pins agree on.
STDMETHODIMP CFilterGraph::Reconnect(IPin* ppin) {
  if (!ppin) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
    ComPtr<IPin> peer = ConnectedPeer(ppin);
    if (!peer) return VFW_E_NOT_CONNECTED;
    PIN_DIRECTION d;
    if (!PinDirection(ppin, &d)) return E_FAIL;
    ComPtr<IPin> out = d == PINDIR_OUTPUT ? ComPtr<IPin>(ppin) : peer;
    ComPtr<IPin> in = d == PINDIR_OUTPUT ? peer : ComPtr<IPin>(ppin);
    std::pair<IUnknown*, IUnknown*> key{Identity(out.Get()).Get(), Identity(in.Get()).Get()};
    // Already being re-made further up this thread's stack: that call finishes the job.
    if (std::find(m_reconnecting.begin(), m_reconnecting.end(), key) != m_reconnecting.end()) return S_OK;
    if (m_reconnecting.size() >= kMaxReconnectNesting) return VFW_E_CANNOT_CONNECT;

    HeldMediaType current;
    bool haveCurrent = SUCCEEDED(out->ConnectionMediaType(&current));
    std::vector<std::unique_ptr<HeldMediaType>> neighbours;
    ComPtr<IBaseFilter> owner = PinFilter(ppin);
    ComPtr<IUnknown> selfId = Identity(ppin);
    for (const ComPtr<IPin>& other : FilterPins(owner.Get())) {
      if (Identity(other.Get()) == selfId || !ConnectedPeer(other.Get())) continue;
      auto mt = std::make_unique<HeldMediaType>();
      if (SUCCEEDED(other->ConnectionMediaType(&*mt))) neighbours.push_back(std::move(mt));
    }
    std::vector<const AM_MEDIA_TYPE*> order;
    auto add = [&](const AM_MEDIA_TYPE* mt) {
      for (const AM_MEDIA_TYPE* o : order)
        if (SameMediaType(*o, *mt)) return;
      order.push_back(mt);
    };
    for (const auto& n : neighbours) add(n->Get());
    if (haveCurrent) add(current.Get());

    m_reconnecting.push_back(key);
    out->Disconnect();
    in->Disconnect();
    HRESULT hr = VFW_E_CANNOT_CONNECT;
    for (const AM_MEDIA_TYPE* mt : order) {
      hr = ConnectDirectLocked(out.Get(), in.Get(), mt);
      if (SUCCEEDED(hr)) break;
    }
    if (FAILED(hr)) hr = ConnectDirectLocked(out.Get(), in.Get(), nullptr);
    m_reconnecting.erase(std::find(m_reconnecting.begin(), m_reconnecting.end(), key));
    return hr;
  });
}

STDMETHODIMP CFilterGraph::SetDefaultSyncSource() {
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    return ChooseDefaultClockLocked();
  });
}

// A renderer that offers a clock is preferred (it knows when its output is presented); any
// other filter's clock next; the system clock otherwise.
HRESULT CFilterGraph::ChooseDefaultClockLocked() {
  Topology t = ComputeTopology();
  ComPtr<IReferenceClock> clock;
  for (size_t i : t.downstreamFirst) {
    if (SUCCEEDED(m_filters[i].filter->QueryInterface(IID_IReferenceClock, clock.AsOut())) && clock) break;
    clock = nullptr;
  }
  if (!clock) {
    HRESULT hr = CreateComObject<CSystemClock>(IID_IReferenceClock, clock.AsOut());
    if (FAILED(hr)) return hr;
  }
  return SetClockLocked(clock.Get());
}

HRESULT CFilterGraph::SetClockLocked(IReferenceClock* clock) {
  m_clock = ComPtr<IReferenceClock>(clock);
  m_clockChosen = true;
  HRESULT result = S_OK;
  for (const Entry& e : m_filters) {
    HRESULT hr = e.filter->SetSyncSource(clock);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

// ---- Render ----

// Renders an output pin: an unconnected input of a filter already in the graph first, then a
// registered renderer for the pin's types, then a registered transform whose outputs are
// rendered in turn.
HRESULT CFilterGraph::RenderLocked(IPin* out, int depth) {
  if (m_abort) return E_ABORT;
  ComPtr<IBaseFilter> self = PinFilter(out);
  ComPtr<IUnknown> selfId = Identity(self.Get());
  for (size_t i = 0; i < m_filters.size(); ++i) {
    if (m_filters[i].id == selfId) continue;
    for (const ComPtr<IPin>& pin : FilterPins(m_filters[i].filter.Get())) {
      PIN_DIRECTION d;
      if (!PinDirection(pin.Get(), &d) || d != PINDIR_INPUT || ConnectedPeer(pin.Get())) continue;
      if (SUCCEEDED(ConnectDirectLocked(out, pin.Get(), nullptr))) return S_OK;
    }
  }
  if (depth >= kMaxRenderDepth) return VFW_E_CANNOT_RENDER;
  FilterMatchCriteria criteria;
  criteria.minMerit = MERIT_DO_NOT_USE + 1;
  criteria.inputNeeded = true;
  HRESULT enumHr;
  for (const TaskMediaType& mt : OfferedTypes(out, &enumHr))
    criteria.inputTypes.push_back({mt->majortype, mt->subtype});
  std::vector<RegisteredFilter> candidates;
  if (FAILED(MapperFindFilters(criteria, &candidates))) return VFW_E_CANNOT_RENDER;
  CLSID own = FilterClass(self.Get());
  for (const RegisteredFilter& cand : candidates) {
    if (m_abort) return E_ABORT;
    if (cand.clsid == own) continue;
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(cand.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut())) ||
        !filter)
      continue;
    if (FAILED(AddFilter(filter.Get(), cand.name.c_str()))) continue;
    bool connected = false, rendered = true;
    for (const ComPtr<IPin>& pin : FilterPins(filter.Get())) {
      PIN_DIRECTION d;
      if (!PinDirection(pin.Get(), &d) || d != PINDIR_INPUT) continue;
      if (SUCCEEDED(ConnectDirectLocked(out, pin.Get(), nullptr))) {
        connected = true;
        break;
      }
    }
    if (connected) {
      for (const ComPtr<IPin>& pin : FilterPins(filter.Get())) {
        PIN_DIRECTION d;
        if (!PinDirection(pin.Get(), &d) || d != PINDIR_OUTPUT || ConnectedPeer(pin.Get())) continue;
        if (FAILED(RenderLocked(pin.Get(), depth + 1))) rendered = false;
      }
      if (rendered) return S_OK;
    }
    int i = FindEntry(filter.Get());
    if (i >= 0) RemoveFilterLocked(static_cast<size_t>(i));
  }
  return VFW_E_CANNOT_RENDER;
}

STDMETHODIMP CFilterGraph::Render(IPin* ppinOut) {
  if (!ppinOut) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!PinInGraph(ppinOut)) return VFW_E_NOT_IN_GRAPH;
    PIN_DIRECTION d;
    if (!PinDirection(ppinOut, &d) || d != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (ConnectedPeer(ppinOut)) return VFW_E_ALREADY_CONNECTED;
    m_abort = false;
    return RenderLocked(ppinOut, 0);
  });
}

STDMETHODIMP CFilterGraph::RenderFile(LPCWSTR, LPCWSTR) { return E_NOTIMPL; }
STDMETHODIMP CFilterGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** ppFilter) {
  if (ppFilter) *ppFilter = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP CFilterGraph::SetLogFile(DWORD_PTR) { return E_NOTIMPL; }

// Any thread: the running Connect or Render gives up at its next candidate.
STDMETHODIMP CFilterGraph::Abort() {
  m_abort = true;
  return S_OK;
}
STDMETHODIMP CFilterGraph::ShouldOperationContinue() { return m_abort ? S_FALSE : S_OK; }

// ---- State changes ----

REFERENCE_TIME CFilterGraph::ClockNow() const {
  REFERENCE_TIME t = 0;
  if (!m_clock || FAILED(m_clock->GetTime(&t))) t = CSystemClock::Now();
  return t;
}

REFERENCE_TIME CFilterGraph::StreamTimeLocked() const {
  if (m_state == State_Running) return std::max<REFERENCE_TIME>(0, ClockNow() - m_tStart);
  return m_pausedAt;
}

// Filters change state downstream first: a renderer is ready before anything is delivered to
// it, and when stopping, a filter upstream finds its downstream neighbour already refusing
// samples while its own Stop waits for the Receive in progress.
HRESULT CFilterGraph::PauseLocked() {
  if (m_state == State_Paused) return S_OK;
  Topology t = ComputeTopology();
  if (m_state == State_Stopped) {
    if (!m_clockChosen) {
      HRESULT hr = ChooseDefaultClockLocked();
      if (FAILED(hr)) return hr;
    }
    std::vector<LONG_PTR> renderers;
    for (size_t i : t.renderers) renderers.push_back(reinterpret_cast<LONG_PTR>(m_filters[i].filter.Get()));
    m_events.BeginRun(std::move(renderers));
  } else {
    m_pausedAt = StreamTimeLocked();
    m_events.Paused();
  }
  HRESULT result = S_OK;
  for (size_t i : t.downstreamFirst) {
    HRESULT hr = m_filters[i].filter->Pause();
    if (FAILED(hr)) {
      StopLocked();
      return hr;
    }
    if (hr != S_OK) result = hr;
  }
  m_state = State_Paused;
  return result;
}

HRESULT CFilterGraph::RunLocked(REFERENCE_TIME tStart) {
  if (m_state == State_Running) return S_OK;
  if (m_state == State_Stopped) {
    HRESULT hr = PauseLocked();
    if (FAILED(hr)) return hr;
  }
  // Stream time continues from where the last pause left it.
  if (tStart == 0) tStart = ClockNow() + kRunOffset - m_pausedAt;
  m_tStart = tStart;
  Topology t = ComputeTopology();
  for (size_t i : t.downstreamFirst) {
    HRESULT hr = m_filters[i].filter->Run(tStart);
    if (FAILED(hr)) {
      StopLocked();
      return hr;
    }
  }
  m_state = State_Running;
  m_events.Running();
  return S_OK;
}

HRESULT CFilterGraph::StopLocked() {
  Topology t = ComputeTopology();
  HRESULT result = S_OK;
  for (size_t i : t.downstreamFirst) {
    HRESULT hr = m_filters[i].filter->Stop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  m_state = State_Stopped;
  m_pausedAt = 0;
  // Stopped sources rewind: the next run starts from the beginning again.
  m_positionBase = 0;
  m_events.EndRun();
  return result;
}

STDMETHODIMP CFilterGraph::Run() {
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    return RunLocked(0);
  });
}

STDMETHODIMP CFilterGraph::Run(REFERENCE_TIME tStart) {
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    return RunLocked(tStart);
  });
}

STDMETHODIMP CFilterGraph::Pause() {
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    return PauseLocked();
  });
}

STDMETHODIMP CFilterGraph::Stop() {
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    return StopLocked();
  });
}

STDMETHODIMP CFilterGraph::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) {
  if (!State) return E_POINTER;
  // The filters are asked without the graph lock: a renderer may wait for its first sample, and
  // another thread must still be able to stop the graph meanwhile.
  std::vector<ComPtr<IBaseFilter>> filters;
  {
    CAutoLock lock(&m_csGraph);
    *State = m_state;
    try {
      for (const Entry& e : m_filters) filters.push_back(e.filter);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT result = S_OK;
  for (const ComPtr<IBaseFilter>& f : filters) {
    FILTER_STATE fs;
    HRESULT hr = f->GetState(dwMilliSecsTimeout, &fs);
    if (hr == VFW_S_STATE_INTERMEDIATE) return hr;
    if (FAILED(hr)) return hr;
    if (hr != S_OK) result = hr;  // VFW_S_CANT_CUE
  }
  return result;
}

STDMETHODIMP CFilterGraph::GetState(LONG msTimeout, OAFilterState* pfs) {
  if (!pfs) return E_POINTER;
  FILTER_STATE fs = State_Stopped;
  HRESULT hr = GetState(static_cast<DWORD>(msTimeout < 0 ? INFINITE : static_cast<DWORD>(msTimeout)), &fs);
  *pfs = fs;
  return hr;
}

STDMETHODIMP CFilterGraph::StopWhenReady() {
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    HRESULT hr = PauseLocked();
    if (FAILED(hr)) return hr;
    return StopLocked();
  });
}

STDMETHODIMP CFilterGraph::RenderFile(BSTR) { return E_NOTIMPL; }
STDMETHODIMP CFilterGraph::AddSourceFilter(BSTR, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP CFilterGraph::get_FilterCollection(IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP CFilterGraph::get_RegFilterCollection(IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  return E_NOTIMPL;
}

// ---- Events ----

STDMETHODIMP CFilterGraph::GetEventHandle(OAEVENT* hEvent) {
  if (!hEvent) return E_POINTER;
  *hEvent = reinterpret_cast<OAEVENT>(m_events.Handle());
  return S_OK;
}
STDMETHODIMP CFilterGraph::GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, LONG msTimeout) {
  return m_events.GetEvent(lEventCode, lParam1, lParam2, msTimeout);
}
STDMETHODIMP CFilterGraph::WaitForCompletion(LONG msTimeout, LONG* pEvCode) {
  return m_events.WaitForCompletion(msTimeout, pEvCode);
}
STDMETHODIMP CFilterGraph::CancelDefaultHandling(LONG lEvCode) { return m_events.CancelDefaultHandling(lEvCode); }
STDMETHODIMP CFilterGraph::RestoreDefaultHandling(LONG lEvCode) { return m_events.RestoreDefaultHandling(lEvCode); }
// Event parameters are plain values in this runtime: nothing to free.
STDMETHODIMP CFilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) { return S_OK; }
// There are no windows to post to: hosts wait on the event handle instead.
STDMETHODIMP CFilterGraph::SetNotifyWindow(OAHWND, LONG, LONG_PTR) { return E_NOTIMPL; }
STDMETHODIMP CFilterGraph::SetNotifyFlags(LONG lNoNotifyFlags) {
  if (lNoNotifyFlags != 0 && lNoNotifyFlags != 1) return E_INVALIDARG;
  m_events.SetNotifyFlags(lNoNotifyFlags);
  return S_OK;
}
STDMETHODIMP CFilterGraph::GetNotifyFlags(LONG* lplNoNotifyFlags) {
  if (!lplNoNotifyFlags) return E_POINTER;
  *lplNoNotifyFlags = m_events.GetNotifyFlags();
  return S_OK;
}
STDMETHODIMP CFilterGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  return m_events.Notify(EventCode, EventParam1, EventParam2);
}

// ---- Seeking ----

// The seeking interfaces that answer for the graph: each renderer's own, or else the first one
// found walking upstream from it through connected pins (output pins pass positions on to the
// filter that can seek).
std::vector<ComPtr<IMediaSeeking>> CFilterGraph::SeekersLocked() const {
  std::vector<ComPtr<IMediaSeeking>> seekers;
  std::vector<ComPtr<IUnknown>> seen;
  auto addSeeker = [&](ComPtr<IMediaSeeking> s) {
    ComPtr<IUnknown> id = Identity(s.Get());
    if (std::find(seen.begin(), seen.end(), id) == seen.end()) {
      seen.push_back(id);
      seekers.push_back(std::move(s));
    }
  };
  Topology t = ComputeTopology();
  for (size_t r : t.renderers) {
    ComPtr<IMediaSeeking> s;
    if (SUCCEEDED(m_filters[r].filter->QueryInterface(IID_IMediaSeeking, s.AsOut())) && s) {
      addSeeker(std::move(s));
      continue;
    }
    std::vector<ComPtr<IBaseFilter>> todo{m_filters[r].filter};
    std::vector<ComPtr<IUnknown>> visited;
    while (!todo.empty()) {
      ComPtr<IBaseFilter> f = todo.back();
      todo.pop_back();
      ComPtr<IUnknown> fid = Identity(f.Get());
      if (std::find(visited.begin(), visited.end(), fid) != visited.end()) continue;
      visited.push_back(fid);
      for (const ComPtr<IPin>& pin : FilterPins(f.Get())) {
        PIN_DIRECTION d;
        if (!PinDirection(pin.Get(), &d) || d != PINDIR_INPUT) continue;
        ComPtr<IPin> up = ConnectedPeer(pin.Get());
        if (!up) continue;
        ComPtr<IMediaSeeking> us;
        if (SUCCEEDED(up->QueryInterface(IID_IMediaSeeking, us.AsOut())) && us) {
          addSeeker(std::move(us));
        } else if (ComPtr<IBaseFilter> uf = PinFilter(up.Get())) {
          ComPtr<IMediaSeeking> fs;
          if (SUCCEEDED(uf->QueryInterface(IID_IMediaSeeking, fs.AsOut())) && fs)
            addSeeker(std::move(fs));
          else
            todo.push_back(uf);
        }
      }
    }
  }
  return seekers;
}

STDMETHODIMP CFilterGraph::GetCapabilities(DWORD* pCapabilities) {
  if (!pCapabilities) return E_POINTER;
  CAutoLock lock(&m_csGraph);
  auto seekers = SeekersLocked();
  if (seekers.empty()) {
    *pCapabilities = 0;
    return E_NOTIMPL;
  }
  DWORD caps = ~0u;
  for (const auto& s : seekers) {
    DWORD c = 0;
    if (FAILED(s->GetCapabilities(&c))) c = 0;
    caps &= c;
  }
  *pCapabilities = caps;
  return S_OK;
}

STDMETHODIMP CFilterGraph::CheckCapabilities(DWORD* pCapabilities) {
  if (!pCapabilities) return E_POINTER;
  DWORD have = 0;
  HRESULT hr = GetCapabilities(&have);
  DWORD asked = *pCapabilities;
  *pCapabilities = FAILED(hr) ? 0 : asked & have;
  if (*pCapabilities == asked) return S_OK;
  return *pCapabilities ? S_FALSE : E_FAIL;
}

STDMETHODIMP CFilterGraph::IsFormatSupported(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}
STDMETHODIMP CFilterGraph::QueryPreferredFormat(GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  *pFormat = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}
STDMETHODIMP CFilterGraph::GetTimeFormat(GUID* pFormat) { return QueryPreferredFormat(pFormat); }
STDMETHODIMP CFilterGraph::IsUsingTimeFormat(const GUID* pFormat) { return IsFormatSupported(pFormat); }
STDMETHODIMP CFilterGraph::SetTimeFormat(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

STDMETHODIMP CFilterGraph::GetDuration(LONGLONG* pDuration) {
  if (!pDuration) return E_POINTER;
  CAutoLock lock(&m_csGraph);
  HRESULT result = E_NOTIMPL;
  *pDuration = 0;
  for (const auto& s : SeekersLocked()) {
    LONGLONG d = 0;
    if (SUCCEEDED(s->GetDuration(&d))) {
      *pDuration = std::max(*pDuration, d);
      result = S_OK;
    }
  }
  return result;
}

STDMETHODIMP CFilterGraph::GetStopPosition(LONGLONG* pStop) {
  if (!pStop) return E_POINTER;
  CAutoLock lock(&m_csGraph);
  HRESULT result = E_NOTIMPL;
  *pStop = 0;
  for (const auto& s : SeekersLocked()) {
    LONGLONG v = 0;
    if (SUCCEEDED(s->GetStopPosition(&v))) {
      *pStop = std::max(*pStop, v);
      result = S_OK;
    }
  }
  return result;
}

// The position is the graph's own: the media position of the last seek plus the stream time
// that has passed since, never beyond the stop position the filters report.
STDMETHODIMP CFilterGraph::GetCurrentPosition(LONGLONG* pCurrent) {
  if (!pCurrent) return E_POINTER;
  CAutoLock lock(&m_csGraph);
  LONGLONG pos = m_positionBase + (m_state == State_Stopped ? 0 : StreamTimeLocked());
  LONGLONG stop = 0;
  bool haveStop = false;
  for (const auto& s : SeekersLocked()) {
    LONGLONG v = 0;
    if (SUCCEEDED(s->GetStopPosition(&v))) {
      stop = haveStop ? std::max(stop, v) : v;
      haveStop = true;
    }
  }
  if (haveStop && stop > 0) pos = std::min(pos, stop);
  *pCurrent = pos;
  return S_OK;
}

STDMETHODIMP CFilterGraph::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                             const GUID* pSourceFormat) {
  if (!pTarget) return E_POINTER;
  auto media = [](const GUID* g) { return !g || *g == TIME_FORMAT_MEDIA_TIME; };
  if (!media(pTargetFormat) || !media(pSourceFormat)) return E_INVALIDARG;
  *pTarget = Source;
  return S_OK;
}

STDMETHODIMP CFilterGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                        DWORD dwStopFlags) {
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    auto seekers = SeekersLocked();
    if (seekers.empty()) return E_NOTIMPL;
    bool moveCurrent = (dwCurrentFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning;
    FILTER_STATE was = m_state;
    // A running graph is paused around the seek so that stream time restarts with the new position.
    if (moveCurrent && was == State_Running) PauseLocked();
    HRESULT result = E_NOTIMPL;
    for (const auto& s : seekers) {
      LONGLONG cur = pCurrent ? *pCurrent : 0, stop = pStop ? *pStop : 0;
      HRESULT hr = s->SetPositions(pCurrent ? &cur : nullptr, dwCurrentFlags, pStop ? &stop : nullptr, dwStopFlags);
      if (SUCCEEDED(hr)) {
        result = S_OK;
      } else if (result == E_NOTIMPL) {
        result = hr;
      }
    }
    if (moveCurrent && SUCCEEDED(result)) {
      LONGLONG target = pCurrent ? *pCurrent : 0;
      if ((dwCurrentFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_RelativePositioning)
        target += m_positionBase + StreamTimeLocked();
      m_positionBase = target;
      m_pausedAt = 0;
      if (was != State_Stopped) {
        // Completion is counted afresh from the new position.
        Topology t = ComputeTopology();
        std::vector<LONG_PTR> renderers;
        for (size_t i : t.renderers) renderers.push_back(reinterpret_cast<LONG_PTR>(m_filters[i].filter.Get()));
        m_events.BeginRun(std::move(renderers));
      }
    }
    if (moveCurrent && was == State_Running) RunLocked(0);
    return result;
  });
}

STDMETHODIMP CFilterGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  HRESULT hr = S_OK;
  if (pCurrent) hr = GetCurrentPosition(pCurrent);
  if (pStop && SUCCEEDED(hr)) hr = GetStopPosition(pStop);
  return hr;
}

STDMETHODIMP CFilterGraph::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
  CAutoLock lock(&m_csGraph);
  for (const auto& s : SeekersLocked())
    if (SUCCEEDED(s->GetAvailable(pEarliest, pLatest))) return S_OK;
  return E_NOTIMPL;
}

STDMETHODIMP CFilterGraph::SetRate(double dRate) {
  if (dRate == 0.0) return E_INVALIDARG;
  CAutoLock lock(&m_csGraph);
  HRESULT result = E_NOTIMPL;
  for (const auto& s : SeekersLocked()) {
    HRESULT hr = s->SetRate(dRate);
    if (FAILED(hr)) return hr;
    result = S_OK;
  }
  return result;
}

STDMETHODIMP CFilterGraph::GetRate(double* pdRate) {
  if (!pdRate) return E_POINTER;
  CAutoLock lock(&m_csGraph);
  *pdRate = 1.0;
  for (const auto& s : SeekersLocked())
    if (SUCCEEDED(s->GetRate(pdRate))) return S_OK;
  return S_OK;
}

STDMETHODIMP CFilterGraph::GetPreroll(LONGLONG* pllPreroll) {
  if (!pllPreroll) return E_POINTER;
  CAutoLock lock(&m_csGraph);
  *pllPreroll = 0;
  for (const auto& s : SeekersLocked()) {
    LONGLONG p = 0;
    if (SUCCEEDED(s->GetPreroll(&p))) *pllPreroll = std::max(*pllPreroll, p);
  }
  return S_OK;
}

// ---- IMediaFilter ----

STDMETHODIMP CFilterGraph::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = CLSID_FilterGraph;
  return S_OK;
}

// A null clock makes the filters run unsynchronised: renderers render each sample on arrival.
STDMETHODIMP CFilterGraph::SetSyncSource(IReferenceClock* pClock) {
  CAutoLock lock(&m_csGraph);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  return SetClockLocked(pClock);
}

STDMETHODIMP CFilterGraph::GetSyncSource(IReferenceClock** pClock) {
  if (!pClock) return E_POINTER;
  CAutoLock lock(&m_csGraph);
  *pClock = m_clock.Get();
  if (*pClock) (*pClock)->AddRef();
  return S_OK;
}

// ---- IGraphDiagnostics ----

STDMETHODIMP CFilterGraph::DiagnoseConnection(IPin* pOut, IPin* pIn, LPSTR* ppText) {
  if (!ppText) return E_POINTER;
  *ppText = nullptr;
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    return ToTaskString(plenor::graph::DiagnoseConnection(pOut, pIn).ToText(), ppText);
  });
}

STDMETHODIMP CFilterGraph::GetLastConnectionReport(LPSTR* ppText) {
  if (!ppText) return E_POINTER;
  *ppText = nullptr;
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    HRESULT hr = ToTaskString(m_lastFailure ? m_lastFailure->ToText() : std::string(), ppText);
    if (FAILED(hr)) return hr;
    return m_lastFailure ? S_OK : S_FALSE;
  });
}

STDMETHODIMP CFilterGraph::GetDot(LPSTR* ppText) {
  if (!ppText) return E_POINTER;
  *ppText = nullptr;
  return Guarded([&]() -> HRESULT {
    CAutoLock lock(&m_csGraph);
    return ToTaskString(GraphToDot(AsGraph()), ppText);
  });
}

}  // namespace plenor::graph
