// CMediaType and the media type helpers. Depends only on the runtime's task allocator, so the
// graph runtime can compile this file too.
#include "platform/strmbase/mtype.h"

#include <cstring>
#include <utility>

#include "platform/com/runtime.h"

namespace {

void ZeroType(AM_MEDIA_TYPE& mt) {
  std::memset(static_cast<void*>(&mt), 0, sizeof(AM_MEDIA_TYPE));
}

}  // namespace

void FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 || mt.pbFormat) {
    CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
  }
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return;
  FreeMediaType(*pmt);
  CoTaskMemFree(pmt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource) {
  if (!pmtTarget || !pmtSource) return E_POINTER;
  if (pmtTarget == pmtSource) return S_OK;
  *pmtTarget = *pmtSource;
  if (pmtSource->cbFormat != 0 && pmtSource->pbFormat) {
    pmtTarget->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pmtSource->cbFormat));
    if (!pmtTarget->pbFormat) {
      pmtTarget->cbFormat = 0;
      pmtTarget->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(pmtTarget->pbFormat, pmtSource->pbFormat, pmtSource->cbFormat);
  } else {
    pmtTarget->cbFormat = 0;
    pmtTarget->pbFormat = nullptr;
  }
  if (pmtTarget->pUnk) pmtTarget->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc) {
  if (!pSrc) return nullptr;
  auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!pmt) return nullptr;
  if (FAILED(CopyMediaType(pmt, pSrc))) {
    CoTaskMemFree(pmt);
    return nullptr;
  }
  return pmt;
}

HRESULT CreateAudioMediaType(const WAVEFORMATEX* pwfx, AM_MEDIA_TYPE* pmt, BOOL bSetFormat) {
  if (!pwfx || !pmt) return E_POINTER;
  ZeroType(*pmt);
  pmt->majortype = MEDIATYPE_Audio;
  pmt->subtype = MEDIASUBTYPE_PCM;
  // Wave-tag subtypes share the FOURCC pattern with the tag in the first field.
  pmt->subtype.Data1 = pwfx->wFormatTag;
  pmt->formattype = FORMAT_WaveFormatEx;
  pmt->bFixedSizeSamples = TRUE;
  pmt->bTemporalCompression = FALSE;
  pmt->lSampleSize = pwfx->nBlockAlign;
  if (bSetFormat) {
    ULONG cb = static_cast<ULONG>(sizeof(WAVEFORMATEX)) + (pwfx->wFormatTag == WAVE_FORMAT_PCM ? 0u : pwfx->cbSize);
    pmt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(cb));
    if (!pmt->pbFormat) return E_OUTOFMEMORY;
    std::memcpy(pmt->pbFormat, pwfx, cb);
    if (pwfx->wFormatTag == WAVE_FORMAT_PCM) reinterpret_cast<WAVEFORMATEX*>(pmt->pbFormat)->cbSize = 0;
    pmt->cbFormat = cb;
  }
  return S_OK;
}

// ---- CMediaType ----

CMediaType::CMediaType() {
  ZeroType(*this);
  InitMediaType();
}

CMediaType::CMediaType(const GUID* type) {
  ZeroType(*this);
  InitMediaType();
  majortype = *type;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr) {
  ZeroType(*this);
  HRESULT hr = CopyMediaType(this, &rt);
  if (FAILED(hr) && phr) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& rt, HRESULT* phr) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(rt), phr) {}

CMediaType::CMediaType(CMediaType&& rt) noexcept {
  static_cast<AM_MEDIA_TYPE&>(*this) = rt;
  rt.pbFormat = nullptr;
  rt.cbFormat = 0;
  rt.pUnk = nullptr;
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& rt) {
  Set(rt);
  return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& rt) {
  Set(rt);
  return *this;
}

CMediaType& CMediaType::operator=(CMediaType&& rt) noexcept {
  if (this != &rt) {
    FreeMediaType(*this);
    static_cast<AM_MEDIA_TYPE&>(*this) = rt;
    rt.pbFormat = nullptr;
    rt.cbFormat = 0;
    rt.pUnk = nullptr;
  }
  return *this;
}

HRESULT CMediaType::Set(const CMediaType& rt) { return Set(static_cast<const AM_MEDIA_TYPE&>(rt)); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& rt) {
  if (&rt == this) return S_OK;
  FreeMediaType(*this);
  HRESULT hr = CopyMediaType(this, &rt);
  if (FAILED(hr)) {
    InitMediaType();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool CMediaType::operator==(const CMediaType& rt) const {
  if (majortype != rt.majortype || subtype != rt.subtype || formattype != rt.formattype) return false;
  if (cbFormat != rt.cbFormat) return false;
  if (cbFormat == 0) return true;
  if (!pbFormat || !rt.pbFormat) return pbFormat == rt.pbFormat;
  return std::memcmp(pbFormat, rt.pbFormat, cbFormat) == 0;
}

BOOL CMediaType::IsValid() const { return majortype != GUID_NULL ? TRUE : FALSE; }

ULONG CMediaType::GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }

void CMediaType::SetSampleSize(ULONG sz) {
  if (sz == 0) {
    SetVariableSize();
  } else {
    bFixedSizeSamples = TRUE;
    lSampleSize = sz;
  }
}

void CMediaType::SetVariableSize() {
  bFixedSizeSamples = FALSE;
  lSampleSize = 0;
}

BOOL CMediaType::SetFormat(const BYTE* pFormat, ULONG length) {
  if (length == 0) {
    ResetFormatBuffer();
    return TRUE;
  }
  if (!pFormat) return FALSE;
  // The source may be our own block: copy before freeing.
  auto* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!p) return FALSE;
  std::memcpy(p, pFormat, length);
  CoTaskMemFree(pbFormat);
  pbFormat = p;
  cbFormat = length;
  return TRUE;
}

void CMediaType::ResetFormatBuffer() {
  CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  if (length == 0) return nullptr;
  auto* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!p) return nullptr;
  std::memset(p, 0, length);
  CoTaskMemFree(pbFormat);
  pbFormat = p;
  cbFormat = length;
  return p;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
  if (length == 0) return nullptr;
  if (length == cbFormat && pbFormat) return pbFormat;
  auto* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!p) return nullptr;
  std::memset(p, 0, length);
  if (pbFormat) std::memcpy(p, pbFormat, cbFormat < length ? cbFormat : length);
  CoTaskMemFree(pbFormat);
  pbFormat = p;
  cbFormat = length;
  return p;
}

void CMediaType::InitMediaType() {
  FreeMediaType(*this);
  ZeroType(*this);
  lSampleSize = 1;
  bFixedSizeSamples = TRUE;
}

BOOL CMediaType::MatchesPartial(const CMediaType* ppartial) const {
  if (ppartial->majortype != GUID_NULL && majortype != ppartial->majortype) return FALSE;
  if (ppartial->subtype != GUID_NULL && subtype != ppartial->subtype) return FALSE;
  if (ppartial->formattype != GUID_NULL) {
    if (formattype != ppartial->formattype) return FALSE;
    if (cbFormat != ppartial->cbFormat) return FALSE;
    if (cbFormat != 0 && std::memcmp(pbFormat, ppartial->pbFormat, cbFormat) != 0) return FALSE;
  }
  return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const {
  return (majortype == GUID_NULL || formattype == GUID_NULL) ? TRUE : FALSE;
}
