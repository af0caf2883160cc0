#include "composition/tilemix/tilemix.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "framework/pages.h"
#include "platform/strmbase/uuids.h"

CUnknown* TileMixFilter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  auto* filter = new (std::nothrow) TileMixFilter;
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

TileMixFilter::TileMixFilter()
    : VideoMixingBase(L"TileMixFilter", CLSID_TileMixFilter),
      CPersistSettings(GetOwner(), CLSID_TileMixFilter, PersistKind::Signed,
                       {{L"\"orientation\"", &m_nOrientation, VT_INT, VT_INT, true}}) {
  InitParameters();
}

TileMixFilter::~TileMixFilter() = default;

STDMETHODIMP TileMixFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  if (GetPersistInterface(riid, ppv) == S_OK) return S_OK;
  return VideoMixingBase::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP TileMixFilter::GetPages(CAUUID* pPages) {
  return GetSinglePropertyPage(pPages, CLSID_VideoMixingProperties);
}

void TileMixFilter::InitParameters() { AddParameter("orientation", &m_nOrientation, 0); }

STDMETHODIMP TileMixFilter::SetParameter(const char* name, const char* value) {
  CAutoLock draw(&m_csDraw);
  return CSettingsInterface::SetParameter(name, value);
}

STDMETHODIMP TileMixFilter::GetParameter(const char* name, int bufferSize, char* value, int* length) {
  CAutoLock draw(&m_csDraw);
  return CSettingsInterface::GetParameter(name, bufferSize, value, length);
}

void TileMixFilter::PrepareWorker(int bits) {
  if (m_pJoiner && m_pJoiner->BitsPerPixel() != bits) m_pJoiner.reset();
  if (!m_pJoiner) {
    m_pJoiner = CreatePicConcat(bits);
    m_nBitCount = bits;
  }
}

HRESULT TileMixFilter::ReceiveFirst(IMediaSample* pSample) { return ReceiveOrPass(pSample, 0); }
HRESULT TileMixFilter::ReceiveSecond(IMediaSample* pSample) { return ReceiveOrPass(pSample, 1); }

HRESULT TileMixFilter::ReceiveOrPass(IMediaSample* pSample, int index) {
  if (!OutputConnected(0)) return S_FALSE;
  if (!pSample) return E_POINTER;
  if (!OtherInputConnected(index)) return DeliverDownstream(pSample);
  return ReceiveFrame(pSample, index);
}

HRESULT TileMixFilter::ComputeOutputSize(const BITMAPINFOHEADER* first, const BITMAPINFOHEADER* second, int* width,
                                         int* height, int* frameSize) {
  if (!width || !height || !frameSize) return E_POINTER;
  CAutoLock draw(&m_csDraw);
  long long w = 0, h = 0, size = 0;
  int w0 = 0, h0 = 0, w1 = 0, h1 = 0;
  if (first) w0 = first->biWidth, h0 = first->biHeight;
  if (second) w1 = second->biWidth, h1 = second->biHeight;
  const long long aw0 = std::llabs(w0), ah0 = std::llabs(h0), aw1 = std::llabs(w1), ah1 = std::llabs(h1);
  if (first && second) {
    if (m_nOrientation == 0) {
      w = aw0 + aw1;
      h = std::max(ah0, ah1);
    } else {
      w = std::max(aw0, aw1);
      h = ah0 + ah1;
    }
    size = RowBytes(w, m_nBitCount) * h;
    if (w > INT_MAX || h > INT_MAX || size > INT_MAX) {
      SetLastErrorText("TileMixFilter: the joined picture would exceed 2 GiB a frame; use smaller inputs", true);
      return E_INVALIDARG;
    }
  } else if (first) {
    w = w0, h = h0, size = m_nInputFrameSize[0];
  } else if (second) {
    w = w1, h = h1, size = m_nInputFrameSize[1];
  }
  if (m_pJoiner) {
    m_pJoiner->m_nFirstWidth = w0;
    m_pJoiner->m_nFirstHeight = h0;
    m_pJoiner->m_nSecondWidth = w1;
    m_pJoiner->m_nSecondHeight = h1;
    m_pJoiner->m_nOutWidth = static_cast<int>(w);
    m_pJoiner->m_nOutHeight = static_cast<int>(h);
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  *frameSize = static_cast<int>(size);
  return S_OK;
}

void TileMixFilter::InputDisconnected(int index) {
  VideoMixingBase::InputDisconnected(index);
  if (index != 0 && index != 1) return;
  // The joiner follows the input that stays; the output size is kept. The pin being disconnected
  // still reads as connected here.
  const int other = index == 0 ? 1 : 0;
  const BITMAPINFOHEADER* headers[2] = {nullptr, nullptr};
  if (InputConnected(other)) headers[other] = &m_inputFormat[other].bmiHeader;
  int width = 0, height = 0, size = 0;
  ComputeOutputSize(headers[0], headers[1], &width, &height, &size);
  CAutoLock draw(&m_csDraw);
  m_pInputFrame[index].clear();
  m_pInputFrame[index].shrink_to_fit();
  m_nInputFrameSize[index] = 0;
  m_nStoreWidth[index] = m_nStoreHeight[index] = 0;
}

HRESULT TileMixFilter::CheckOutputType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  if (*pmt->Type() != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
  CAutoLock draw(&m_csDraw);
  if (!m_pJoiner) return E_POINTER;
  m_bFlipOutput = false;
  const BITMAPINFOHEADER* bmi = BitmapHeader(*pmt);
  if (!bmi) return VFW_E_TYPE_NOT_ACCEPTED;
  if (bmi->biHeight != m_pJoiner->m_nOutHeight) {
    if (std::llabs(static_cast<long long>(bmi->biHeight)) != std::llabs(static_cast<long long>(m_pJoiner->m_nOutHeight)))
      return VFW_E_TYPE_NOT_ACCEPTED;
    m_bFlipOutput = true;
  }
  if (bmi->biWidth != m_pJoiner->m_nOutWidth) return VFW_E_TYPE_NOT_ACCEPTED;
  return OutputSubtypeVerdict(*pmt->Subtype());
}

// Streaming thread, under m_csReceive and m_csDraw.
void TileMixFilter::FillOutput(BYTE* out, long long size) {
  if (!m_pJoiner || m_nBitCount == 0) return;
  PicConcatBase& j = *m_pJoiner;
  j.m_nArrangement = m_nOrientation == 0 ? 3 : 1;
  const int W = std::abs(j.m_nOutWidth), H = std::abs(j.m_nOutHeight);
  const long long outStride = RowBytes(W, m_nBitCount);
  const long long need = outStride * H;
  // Both pictures must be the ones the stores hold and the output buffer must hold the frame.
  if (m_pInputFrame[0].empty() || m_pInputFrame[1].empty() || W <= 0 || H <= 0 || need > size ||
      std::abs(j.m_nFirstWidth) != m_nStoreWidth[0] || std::abs(j.m_nFirstHeight) != m_nStoreHeight[0] ||
      std::abs(j.m_nSecondWidth) != m_nStoreWidth[1] || std::abs(j.m_nSecondHeight) != m_nStoreHeight[1]) {
    std::memset(out, 0, static_cast<size_t>(size));
    return;
  }
  JoinRect first, second;
  j.Placement(m_bFlipOutput, &first, &second);
  const long long covered = static_cast<long long>(first.width) * first.height +
                            static_cast<long long>(second.width) * second.height -
                            [&] {
                              const long long ox = std::min(first.x + first.width, second.x + second.width) -
                                                   std::max(first.x, second.x);
                              const long long oy = std::min(first.y + first.height, second.y + second.height) -
                                                   std::max(first.y, second.y);
                              return ox > 0 && oy > 0 ? ox * oy : 0;
                            }();
  if (covered < static_cast<long long>(W) * H) {
    std::memset(out, 0, static_cast<size_t>(need));
  } else if (const long long picture = static_cast<long long>(W) * (m_nBitCount / 8); picture < outStride) {
    // The pictures cover every pixel but not the bytes that pad each row to 4: clear those.
    for (int y = 0; y < H; ++y) std::memset(out + y * outStride + picture, 0, static_cast<size_t>(outStride - picture));
  }
  j.m_nOutStride = static_cast<int>(outStride);
  j.m_nFirstStride = m_nInputStride[0];
  j.m_nSecondStride = m_nInputStride[1];
  j.Join(m_pInputFrame[0].data(), m_pInputFrame[1].data(), out, m_bFlipOutput);
}
