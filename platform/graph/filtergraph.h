// The filter graph manager (CLSID_FilterGraph): holds the filters of a graph, connects their pins
// (directly or through intermediate filters found with the filter mapper), changes the state of
// every filter in an order that never lets a filter deliver into one that is not ready, keeps the
// event queue for the host, chooses the reference clock and forwards seeking to the filters.
//
// Hosts create it with CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
// IID_IGraphBuilder, ...) and reach the other interfaces with QueryInterface: IMediaControl,
// IMediaEventEx, IMediaEventSink (for filters), IMediaSeeking, IMediaFilter (to choose another
// clock or none, which makes renderers render on arrival) and IGraphDiagnostics (diagnostics.h).
//
// Threads: the graph's structure and state are changed by the application ("graph") thread under
// the graph lock; a filter may call back into the graph from inside a call the graph made
// (Reconnect from a pin's CompleteConnect) on that same thread. Filters notify events from any
// thread; that path takes only the event queue's lock.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "platform/graph/comobject.h"
#include "platform/graph/diagnostics.h"
#include "platform/graph/eventqueue.h"
#include "platform/strmbase/strmif.h"
#include "platform/strmbase/wxutil.h"

namespace plenor::graph {

class CFilterGraph final : public ComObject<CFilterGraph, IGraphBuilder, IMediaControl, IMediaEventEx,
                                            IMediaEventSink, IMediaSeeking, IMediaFilter, IGraphDiagnostics> {
 public:
  CFilterGraph();
  ~CFilterGraph() override;
  void* QueryExtra(REFIID riid);

  // IFilterGraph
  STDMETHODIMP AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
  STDMETHODIMP RemoveFilter(IBaseFilter* pFilter) override;
  STDMETHODIMP EnumFilters(IEnumFilters** ppEnum) override;
  STDMETHODIMP FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
  STDMETHODIMP ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP Reconnect(IPin* ppin) override;
  STDMETHODIMP Disconnect(IPin* ppin) override;
  STDMETHODIMP SetDefaultSyncSource() override;
  // IGraphBuilder
  STDMETHODIMP Connect(IPin* ppinOut, IPin* ppinIn) override;
  STDMETHODIMP Render(IPin* ppinOut) override;
  STDMETHODIMP RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override;
  STDMETHODIMP AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter** ppFilter) override;
  STDMETHODIMP SetLogFile(DWORD_PTR hFile) override;
  STDMETHODIMP Abort() override;
  STDMETHODIMP ShouldOperationContinue() override;

  // IMediaControl (Pause and Stop serve IMediaFilter too)
  STDMETHODIMP Run() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP GetState(LONG msTimeout, OAFilterState* pfs) override;
  STDMETHODIMP RenderFile(BSTR strFilename) override;
  STDMETHODIMP AddSourceFilter(BSTR strFilename, IUnknown** ppUnk) override;
  STDMETHODIMP get_FilterCollection(IUnknown** ppUnk) override;
  STDMETHODIMP get_RegFilterCollection(IUnknown** ppUnk) override;
  STDMETHODIMP StopWhenReady() override;

  // IMediaEvent / IMediaEventEx
  STDMETHODIMP GetEventHandle(OAEVENT* hEvent) override;
  STDMETHODIMP GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, LONG msTimeout) override;
  STDMETHODIMP WaitForCompletion(LONG msTimeout, LONG* pEvCode) override;
  STDMETHODIMP CancelDefaultHandling(LONG lEvCode) override;
  STDMETHODIMP RestoreDefaultHandling(LONG lEvCode) override;
  STDMETHODIMP FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
  STDMETHODIMP SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) override;
  STDMETHODIMP SetNotifyFlags(LONG lNoNotifyFlags) override;
  STDMETHODIMP GetNotifyFlags(LONG* lplNoNotifyFlags) override;

  // IMediaEventSink: any thread.
  STDMETHODIMP Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

  // IMediaSeeking
  DECLARE_IMEDIASEEKING

  // IPersist / IMediaFilter
  STDMETHODIMP GetClassID(CLSID* pClassID) override;
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;
  STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;

  // IGraphDiagnostics
  STDMETHODIMP DiagnoseConnection(IPin* pOut, IPin* pIn, LPSTR* ppText) override;
  STDMETHODIMP GetLastConnectionReport(LPSTR* ppText) override;
  STDMETHODIMP GetDot(LPSTR* ppText) override;

 private:
  struct Entry {
    ComPtr<IBaseFilter> filter;
    ComPtr<IUnknown> id;  // identity for comparisons
    std::wstring name;
  };
  // The filters in state-change order: downstream first (renderers first, sources last).
  struct Topology {
    std::vector<size_t> downstreamFirst;
    std::vector<size_t> renderers;  // connected inputs, no connected outputs
  };

  IFilterGraph* AsGraph() { return static_cast<IGraphBuilder*>(this); }
  int FindEntry(IUnknown* filterOrPin) const;
  bool PinInGraph(IPin* pin) const;
  Topology ComputeTopology() const;
  std::wstring UniqueName(LPCWSTR requested, bool* renamed) const;

  HRESULT ConnectDirectLocked(IPin* out, IPin* in, const AM_MEDIA_TYPE* pmt);
  HRESULT ConnectThroughMapper(IPin* out, IPin* in, int depth, bool* triedAny);
  HRESULT RenderLocked(IPin* out, int depth);
  HRESULT RemoveFilterLocked(size_t index);
  void DisconnectFilter(IBaseFilter* filter);
  void RecordFailure(IPin* out, IPin* in, HRESULT hr);

  HRESULT PauseLocked();
  HRESULT RunLocked(REFERENCE_TIME tStart);
  HRESULT StopLocked();
  HRESULT SetClockLocked(IReferenceClock* clock);
  HRESULT ChooseDefaultClockLocked();
  REFERENCE_TIME ClockNow() const;
  REFERENCE_TIME StreamTimeLocked() const;

  std::vector<ComPtr<IMediaSeeking>> SeekersLocked() const;

  mutable CCritSec m_csGraph;  // structure, connections, state, clock (graph thread)
  std::vector<Entry> m_filters;
  FILTER_STATE m_state = State_Stopped;
  ComPtr<IReferenceClock> m_clock;
  bool m_clockChosen = false;     // a clock (or none) has been chosen, by the host or by default
  REFERENCE_TIME m_tStart = 0;     // reference time of stream time 0 while running
  REFERENCE_TIME m_pausedAt = 0;   // stream time reached when the graph last paused
  REFERENCE_TIME m_positionBase = 0;  // media position of stream time 0 (after a seek)
  std::atomic<bool> m_abort{false};
  std::vector<std::pair<IUnknown*, IUnknown*>> m_reconnecting;  // (output, input) being re-made
  int m_connectDepth = 0;
  std::optional<ConnectionReport> m_lastFailure;
  GraphEvents m_events;
};

}  // namespace plenor::graph
