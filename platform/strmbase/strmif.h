// Interfaces of the filter-graph platform, in their standard vtable order.
#pragma once

#include "platform/com/objidl.h"
#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/uuids.h"

struct IPin;
struct IBaseFilter;
struct IFilterGraph;
struct IEnumPins;
struct IEnumMediaTypes;
struct IMemAllocator;
struct IMediaSample;
struct IReferenceClock;
struct IEnumFilters;

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

constexpr int MAX_PIN_NAME = 128;
constexpr int MAX_FILTER_NAME = 128;

struct PIN_INFO {
  IBaseFilter* pFilter;  // AddRef'd: the caller releases it
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};
struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;  // AddRef'd when not null
};

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};
static_assert(sizeof(ALLOCATOR_PROPERTIES) == 16);

enum QualityMessageType { Famine = 0, Flood = 1 };
struct Quality {
  QualityMessageType Type;
  LONG Proportion;
  REFERENCE_TIME Late;
  REFERENCE_TIME TimeStamp;
};

// Sample property flags (AM_SAMPLE2_PROPERTIES::dwSampleFlags).
constexpr DWORD AM_SAMPLE_SPLICEPOINT = 0x01;
constexpr DWORD AM_SAMPLE_PREROLL = 0x02;
constexpr DWORD AM_SAMPLE_DATADISCONTINUITY = 0x04;
constexpr DWORD AM_SAMPLE_TYPECHANGED = 0x08;
constexpr DWORD AM_SAMPLE_TIMEVALID = 0x10;
constexpr DWORD AM_SAMPLE_TIMEDISCONTINUITY = 0x40;
constexpr DWORD AM_SAMPLE_FLUSH_ON_PAUSE = 0x80;
constexpr DWORD AM_SAMPLE_STOPVALID = 0x100;
constexpr DWORD AM_SAMPLE_ENDOFSTREAM = 0x200;
constexpr DWORD AM_STREAM_MEDIA = 0;
constexpr DWORD AM_STREAM_CONTROL = 1;

struct AM_SAMPLE2_PROPERTIES {
  DWORD cbData;
  DWORD dwTypeSpecificFlags;
  DWORD dwSampleFlags;
  LONG lActual;
  REFERENCE_TIME tStart;
  REFERENCE_TIME tStop;
  DWORD dwStreamId;
  AM_MEDIA_TYPE* pMediaType;
  BYTE* pbBuffer;
  LONG cbBuffer;
};

// GetBuffer flags.
constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
constexpr DWORD AM_GBF_NOWAIT = 4;

struct IEnumPins : IUnknown {
  static constexpr const IID& iid = IID_IEnumPins;
  STDMETHOD(Next)(ULONG cPins, IPin** ppPins, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(ULONG cPins) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumPins** ppEnum) PURE;

 protected:
  ~IEnumPins() = default;
};

struct IEnumMediaTypes : IUnknown {
  static constexpr const IID& iid = IID_IEnumMediaTypes;
  // Each returned type is allocated with CoTaskMemAlloc (DeleteMediaType frees it).
  STDMETHOD(Next)(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(ULONG cMediaTypes) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumMediaTypes** ppEnum) PURE;

 protected:
  ~IEnumMediaTypes() = default;
};

struct IPin : IUnknown {
  static constexpr const IID& iid = IID_IPin;
  STDMETHOD(Connect)(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(ReceiveConnection)(IPin* pConnector, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(Disconnect)() PURE;
  STDMETHOD(ConnectedTo)(IPin** pPin) PURE;
  STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) PURE;
  STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) PURE;
  STDMETHOD(QueryId)(LPWSTR* Id) PURE;
  STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) PURE;
  STDMETHOD(QueryInternalConnections)(IPin** apPin, ULONG* nPin) PURE;
  STDMETHOD(EndOfStream)() PURE;
  STDMETHOD(BeginFlush)() PURE;
  STDMETHOD(EndFlush)() PURE;
  STDMETHOD(NewSegment)(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) PURE;

 protected:
  ~IPin() = default;
};

struct IReferenceClock : IUnknown {
  static constexpr const IID& iid = IID_IReferenceClock;
  STDMETHOD(GetTime)(REFERENCE_TIME* pTime) PURE;
  // Signals hEvent (a CAMEvent handle) once the clock reaches baseTime + streamTime.
  STDMETHOD(AdviseTime)(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent, DWORD_PTR* pdwAdviseCookie) PURE;
  STDMETHOD(AdvisePeriodic)(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) PURE;
  STDMETHOD(Unadvise)(DWORD_PTR dwAdviseCookie) PURE;

 protected:
  ~IReferenceClock() = default;
};

struct IMediaFilter : IPersist {
  static constexpr const IID& iid = IID_IMediaFilter;
  STDMETHOD(Stop)() PURE;
  STDMETHOD(Pause)() PURE;
  STDMETHOD(Run)(REFERENCE_TIME tStart) PURE;
  STDMETHOD(GetState)(DWORD dwMilliSecsTimeout, FILTER_STATE* State) PURE;
  STDMETHOD(SetSyncSource)(IReferenceClock* pClock) PURE;
  STDMETHOD(GetSyncSource)(IReferenceClock** pClock) PURE;

 protected:
  ~IMediaFilter() = default;
};

struct IBaseFilter : IMediaFilter {
  static constexpr const IID& iid = IID_IBaseFilter;
  STDMETHOD(EnumPins)(IEnumPins** ppEnum) PURE;
  STDMETHOD(FindPin)(LPCWSTR Id, IPin** ppPin) PURE;
  STDMETHOD(QueryFilterInfo)(FILTER_INFO* pInfo) PURE;
  STDMETHOD(JoinFilterGraph)(IFilterGraph* pGraph, LPCWSTR pName) PURE;
  STDMETHOD(QueryVendorInfo)(LPWSTR* pVendorInfo) PURE;

 protected:
  ~IBaseFilter() = default;
};

struct IEnumFilters : IUnknown {
  static constexpr const IID& iid = IID_IEnumFilters;
  STDMETHOD(Next)(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(ULONG cFilters) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumFilters** ppEnum) PURE;

 protected:
  ~IEnumFilters() = default;
};

struct IMediaSample : IUnknown {
  static constexpr const IID& iid = IID_IMediaSample;
  STDMETHOD(GetPointer)(BYTE** ppBuffer) PURE;
  STDMETHOD_(LONG, GetSize)() PURE;
  STDMETHOD(GetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) PURE;
  STDMETHOD(SetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) PURE;
  STDMETHOD(IsSyncPoint)() PURE;
  STDMETHOD(SetSyncPoint)(BOOL bIsSyncPoint) PURE;
  STDMETHOD(IsPreroll)() PURE;
  STDMETHOD(SetPreroll)(BOOL bIsPreroll) PURE;
  STDMETHOD_(LONG, GetActualDataLength)() PURE;
  STDMETHOD(SetActualDataLength)(LONG len) PURE;
  // A media type attached to the sample (a format change), copied for the caller, or S_FALSE.
  STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** ppMediaType) PURE;
  STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* pMediaType) PURE;
  STDMETHOD(IsDiscontinuity)() PURE;
  STDMETHOD(SetDiscontinuity)(BOOL bDiscontinuity) PURE;
  STDMETHOD(GetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) PURE;
  STDMETHOD(SetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) PURE;

 protected:
  ~IMediaSample() = default;
};

struct IMediaSample2 : IMediaSample {
  static constexpr const IID& iid = IID_IMediaSample2;
  STDMETHOD(GetProperties)(DWORD cbProperties, BYTE* pbProperties) PURE;
  STDMETHOD(SetProperties)(DWORD cbProperties, const BYTE* pbProperties) PURE;

 protected:
  ~IMediaSample2() = default;
};

struct IMemAllocator : IUnknown {
  static constexpr const IID& iid = IID_IMemAllocator;
  STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) PURE;
  STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* pProps) PURE;
  STDMETHOD(Commit)() PURE;
  STDMETHOD(Decommit)() PURE;
  STDMETHOD(GetBuffer)(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime, DWORD dwFlags) PURE;
  STDMETHOD(ReleaseBuffer)(IMediaSample* pBuffer) PURE;

 protected:
  ~IMemAllocator() = default;
};

struct IMemInputPin : IUnknown {
  static constexpr const IID& iid = IID_IMemInputPin;
  STDMETHOD(GetAllocator)(IMemAllocator** ppAllocator) PURE;
  STDMETHOD(NotifyAllocator)(IMemAllocator* pAllocator, BOOL bReadOnly) PURE;
  STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES* pProps) PURE;
  STDMETHOD(Receive)(IMediaSample* pSample) PURE;
  STDMETHOD(ReceiveMultiple)(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) PURE;
  // S_OK when Receive may block (the upstream filter then delivers through a queue thread).
  STDMETHOD(ReceiveCanBlock)() PURE;

 protected:
  ~IMemInputPin() = default;
};

struct IQualityControl : IUnknown {
  static constexpr const IID& iid = IID_IQualityControl;
  STDMETHOD(Notify)(IBaseFilter* pSelf, Quality q) PURE;
  STDMETHOD(SetSink)(IQualityControl* piqc) PURE;

 protected:
  ~IQualityControl() = default;
};

struct IFilterGraph : IUnknown {
  static constexpr const IID& iid = IID_IFilterGraph;
  STDMETHOD(AddFilter)(IBaseFilter* pFilter, LPCWSTR pName) PURE;
  STDMETHOD(RemoveFilter)(IBaseFilter* pFilter) PURE;
  STDMETHOD(EnumFilters)(IEnumFilters** ppEnum) PURE;
  STDMETHOD(FindFilterByName)(LPCWSTR pName, IBaseFilter** ppFilter) PURE;
  STDMETHOD(ConnectDirect)(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(Reconnect)(IPin* ppin) PURE;
  STDMETHOD(Disconnect)(IPin* ppin) PURE;
  STDMETHOD(SetDefaultSyncSource)() PURE;

 protected:
  ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
  static constexpr const IID& iid = IID_IGraphBuilder;
  STDMETHOD(Connect)(IPin* ppinOut, IPin* ppinIn) PURE;
  STDMETHOD(Render)(IPin* ppinOut) PURE;
  STDMETHOD(RenderFile)(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) PURE;
  STDMETHOD(AddSourceFilter)(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter** ppFilter) PURE;
  STDMETHOD(SetLogFile)(DWORD_PTR hFile) PURE;
  STDMETHOD(Abort)() PURE;
  STDMETHOD(ShouldOperationContinue)() PURE;

 protected:
  ~IGraphBuilder() = default;
};

using OAEVENT = LONG_PTR;
using OAFilterState = LONG;
using OAHWND = LONG_PTR;

// IDispatch is not modelled: the automation interfaces derive from IUnknown directly.
struct IMediaControl : IUnknown {
  static constexpr const IID& iid = IID_IMediaControl;
  STDMETHOD(Run)() PURE;
  STDMETHOD(Pause)() PURE;
  STDMETHOD(Stop)() PURE;
  STDMETHOD(GetState)(LONG msTimeout, OAFilterState* pfs) PURE;
  STDMETHOD(RenderFile)(BSTR strFilename) PURE;
  STDMETHOD(AddSourceFilter)(BSTR strFilename, IUnknown** ppUnk) PURE;
  STDMETHOD(get_FilterCollection)(IUnknown** ppUnk) PURE;
  STDMETHOD(get_RegFilterCollection)(IUnknown** ppUnk) PURE;
  STDMETHOD(StopWhenReady)() PURE;

 protected:
  ~IMediaControl() = default;
};

struct IMediaEvent : IUnknown {
  static constexpr const IID& iid = IID_IMediaEvent;
  // A waitable handle (a CAMEvent handle) set while events are queued.
  STDMETHOD(GetEventHandle)(OAEVENT* hEvent) PURE;
  STDMETHOD(GetEvent)(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, LONG msTimeout) PURE;
  STDMETHOD(WaitForCompletion)(LONG msTimeout, LONG* pEvCode) PURE;
  STDMETHOD(CancelDefaultHandling)(LONG lEvCode) PURE;
  STDMETHOD(RestoreDefaultHandling)(LONG lEvCode) PURE;
  STDMETHOD(FreeEventParams)(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) PURE;

 protected:
  ~IMediaEvent() = default;
};

struct IMediaEventEx : IMediaEvent {
  static constexpr const IID& iid = IID_IMediaEventEx;
  STDMETHOD(SetNotifyWindow)(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) PURE;
  STDMETHOD(SetNotifyFlags)(LONG lNoNotifyFlags) PURE;
  STDMETHOD(GetNotifyFlags)(LONG* lplNoNotifyFlags) PURE;

 protected:
  ~IMediaEventEx() = default;
};

struct IMediaEventSink : IUnknown {
  static constexpr const IID& iid = IID_IMediaEventSink;
  STDMETHOD(Notify)(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) PURE;

 protected:
  ~IMediaEventSink() = default;
};

// Seeking capabilities.
constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
constexpr DWORD AM_SEEKING_CanGetStopPos = 0x10;
constexpr DWORD AM_SEEKING_CanGetDuration = 0x20;
constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
constexpr DWORD AM_SEEKING_IncrementalPositioning = 0x3;
constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;

struct IMediaSeeking : IUnknown {
  static constexpr const IID& iid = IID_IMediaSeeking;
  STDMETHOD(GetCapabilities)(DWORD* pCapabilities) PURE;
  STDMETHOD(CheckCapabilities)(DWORD* pCapabilities) PURE;
  STDMETHOD(IsFormatSupported)(const GUID* pFormat) PURE;
  STDMETHOD(QueryPreferredFormat)(GUID* pFormat) PURE;
  STDMETHOD(GetTimeFormat)(GUID* pFormat) PURE;
  STDMETHOD(IsUsingTimeFormat)(const GUID* pFormat) PURE;
  STDMETHOD(SetTimeFormat)(const GUID* pFormat) PURE;
  STDMETHOD(GetDuration)(LONGLONG* pDuration) PURE;
  STDMETHOD(GetStopPosition)(LONGLONG* pStop) PURE;
  STDMETHOD(GetCurrentPosition)(LONGLONG* pCurrent) PURE;
  STDMETHOD(ConvertTimeFormat)(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source, const GUID* pSourceFormat) PURE;
  STDMETHOD(SetPositions)(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) PURE;
  STDMETHOD(GetPositions)(LONGLONG* pCurrent, LONGLONG* pStop) PURE;
  STDMETHOD(GetAvailable)(LONGLONG* pEarliest, LONGLONG* pLatest) PURE;
  STDMETHOD(SetRate)(double dRate) PURE;
  STDMETHOD(GetRate)(double* pdRate) PURE;
  STDMETHOD(GetPreroll)(LONGLONG* pllPreroll) PURE;

 protected:
  ~IMediaSeeking() = default;
};

// Declares every IMediaSeeking method as an override, in a class that implements them all.
#define DECLARE_IMEDIASEEKING                                                                               \
  STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;                                              \
  STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;                                            \
  STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;                                             \
  STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;                                                \
  STDMETHODIMP GetTimeFormat(GUID* pFormat) override;                                                       \
  STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;                                             \
  STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;                                                 \
  STDMETHODIMP GetDuration(LONGLONG* pDuration) override;                                                   \
  STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;                                                   \
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;                                             \
  STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,             \
                                 const GUID* pSourceFormat) override;                                       \
  STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags)   \
      override;                                                                                             \
  STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;                                  \
  STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;                               \
  STDMETHODIMP SetRate(double dRate) override;                                                              \
  STDMETHODIMP GetRate(double* pdRate) override;                                                            \
  STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;

struct IFileSourceFilter : IUnknown {
  static constexpr const IID& iid = IID_IFileSourceFilter;
  STDMETHOD(Load)(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) PURE;
  // The file name is allocated with CoTaskMemAlloc; the caller frees it.
  STDMETHOD(GetCurFile)(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) PURE;

 protected:
  ~IFileSourceFilter() = default;
};

struct IFileSinkFilter : IUnknown {
  static constexpr const IID& iid = IID_IFileSinkFilter;
  STDMETHOD(SetFileName)(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(GetCurFile)(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) PURE;

 protected:
  ~IFileSinkFilter() = default;
};

// Counted array of GUIDs; pElems is allocated with CoTaskMemAlloc and freed by the caller.
struct CAUUID {
  ULONG cElems;
  GUID* pElems;
};

struct ISpecifyPropertyPages : IUnknown {
  static constexpr const IID& iid = IID_ISpecifyPropertyPages;
  STDMETHOD(GetPages)(CAUUID* pPages) PURE;

 protected:
  ~ISpecifyPropertyPages() = default;
};

struct PROPPAGEINFO {
  ULONG cb;
  LPOLESTR pszTitle;  // task-allocated
  SIZE size;          // pixels
  LPOLESTR pszDocString;
  LPOLESTR pszHelpFile;
  DWORD dwHelpContext;
};
constexpr DWORD PROPPAGESTATUS_DIRTY = 0x1;
constexpr DWORD PROPPAGESTATUS_VALIDATE = 0x2;
constexpr DWORD PROPPAGESTATUS_CLEAN = 0x4;

struct MSG;
struct IPropertyPageSite : IUnknown {
  static constexpr const IID& iid = IID_IPropertyPageSite;
  STDMETHOD(OnStatusChange)(DWORD dwFlags) PURE;
  STDMETHOD(GetLocaleID)(LCID* pLocaleID) PURE;
  STDMETHOD(GetPageContainer)(IUnknown** ppUnk) PURE;
  STDMETHOD(TranslateAccelerator)(MSG* pMsg) PURE;

 protected:
  ~IPropertyPageSite() = default;
};

struct IPropertyPage : IUnknown {
  static constexpr const IID& iid = IID_IPropertyPage;
  STDMETHOD(SetPageSite)(IPropertyPageSite* pPageSite) PURE;
  STDMETHOD(Activate)(HWND hWndParent, LPCRECT pRect, BOOL bModal) PURE;
  STDMETHOD(Deactivate)() PURE;
  STDMETHOD(GetPageInfo)(PROPPAGEINFO* pPageInfo) PURE;
  STDMETHOD(SetObjects)(ULONG cObjects, IUnknown** ppUnk) PURE;
  STDMETHOD(Show)(UINT nCmdShow) PURE;
  STDMETHOD(Move)(LPCRECT pRect) PURE;
  STDMETHOD(IsPageDirty)() PURE;
  STDMETHOD(Apply)() PURE;
  STDMETHOD(Help)(LPCOLESTR pszHelpDir) PURE;
  STDMETHOD(TranslateAccelerator)(MSG* pMsg) PURE;

 protected:
  ~IPropertyPage() = default;
};

// The number of media samples an input pin has accepted (samples that passed its receive checks)
// since the pin was created. Every input pin built on CBaseInputPin answers it; hosts use it for
// per-filter counts and frame rates.
PLENOR_GUID(IID_IPinSampleCount, 0xda42a316, 0x8681, 0x43af, 0xad, 0xa2, 0x8c, 0xc3, 0xfd, 0x13, 0x6d, 0x7a);
struct IPinSampleCount : IUnknown {
  static constexpr const IID& iid = IID_IPinSampleCount;
  STDMETHOD(GetSampleCount)(LONGLONG* pCount) PURE;

 protected:
  ~IPinSampleCount() = default;
};

struct IAMovieSetup : IUnknown {
  static constexpr const IID& iid = IID_IAMovieSetup;
  STDMETHOD(Register)() PURE;
  STDMETHOD(Unregister)() PURE;

 protected:
  ~IAMovieSetup() = default;
};

// ---- Filter registration ----

constexpr DWORD MERIT_PREFERRED = 0x800000;
constexpr DWORD MERIT_NORMAL = 0x600000;
constexpr DWORD MERIT_UNLIKELY = 0x400000;
constexpr DWORD MERIT_DO_NOT_USE = 0x200000;
constexpr DWORD MERIT_SW_COMPRESSOR = 0x100000;
constexpr DWORD MERIT_HW_COMPRESSOR = 0x100050;

struct REGPINTYPES {
  const CLSID* clsMajorType;
  const CLSID* clsMinorType;
};

struct REGFILTERPINS {
  LPCWSTR strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID* clsConnectsToFilter;
  LPCWSTR strConnectsToPin;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
};

struct REGFILTER2 {
  DWORD dwVersion;  // 1: rgPins is used
  DWORD dwMerit;
  ULONG cPins;
  const REGFILTERPINS* rgPins;
};

using AMOVIESETUP_MEDIATYPE = REGPINTYPES;
using AMOVIESETUP_PIN = REGFILTERPINS;
struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  LPCWSTR strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN* lpPin;
};

// One registered filter as the mapper's enumeration returns it. Name is task-allocated.
struct REGFILTER {
  CLSID Clsid;
  LPWSTR Name;
};

struct IEnumRegFilters : IUnknown {
  static constexpr const IID& iid = IID_IEnumRegFilters;
  // Each REGFILTER is allocated with CoTaskMemAlloc, its name inside the same block.
  STDMETHOD(Next)(ULONG cFilters, REGFILTER** apRegFilter, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(ULONG cFilters) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumRegFilters** ppEnum) PURE;

 protected:
  ~IEnumRegFilters() = default;
};

struct IFilterMapper : IUnknown {
  static constexpr const IID& iid = IID_IFilterMapper;
  STDMETHOD(RegisterFilter)(CLSID clsid, LPCWSTR Name, DWORD dwMerit) PURE;
  STDMETHOD(RegisterFilterInstance)(CLSID clsid, LPCWSTR Name, CLSID* MRId) PURE;
  STDMETHOD(RegisterPin)(CLSID Filter, LPCWSTR Name, BOOL bRendered, BOOL bOutput, BOOL bZero, BOOL bMany,
                         CLSID ConnectsToFilter, LPCWSTR ConnectsToPin) PURE;
  STDMETHOD(RegisterPinType)(CLSID clsFilter, LPCWSTR strName, CLSID clsMajorType, CLSID clsSubType) PURE;
  STDMETHOD(UnregisterFilter)(CLSID Filter) PURE;
  STDMETHOD(UnregisterFilterInstance)(CLSID MRId) PURE;
  STDMETHOD(UnregisterPin)(CLSID Filter, LPCWSTR Name) PURE;
  // Filters with merit >= dwMerit whose pins match, ordered by merit (highest first). GUID_NULL
  // types match anything.
  STDMETHOD(EnumMatchingFilters)(IEnumRegFilters** ppEnum, DWORD dwMerit, BOOL bInputNeeded, CLSID clsInMaj,
                                 CLSID clsInSub, BOOL bRender, BOOL bOututNeeded, CLSID clsOutMaj,
                                 CLSID clsOutSub) PURE;

 protected:
  ~IFilterMapper() = default;
};

struct IFilterMapper2 : IUnknown {
  static constexpr const IID& iid = IID_IFilterMapper2;
  STDMETHOD(CreateCategory)(REFCLSID clsidCategory, DWORD dwCategoryMerit, LPCWSTR Description) PURE;
  STDMETHOD(UnregisterFilter)(const CLSID* pclsidCategory, LPCOLESTR szInstance, REFCLSID Filter) PURE;
  // ppMoniker is not modelled and must be null.
  STDMETHOD(RegisterFilter)(REFCLSID clsidFilter, LPCWSTR Name, void** ppMoniker, const CLSID* pclsidCategory,
                            LPCOLESTR szInstance, const REGFILTER2* prf2) PURE;
  // Monikers are not modelled: matches are returned as REGFILTER records (class id and name),
  // ordered by merit, highest first. Types are (major, sub) pairs; GUID_NULL matches anything.
  STDMETHOD(EnumMatchingFilters)(IEnumRegFilters** ppEnum, DWORD dwFlags, BOOL bExactMatch, DWORD dwMerit,
                                 BOOL bInputNeeded, DWORD cInputTypes, const GUID* pInputTypes,
                                 const void* pMedIn, const CLSID* pPinCategoryIn, BOOL bRender,
                                 BOOL bOutputNeeded, DWORD cOutputTypes, const GUID* pOutputTypes,
                                 const void* pMedOut, const CLSID* pPinCategoryOut) PURE;

 protected:
  ~IFilterMapper2() = default;
};
