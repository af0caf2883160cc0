#include "timing/timeshift/timeshift.h"

#include <limits>
#include <new>

#include "platform/strmbase/uuids.h"
#include "framework/pages.h"

namespace {

// t + offset, held at the ends of the 64-bit range instead of overflowing.
REFERENCE_TIME AddOffset(REFERENCE_TIME t, int offset) {
  REFERENCE_TIME result = 0;
  if (__builtin_add_overflow(t, static_cast<REFERENCE_TIME>(offset), &result))
    return offset > 0 ? std::numeric_limits<REFERENCE_TIME>::max() : std::numeric_limits<REFERENCE_TIME>::min();
  return result;
}

}  // namespace

CUnknown* TimeShiftFilter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  auto* filter = new (std::nothrow) TimeShiftFilter;
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

// Not aggregatable: the controlling IUnknown is always the filter's own.
TimeShiftFilter::TimeShiftFilter()
    : CTransInPlaceFilter(L"Skewing Filter", nullptr, CLSID_TimeShiftFilter, nullptr, false),
      CLockedSettings(GetOwner(), &m_csState),
      CLockedPersistSettings(GetOwner(), CLSID_TimeShiftFilter, PersistKind::Signed,
                             {{L"\"TIME SKEW\"", &m_nSkew, VT_INT, VT_INT, true}}, &m_csState) {
  InitParameters();
}

TimeShiftFilter::~TimeShiftFilter() = default;

STDMETHODIMP TimeShiftFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (GetPersistInterface(riid, ppv) == S_OK) return S_OK;
  if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP TimeShiftFilter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_SkewingProperties); }

void TimeShiftFilter::InitParameters() {
  CAutoLock lock(&m_csState);
  AddParameter("skewTimestamp", &m_nSkew, 0);
}

void TimeShiftFilter::ResetRunState() {
  CAutoLock lock(&m_csState);
  m_nSkew = 0;
  m_tLastStart = 0;
}

// The reset is done again once the base Stop has waited for the Receive in progress: a sample
// that was still on its way would otherwise leave its start as the next run's last start, and
// the next run's samples up to that time would not be shifted.
STDMETHODIMP TimeShiftFilter::Stop() {
  ResetRunState();
  HRESULT hr = CTransInPlaceFilter::Stop();
  ResetRunState();
  return hr;
}

HRESULT TimeShiftFilter::CheckInputType(const CMediaType* mtIn) {
  if (!mtIn) return E_INVALIDARG;
  if (*mtIn->Type() != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
  if (*mtIn->FormatType() != FORMAT_VideoInfo && *mtIn->FormatType() != FORMAT_VideoInfo2)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT TimeShiftFilter::Transform(IMediaSample* pSample) {
  if (!pSample) return S_OK;
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT hrTime = pSample->GetTime(&start, &stop);
  if (FAILED(hrTime)) return S_OK;  // no times: passes unchanged

  int offset = 0;
  {
    CAutoLock lock(&m_csState);
    // A start at or before the last shifted one (a repeated or earlier time, or time 0 at the
    // start of a run) keeps its times. Compared directly: the 64-bit difference could overflow.
    if (start <= m_tLastStart) return S_OK;
    offset = m_nSkew;
    m_tLastStart = start;
  }
  REFERENCE_TIME newStart = AddOffset(start, offset);
  if (hrTime == VFW_S_NO_STOP_TIME) {
    // Only a start time: shift it and leave the stop time unset rather than invent one.
    pSample->SetTime(&newStart, nullptr);
  } else {
    REFERENCE_TIME newStop = AddOffset(stop, offset);
    pSample->SetTime(&newStart, &newStop);
  }
  return S_OK;
}
