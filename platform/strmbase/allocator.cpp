// Pooled media samples and the memory allocator.
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/com/runtime.h"
#include "platform/strmbase/amfilter.h"

// =============================================================================================
// CMediaSample

CMediaSample::CMediaSample(const wchar_t*, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer, LONG length)
    : m_pBuffer(pBuffer), m_cbBuffer(length), m_pAllocator(pAllocator) {
  if (!pAllocator && phr) *phr = VFW_E_NEED_OWNER;
}

CMediaSample::~CMediaSample() { DeleteMediaType(m_pMediaType); }

STDMETHODIMP CMediaSample::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSample || riid == IID_IMediaSample2 || riid == IID_IUnknown) {
    *ppv = static_cast<IMediaSample2*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

STDMETHODIMP_(ULONG) CMediaSample::Release() {
  LONG left = m_cRef.fetch_sub(1) - 1;
  if (left == 0) {
    // Back to the pool. The allocator may free this sample before ReleaseBuffer returns: touch
    // nothing afterwards.
    m_pAllocator->ReleaseBuffer(this);
    return 0;
  }
  return static_cast<ULONG>(left);
}

void CMediaSample::ResetForReuse() {
  m_dwFlags = 0;
  m_dwTypeSpecificFlags = 0;
  m_dwStreamId = AM_STREAM_MEDIA;
  if (m_pMediaType) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
  }
}

HRESULT CMediaSample::SetPointer(BYTE* ptr, LONG cBytes) {
  if (cBytes < 0) return VFW_E_BUFFER_OVERFLOW;
  m_pBuffer = ptr;
  m_cbBuffer = cBytes;
  m_lActual = cBytes;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer) {
  if (!ppBuffer) return E_POINTER;
  *ppBuffer = m_pBuffer;
  return S_OK;
}

STDMETHODIMP_(LONG) CMediaSample::GetSize() { return m_cbBuffer; }

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  if (!(m_dwFlags & Sample_TimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
  if (!pTimeStart || !pTimeEnd) return E_POINTER;
  *pTimeStart = m_Start;
  if (m_dwFlags & Sample_StopValid) {
    *pTimeEnd = m_End;
    return S_OK;
  }
  *pTimeEnd = m_Start + 1;
  return VFW_S_NO_STOP_TIME;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  if (!pTimeStart) {
    m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
    return S_OK;
  }
  m_Start = *pTimeStart;
  m_dwFlags |= Sample_TimeValid;
  if (pTimeEnd) {
    m_End = *pTimeEnd;
    m_dwFlags |= Sample_StopValid;
  } else {
    m_dwFlags &= ~Sample_StopValid;
  }
  return S_OK;
}

STDMETHODIMP CMediaSample::IsSyncPoint() { return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE; }

STDMETHODIMP CMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
  if (bIsSyncPoint)
    m_dwFlags |= Sample_SyncPoint;
  else
    m_dwFlags &= ~Sample_SyncPoint;
  return S_OK;
}

STDMETHODIMP CMediaSample::IsPreroll() { return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE; }

STDMETHODIMP CMediaSample::SetPreroll(BOOL bIsPreroll) {
  if (bIsPreroll)
    m_dwFlags |= Sample_Preroll;
  else
    m_dwFlags &= ~Sample_Preroll;
  return S_OK;
}

STDMETHODIMP_(LONG) CMediaSample::GetActualDataLength() { return m_lActual; }

STDMETHODIMP CMediaSample::SetActualDataLength(LONG len) {
  if (len < 0 || len > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  m_lActual = len;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
  if (!ppMediaType) return E_POINTER;
  if (!(m_dwFlags & Sample_TypeChanged) || !m_pMediaType) {
    *ppMediaType = nullptr;
    return S_FALSE;
  }
  *ppMediaType = CreateMediaType(m_pMediaType);
  return *ppMediaType ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
  if (m_pMediaType) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
  }
  if (!pMediaType) {
    m_dwFlags &= ~Sample_TypeChanged;
    return S_OK;
  }
  m_pMediaType = CreateMediaType(pMediaType);
  if (!m_pMediaType) {
    m_dwFlags &= ~Sample_TypeChanged;
    return E_OUTOFMEMORY;
  }
  m_dwFlags |= Sample_TypeChanged;
  return S_OK;
}

STDMETHODIMP CMediaSample::IsDiscontinuity() { return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE; }

STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
  if (bDiscontinuity)
    m_dwFlags |= Sample_Discontinuity;
  else
    m_dwFlags &= ~Sample_Discontinuity;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
  if (!(m_dwFlags & Sample_MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
  if (!pTimeStart || !pTimeEnd) return E_POINTER;
  *pTimeStart = m_MediaStart;
  *pTimeEnd = m_MediaStart + m_MediaEnd;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
  if (!pTimeStart) {
    m_dwFlags &= ~Sample_MediaTimeValid;
    return S_OK;
  }
  if (!pTimeEnd) return E_POINTER;
  m_MediaStart = *pTimeStart;
  m_MediaEnd = static_cast<LONG>(*pTimeEnd - *pTimeStart);
  m_dwFlags |= Sample_MediaTimeValid;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetProperties(DWORD cbProperties, BYTE* pbProperties) {
  if (cbProperties == 0) return S_OK;
  if (!pbProperties) return E_POINTER;
  AM_SAMPLE2_PROPERTIES props;
  props.cbData = cbProperties < sizeof(props) ? cbProperties : static_cast<DWORD>(sizeof(props));
  props.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
  // The internal media-time bit is not a sample property.
  props.dwSampleFlags = m_dwFlags & ~Sample_MediaTimeValid;
  if (!m_pMediaType) props.dwSampleFlags &= ~AM_SAMPLE_TYPECHANGED;
  props.lActual = m_lActual;
  props.tStart = m_Start;
  props.tStop = m_End;
  props.dwStreamId = m_dwStreamId;
  props.pMediaType = (m_dwFlags & Sample_TypeChanged) ? m_pMediaType : nullptr;
  props.pbBuffer = m_pBuffer;
  props.cbBuffer = m_cbBuffer;
  std::memcpy(pbProperties, &props, props.cbData);
  return S_OK;
}

STDMETHODIMP CMediaSample::SetProperties(DWORD cbProperties, const BYTE* pbProperties) {
  if (cbProperties == 0) return S_OK;
  if (!pbProperties) return E_POINTER;
  AM_SAMPLE2_PROPERTIES props;
  GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
  DWORD cb = cbProperties < sizeof(props) ? cbProperties : static_cast<DWORD>(sizeof(props));
  std::memcpy(&props, pbProperties, cb);
  auto covers = [cb](size_t offset, size_t size) { return cb >= offset + size; };

  if (covers(offsetof(AM_SAMPLE2_PROPERTIES, lActual), sizeof(LONG))) {
    if (props.lActual < 0 || props.lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  }
  // A changed type must come with the type itself.
  bool setType = covers(offsetof(AM_SAMPLE2_PROPERTIES, pMediaType), sizeof(AM_MEDIA_TYPE*));
  if (setType && (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && !props.pMediaType) return E_INVALIDARG;

  if (covers(offsetof(AM_SAMPLE2_PROPERTIES, dwTypeSpecificFlags), sizeof(DWORD)))
    m_dwTypeSpecificFlags = props.dwTypeSpecificFlags;
  if (covers(offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags), sizeof(DWORD))) {
    DWORD keep = m_dwFlags & Sample_MediaTimeValid;
    DWORD flags = props.dwSampleFlags & Sample_ValidFlags & ~Sample_MediaTimeValid;
    // The type-changed bit only stands while a type is attached.
    if (!setType) {
      flags &= ~AM_SAMPLE_TYPECHANGED;
      if (m_pMediaType && (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED)) flags |= AM_SAMPLE_TYPECHANGED;
    }
    m_dwFlags = flags | keep;
  }
  if (covers(offsetof(AM_SAMPLE2_PROPERTIES, lActual), sizeof(LONG))) m_lActual = props.lActual;
  if (covers(offsetof(AM_SAMPLE2_PROPERTIES, tStart), sizeof(REFERENCE_TIME))) m_Start = props.tStart;
  if (covers(offsetof(AM_SAMPLE2_PROPERTIES, tStop), sizeof(REFERENCE_TIME))) m_End = props.tStop;
  if (covers(offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId), sizeof(DWORD))) m_dwStreamId = props.dwStreamId;
  if (setType) {
    if (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
      if (props.pMediaType != m_pMediaType) {
        HRESULT hr = SetMediaType(props.pMediaType);
        if (FAILED(hr)) return hr;
      }
    } else if (m_pMediaType) {
      SetMediaType(nullptr);
    }
  }
  return S_OK;
}

// =============================================================================================
// CBaseAllocator

CBaseAllocator::CBaseAllocator(const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr) : CUnknown(pName, pUnk, phr) {}

CBaseAllocator::~CBaseAllocator() = default;

STDMETHODIMP CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
  if (!pRequest || !pActual) return E_POINTER;
  std::lock_guard lock(m_Lock);
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (m_lAllocated != static_cast<LONG>(m_lFree.size())) return VFW_E_BUFFERS_OUTSTANDING;
  *pActual = *pRequest;
  m_lCount = pRequest->cBuffers;
  m_lSize = pRequest->cbBuffer;
  m_lAlignment = pRequest->cbAlign;
  m_lPrefix = pRequest->cbPrefix;
  m_bChanged = true;
  return S_OK;
}

STDMETHODIMP CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
  if (!pProps) return E_POINTER;
  std::lock_guard lock(m_Lock);
  pProps->cBuffers = m_lCount;
  pProps->cbBuffer = m_lSize;
  pProps->cbAlign = m_lAlignment;
  pProps->cbPrefix = m_lPrefix;
  return S_OK;
}

STDMETHODIMP CBaseAllocator::Commit() {
  std::lock_guard lock(m_Lock);
  if (m_bCommitted) return S_OK;
  if (m_bDecommitInProgress) {
    // Samples are still out: the buffers were never freed, take them back into use.
    m_bDecommitInProgress = false;
    m_bCommitted = true;
    return S_OK;
  }
  if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
  HRESULT hr = Alloc();
  if (FAILED(hr)) return hr;
  m_bCommitted = true;
  return S_OK;
}

STDMETHODIMP CBaseAllocator::Decommit() {
  std::lock_guard lock(m_Lock);
  if (!m_bCommitted) return S_OK;
  m_bCommitted = false;
  if (m_lAllocated == static_cast<LONG>(m_lFree.size())) {
    Free();
  } else {
    m_bDecommitInProgress = true;
  }
  // Pending GetBuffer calls fail now.
  m_FreeCond.notify_all();
  return S_OK;
}

STDMETHODIMP CBaseAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                                       REFERENCE_TIME* pEndTime, DWORD dwFlags) {
  if (!ppBuffer) return E_POINTER;
  *ppBuffer = nullptr;
  CMediaSample* pSample = nullptr;
  {
    std::unique_lock lock(m_Lock);
    for (;;) {
      if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
      if (!m_lFree.empty()) {
        pSample = m_lFree.back();
        m_lFree.pop_back();
        break;
      }
      if (dwFlags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
      m_FreeCond.wait(lock);
    }
  }
  // Each sample out keeps the allocator alive until it comes back.
  NonDelegatingAddRef();
  pSample->SetRefForHandOut();
  pSample->SetTime(pStartTime, pEndTime);
  pSample->m_lActual = pSample->m_cbBuffer;
  *ppBuffer = pSample;
  return S_OK;
}

STDMETHODIMP CBaseAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
  if (!pBuffer) return E_POINTER;
  auto* pSample = static_cast<CMediaSample*>(pBuffer);
  pSample->ResetForReuse();
  {
    std::lock_guard lock(m_Lock);
    m_lFree.push_back(pSample);
    if (m_bDecommitInProgress && m_lAllocated == static_cast<LONG>(m_lFree.size())) {
      m_bDecommitInProgress = false;
      Free();
    }
    m_FreeCond.notify_one();
  }
  NonDelegatingRelease();
  return S_OK;
}

LONG CBaseAllocator::OutstandingCount() {
  std::lock_guard lock(m_Lock);
  return m_lAllocated - static_cast<LONG>(m_lFree.size());
}

BOOL CBaseAllocator::IsCommitted() {
  std::lock_guard lock(m_Lock);
  return m_bCommitted ? TRUE : FALSE;
}

// =============================================================================================
// CMemAllocator

CMemAllocator::CMemAllocator(const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr) : CBaseAllocator(pName, pUnk, phr) {}

CMemAllocator::~CMemAllocator() { ReallyFree(); }

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
  if (!pRequest || !pActual) return E_POINTER;
  LONG align = pRequest->cbAlign;
  if (align <= 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
  if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0) return E_INVALIDARG;
  // Round up so that every buffer starts aligned after its prefix.
  long long size = static_cast<long long>(pRequest->cbBuffer) + pRequest->cbPrefix;
  long long remainder = size % align;
  if (remainder != 0) size += align - remainder;
  if (size - pRequest->cbPrefix > 0x7FFFFFFF || size * pRequest->cBuffers > (1ll << 40)) return E_OUTOFMEMORY;
  ALLOCATOR_PROPERTIES adjusted = *pRequest;
  adjusted.cbBuffer = static_cast<LONG>(size - pRequest->cbPrefix);
  return CBaseAllocator::SetProperties(&adjusted, pActual);
}

HRESULT CMemAllocator::Alloc() {
  // Called under the lock with no sample out.
  if (m_pBuffer && !m_bChanged) return S_OK;
  ReallyFree();
  size_t align = static_cast<size_t>(m_lAlignment > 0 ? m_lAlignment : 1);
  if (align < alignof(std::max_align_t)) align = alignof(std::max_align_t);
  size_t stride = static_cast<size_t>(m_lSize) + static_cast<size_t>(m_lPrefix);
  size_t total = stride * static_cast<size_t>(m_lCount);
  // Picture-sized pools (megabytes) on 2 MB pages where the system has them: a 1080p RGB24 frame
  // spans some 1500 small pages, each a page fault at first use after every Commit and a TLB miss
  // on every pass over it.
  constexpr size_t kHugePage = size_t{2} << 20;
  const bool huge = total >= 2 * kHugePage;
  if (huge && align < kHugePage) align = kHugePage;
  total = (total + align - 1) / align * align;
  m_pBuffer = static_cast<BYTE*>(std::aligned_alloc(align, total));
  if (!m_pBuffer) return E_OUTOFMEMORY;
  if (huge) madvise(m_pBuffer, total, MADV_HUGEPAGE);  // a hint: refused, it changes nothing
  try {
    m_Samples.reserve(static_cast<size_t>(m_lCount));
    m_lFree.reserve(static_cast<size_t>(m_lCount));
    for (LONG i = 0; i < m_lCount; i++) {
      HRESULT hr = S_OK;
      BYTE* p = m_pBuffer + stride * static_cast<size_t>(i) + static_cast<size_t>(m_lPrefix);
      m_Samples.push_back(std::make_unique<CMediaSample>(L"Memory sample", this, &hr, p, m_lSize));
      m_lFree.push_back(m_Samples.back().get());
    }
  } catch (const std::bad_alloc&) {
    ReallyFree();
    return E_OUTOFMEMORY;
  }
  m_lAllocated = m_lCount;
  m_bChanged = false;
  m_lAllocations++;
  return S_OK;
}

void CMemAllocator::Free() {
  // Called under the lock once every sample is back after a Decommit. The memory is kept for the
  // next Commit (a graph stopped and run again): fresh picture-sized memory costs a page fault
  // and the zeroing of every page at its first use, which for a short run of 1080p frames is a
  // few per cent of the run. It goes when the properties change (Alloc) or with the allocator.
}

void CMemAllocator::ReallyFree() {
  m_lFree.clear();
  m_Samples.clear();
  std::free(m_pBuffer);
  m_pBuffer = nullptr;
  m_lAllocated = 0;
}

HRESULT CreateMemoryAllocator(IMemAllocator** ppAllocator) {
  if (!ppAllocator) return E_POINTER;
  *ppAllocator = nullptr;
  HRESULT hr = S_OK;
  auto* p = new (std::nothrow) CMemAllocator(L"Memory allocator", nullptr, &hr);
  if (!p) return E_OUTOFMEMORY;
  p->NonDelegatingAddRef();
  *ppAllocator = p;
  return S_OK;
}
