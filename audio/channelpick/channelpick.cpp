#include "audio/channelpick/channelpick.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "framework/pages.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"

namespace {

// Bytes of a WAVEFORMATEX block that carry the PCM fields (everything before cbSize). Plain PCM
// blocks are often written without cbSize, so a block of this length is enough.
constexpr ULONG kPcmFormatBytes = offsetof(WAVEFORMATEX, cbSize);

// The wave format of an audio type, or null when the type has no WAVEFORMATEX block long enough
// to hold the PCM fields. The block belongs to the type.
WAVEFORMATEX* WaveFormat(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < kPcmFormatBytes) return nullptr;
  return reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat);
}

bool IsPcm(const AM_MEDIA_TYPE& mt) { return mt.majortype == MEDIATYPE_Audio && mt.subtype == MEDIASUBTYPE_PCM; }

// Copies count samples of Bytes bytes each, taken every second sample starting at pIn.
template <int Bytes>
void CopyEverySecondSample(const BYTE* pIn, BYTE* pOut, LONG count) {
  for (LONG i = 0; i < count; ++i) std::memcpy(pOut + i * Bytes, pIn + i * 2 * Bytes, Bytes);
}

}  // namespace

CUnknown* ChannelPickFilter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  auto* filter = new (std::nothrow) ChannelPickFilter;
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

ChannelPickFilter::ChannelPickFilter()
    : CCustomBaseFilter(CLSID_ChannelPickFilter),
      CPersistSettings(GetOwner(), CLSID_ChannelPickFilter, PersistKind::Signed,
                       {{L"\"CHANNEL\"", &m_nChannel, VT_INT, VT_INT, true}}) {
  InitParameters();
}

STDMETHODIMP ChannelPickFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (GetPersistInterface(riid, ppv) == S_OK) return S_OK;
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CCustomBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP ChannelPickFilter::GetPages(CAUUID* pPages) {
  return GetSinglePropertyPage(pPages, CLSID_Stereo2MonoProperties);
}

void ChannelPickFilter::InitParameters() { AddParameter("channel", &m_nChannel, 0); }

HRESULT ChannelPickFilter::CheckInputType(const CMediaType* mtIn) {
  if (!mtIn) return E_POINTER;
  const WAVEFORMATEX* wfx = WaveFormat(*mtIn);
  if (!IsPcm(*mtIn) || !wfx || wfx->nChannels != 2) return VFW_E_TYPE_NOT_ACCEPTED;
  m_nBitsPerSample = wfx->wBitsPerSample;
  return S_OK;
}

HRESULT ChannelPickFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
  HRESULT hr = CCustomBaseFilter::SetMediaType(direction, pmt);
  if (direction == PINDIR_INPUT && pmt && pmt->majortype == MEDIATYPE_Audio) {
    if (const WAVEFORMATEX* wfx = WaveFormat(*pmt)) {
      m_nBitsPerSample = wfx->wBitsPerSample;
      m_nSampleRate = static_cast<int>(wfx->nSamplesPerSec);
    }
  }
  return hr;
}

HRESULT ChannelPickFilter::GetMediaType(int iPosition, CMediaType* pMediaType) {
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  if (!pMediaType) return E_POINTER;
  HRESULT hr = CopyInputConnectionType(pMediaType);
  if (FAILED(hr)) return hr;
  WAVEFORMATEX* wfx = WaveFormat(*pMediaType);
  if (!wfx) return VFW_E_TYPE_NOT_ACCEPTED;  // the input check lets no such type through
  wfx->nChannels = 1;
  wfx->nBlockAlign = static_cast<WORD>(m_nBitsPerSample >> 3);
  wfx->nAvgBytesPerSec = static_cast<DWORD>(m_nSampleRate) * wfx->nBlockAlign;
  return S_OK;
}

HRESULT ChannelPickFilter::CheckTransform(const CMediaType* /*mtIn*/, const CMediaType* mtOut) {
  if (!mtOut) return E_POINTER;
  const WAVEFORMATEX* wfx = WaveFormat(*mtOut);
  if (!IsPcm(*mtOut) || !wfx || wfx->nChannels != 1 ||
      wfx->nSamplesPerSec != static_cast<DWORD>(m_nSampleRate) || wfx->wBitsPerSample != m_nBitsPerSample)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT ChannelPickFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  if (!pAlloc || !pProp) return E_POINTER;
  AM_MEDIA_TYPE output{};
  HRESULT hr = m_pOutput->ConnectionMediaType(&output);
  if (FAILED(hr)) return hr;
  // One second of the output format, computed wide: a hostile rate must not wrap the size.
  long long oneSecond = -1;
  if (const WAVEFORMATEX* wfx = WaveFormat(output))
    oneSecond = static_cast<long long>(wfx->wBitsPerSample / 8) * wfx->nChannels * wfx->nSamplesPerSec;
  FreeMediaType(output);
  if (oneSecond < 0 || oneSecond > std::numeric_limits<LONG>::max()) return E_FAIL;
  // Half of the largest input buffer the upstream allocator hands out, so that no buffer is cut
  // (an input buffer longer than two seconds of stereo would not fit one second of mono).
  long long bytes = oneSecond;
  if (IMemAllocator* upstream = m_pInput ? m_pInput->PeekAllocator() : nullptr) {
    ALLOCATOR_PROPERTIES in{};
    if (SUCCEEDED(upstream->GetProperties(&in)) && in.cbBuffer > 0)
      bytes = std::max<long long>(bytes, (static_cast<long long>(in.cbBuffer) + 1) / 2);
  }

  pProp->cbBuffer = static_cast<LONG>(bytes);
  if (pProp->cbAlign == 0) pProp->cbAlign = 1;
  if (pProp->cBuffers == 0) pProp->cBuffers = 1;
  ALLOCATOR_PROPERTIES actual{};
  hr = pAlloc->SetProperties(pProp, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pProp->cbBuffer ? E_FAIL : S_OK;
}

// Streaming thread, under the receive lock. The input holds interleaved two-sample frames; the
// chosen channel's samples go to consecutive output samples. Only samples lying wholly inside the
// input data are read, and no more are written than the output buffer holds (the buffers are
// sized from the input's, so that only happens when an upstream filter sends more than its
// allocator's buffers hold; the cut is then reported through the status interface). The reported
// length is half the input length, but never more than was written: nothing for sample sizes
// other than 8 and 16 bits.
HRESULT ChannelPickFilter::ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut,
                                          LONG lOutBufferSize, LONG& lOutDataLength) {
  // Read once per buffer; every value but 1 keeps the first channel.
  const bool secondChannel = m_nChannel == 1;
  const int bits = m_nBitsPerSample;
  const LONG length = std::clamp<LONG>(lInDataLength, 0, std::max<LONG>(lInBufferSize, 0));
  const LONG room = std::max<LONG>(lOutBufferSize, 0);

  LONG written = 0;
  if (bits == 8 || bits == 16) {
    const LONG bytes = bits / 8;
    const LONG offset = secondChannel ? bytes : 0;
    const LONG whole = length >= offset + bytes ? (length - offset - bytes) / (2 * bytes) + 1 : 0;
    const LONG count = std::min(whole, room / bytes);
    if (count < whole) ReportCut(whole - count, room);
    if (bytes == 1)
      CopyEverySecondSample<1>(pIn + offset, pOut, count);
    else
      CopyEverySecondSample<2>(pIn + offset, pOut, count);
    written = count * bytes;
  }
  lOutDataLength = std::min(length / 2, written);
  return S_OK;
}

void ChannelPickFilter::ReportCut(LONG samples, LONG room) {
  char text[256];
  std::snprintf(text, sizeof text,
                "ChannelPickFilter: an input buffer held %ld more samples than the %ld-byte output buffer; they "
                "were dropped (the upstream filter sent more than its buffers were negotiated for)",
                static_cast<long>(samples), static_cast<long>(room));
  SetLastErrorText(text, true);
}
