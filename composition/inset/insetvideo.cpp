#include "composition/inset/insetvideo.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "framework/pages.h"
#include "platform/strmbase/uuids.h"

CUnknown* InsetVideoFilter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  auto* filter = new (std::nothrow) InsetVideoFilter;
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

InsetVideoFilter::InsetVideoFilter()
    : VideoMixingBase(L"InsetVideoFilter", CLSID_InsetVideoFilter),
      CPersistSettings(GetOwner(), CLSID_InsetVideoFilter, PersistKind::Signed,
                       {{L"\"target_width\"", &m_nTargetWidth, VT_INT, VT_INT, true},
                        {L"\"target_height\"", &m_nTargetHeight, VT_INT, VT_INT, true},
                        {L"\"sub_pic_width\"", &m_nSubPicWidth, VT_INT, VT_INT, false},
                        {L"\"sub_pic_height\"", &m_nSubPicHeight, VT_INT, VT_INT, false},
                        {L"\"offset_x\"", &m_nSubPicOffsetX, VT_INT, VT_INT, false},
                        {L"\"offset_y\"", &m_nSubPicOffsetY, VT_INT, VT_INT, false}}) {
  InitParameters();
}

InsetVideoFilter::~InsetVideoFilter() = default;

STDMETHODIMP InsetVideoFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  if (GetPersistInterface(riid, ppv) == S_OK) return S_OK;
  return VideoMixingBase::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP InsetVideoFilter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_PicInPicProperties); }

void InsetVideoFilter::InitParameters() {
  AddParameter("target_width", &m_nTargetWidth, 0);
  AddParameter("target_height", &m_nTargetHeight, 0);
  AddParameter("sub_pic_width", &m_nSubPicWidth, 0);
  AddParameter("sub_pic_height", &m_nSubPicHeight, 0);
  AddParameter("offset_x", &m_nSubPicOffsetX, 0);
  AddParameter("offset_y", &m_nSubPicOffsetY, 0);
  AddParameter("border_width", &m_nBorderWidth, 0);
}

STDMETHODIMP InsetVideoFilter::GetParameter(const char* name, int bufferSize, char* value, int* length) {
  CAutoLock draw(&m_csDraw);  // the geometry update writes the values back
  return CSettingsInterface::GetParameter(name, bufferSize, value, length);
}

STDMETHODIMP InsetVideoFilter::SetParameter(const char* name, const char* value) {
  if (name && value && OutputConnected(0) &&
      (std::strcmp(name, "target_width") == 0 || std::strcmp(name, "target_height") == 0)) {
    char current[80];
    int length = 0;
    if (FAILED(GetParameter(name, sizeof current, current, &length))) return E_FAIL;
    return std::strcmp(current, value) == 0 ? S_FALSE : E_FAIL;
  }
  CAutoLock draw(&m_csDraw);
  const HRESULT hr = CSettingsInterface::SetParameter(name, value);
  if (SUCCEEDED(hr)) UpdateGeometry();
  return hr;
}

void InsetVideoFilter::PrepareWorker(int bits) {
  if (m_pCompositor && m_pCompositor->BitsPerPixel() != bits) {
    m_pCompositor.reset();
    m_pMainScaler.reset();
  }
  if (!m_pCompositor) {
    m_pCompositor = CreatePicInPic(bits);
    m_nBitCount = bits;
  }
}

HRESULT InsetVideoFilter::ComputeOutputSize(const BITMAPINFOHEADER* first, const BITMAPINFOHEADER* /*second*/,
                                            int* width, int* height, int* frameSize) {
  if (!width || !height || !frameSize) return E_POINTER;
  if (m_nTargetWidth > 0 && m_nTargetHeight > 0) {
    const long long size = RowBytes(m_nTargetWidth, m_nBitCount) * m_nTargetHeight;
    if (size > INT_MAX) {
      SetLastErrorText("InsetVideoFilter: \"target_width\" x \"target_height\" gives a frame above 2 GiB; "
                       "choose a smaller target size",
                       true);
      return E_INVALIDARG;
    }
    *width = m_nTargetWidth;
    *height = m_nTargetHeight;
    *frameSize = static_cast<int>(size);
  } else {
    if (!first) return E_POINTER;
    *frameSize = m_nInputFrameSize[0];
    *width = first->biWidth;
    *height = first->biHeight;
  }
  CAutoLock draw(&m_csDraw);
  UpdateGeometry();
  return S_OK;
}

bool InsetVideoFilter::EnsureScaler(std::unique_ptr<PicScalerBase>* scaler) {
  if (*scaler && (*scaler)->BitsPerPixel() != m_nBitCount) scaler->reset();
  if (!*scaler) *scaler = CreatePicScaler(m_nBitCount);
  return *scaler != nullptr;
}

// Under m_csDraw.
void InsetVideoFilter::UpdateGeometry() {
  // Sizes as pixels and rows: a top-down picture (negative height) has the same geometry.
  const int W = std::abs(m_nOutputWidth), H = std::abs(m_nOutputHeight);
  const int w0 = std::abs(m_inputFormat[0].bmiHeader.biWidth), h0 = std::abs(m_inputFormat[0].bmiHeader.biHeight);
  const int w1 = m_inputFormat[1].bmiHeader.biWidth, h1 = std::abs(m_inputFormat[1].bmiHeader.biHeight);

  if (m_nTargetWidth > 0 && m_nTargetHeight > 0) {
    if (!EnsureScaler(&m_pMainScaler)) return;
    m_pMainScaler->m_nSrcWidth = w0;
    m_pMainScaler->m_nSrcHeight = h0;
    m_pMainScaler->m_nDstWidth = m_nTargetWidth;
    m_pMainScaler->m_nDstHeight = m_nTargetHeight;
  } else {
    m_pMainScaler.reset();
  }

  if (w1 <= 0) {
    if (m_pCompositor) m_pCompositor->SetFrameSize(W, H);
    return;
  }

  if (m_nSubPicWidth <= 0 || m_nSubPicWidth >= W || m_nSubPicHeight <= 0 || m_nSubPicHeight >= H) {
    m_nSubPicWidth = w1 > W / 2 ? static_cast<int>(w1 * 0.4) : w1;
    m_nSubPicHeight = h1 > H / 2 ? static_cast<int>(h1 * 0.4) : h1;
  }

  if (w1 == m_nSubPicWidth && h1 == m_nSubPicHeight) {
    m_pSubScaler.reset();
    m_pSubFrame.clear();
    m_pSubFrame.shrink_to_fit();
  } else if (m_nSubPicWidth > 0 && m_nSubPicHeight > 0 && EnsureScaler(&m_pSubScaler)) {
    m_pSubScaler->m_nSrcWidth = w1;
    m_pSubScaler->m_nSrcHeight = h1;
    m_pSubScaler->m_nDstWidth = m_nSubPicWidth;
    m_pSubScaler->m_nDstHeight = m_nSubPicHeight;
    m_pSubFrame.assign(static_cast<size_t>(m_nSubPicWidth) * m_nSubPicHeight * (m_nBitCount / 8), 0);
  } else {
    m_pSubScaler.reset();
    m_pSubFrame.clear();
  }

  // Offsets below 0 would place rows before the frame: replaced like those past its edges.
  if (m_nSubPicWidth + static_cast<long long>(m_nSubPicOffsetX) >= W ||
      m_nSubPicHeight + static_cast<long long>(m_nSubPicOffsetY) >= H || m_nSubPicOffsetX < 0 || m_nSubPicOffsetY < 0) {
    m_nSubPicOffsetX = 10;
    m_nSubPicOffsetY = 10;
  }

  if (m_pCompositor) {
    m_pCompositor->SetFrameSize(W, H);
    m_pCompositor->SetSubSize(m_nSubPicWidth, m_nSubPicHeight);
    m_pCompositor->SetOffset(m_nSubPicOffsetX, m_nSubPicOffsetY);
  }
}

HRESULT InsetVideoFilter::CheckOutputType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  if (*pmt->Type() != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
  CAutoLock draw(&m_csDraw);
  m_bFlipOutput = false;
  const BITMAPINFOHEADER* bmi = BitmapHeader(*pmt);
  if (!bmi) return VFW_E_TYPE_NOT_ACCEPTED;
  if (bmi->biHeight != m_nOutputHeight) {
    if (std::llabs(static_cast<long long>(bmi->biHeight)) != std::llabs(static_cast<long long>(m_nOutputHeight)))
      return VFW_E_TYPE_NOT_ACCEPTED;
    m_bFlipOutput = true;
  }
  if (bmi->biWidth != m_nOutputWidth) return VFW_E_TYPE_NOT_ACCEPTED;
  return OutputSubtypeVerdict(*pmt->Subtype());
}

// Streaming thread, under m_csReceive and m_csDraw. Every buffer access is checked against the
// sizes the buffers really have, so a geometry that does not match them draws less, never
// outside.
void InsetVideoFilter::FillOutput(BYTE* out, long long size) {
  const int bits = m_nBitCount, b = bits / 8;
  const int W = std::abs(m_nOutputWidth), H = std::abs(m_nOutputHeight);
  const long long outStride = RowBytes(W, bits);
  const long long need = outStride * H;
  if (!m_pCompositor || b == 0 || W <= 0 || H <= 0 || need > size) {
    std::memset(out, 0, static_cast<size_t>(size));
    return;
  }
  const bool flip = m_bFlipOutput;

  // Background: the main picture, resampled, copied or flipped row by row; black without one.
  const std::vector<BYTE>& main = m_pInputFrame[0];
  PicScalerBase* scaler = m_pMainScaler.get();
  if (!main.empty() && scaler && scaler->m_nDstWidth == W && scaler->m_nDstHeight == H &&
      scaler->m_nSrcWidth == m_nStoreWidth[0] && scaler->m_nSrcHeight == m_nStoreHeight[0]) {
    scaler->m_nSrcStride = m_nInputStride[0];
    scaler->m_nDstStride = static_cast<int>(outStride);
    scaler->Scale(out, main.data(), flip);
  } else if (!main.empty() && m_nStoreWidth[0] == W && m_nStoreHeight[0] == H) {
    if (flip) {
      for (int i = 0; i < H; ++i)
        std::memcpy(out + (H - 1 - i) * outStride, main.data() + i * outStride, static_cast<size_t>(outStride));
    } else {
      std::memcpy(out, main.data(), static_cast<size_t>(need));
    }
  } else {
    std::memset(out, 0, static_cast<size_t>(need));
  }

  // Sub-picture: the second input, reduced when its size is not the sub-picture size.
  const std::vector<BYTE>& second = m_pInputFrame[1];
  if (second.empty()) return;
  const BYTE* source = second.data();
  long long sourceStride = m_nInputStride[1];
  int sourceWidth = m_nStoreWidth[1], sourceHeight = m_nStoreHeight[1];
  if (PicScalerBase* sub = m_pSubScaler.get()) {
    if (sub->m_nSrcWidth != sourceWidth || sub->m_nSrcHeight != sourceHeight ||
        m_pSubFrame.size() < static_cast<size_t>(sub->m_nDstWidth) * sub->m_nDstHeight * b)
      return;
    sub->m_nSrcStride = m_nInputStride[1];
    sub->m_nDstStride = 0;
    sub->Scale(m_pSubFrame.data(), source, false);
    source = m_pSubFrame.data();
    sourceWidth = sub->m_nDstWidth;
    sourceHeight = sub->m_nDstHeight;
    sourceStride = static_cast<long long>(sourceWidth) * b;
  }
  PicInPicBase& c = *m_pCompositor;
  if (c.m_nFrameWidth != W || c.m_nFrameHeight != H || c.m_nSubWidth > sourceWidth || c.m_nSubHeight > sourceHeight)
    return;
  c.m_nFrameStride = static_cast<int>(outStride);
  c.m_nSubStride = static_cast<int>(sourceStride);
  c.m_nBorderWidth = m_nBorderWidth;
  if (c.m_nBorderWidth != 0)
    c.ComposeBordered(source, out);
  else
    c.Compose(source, out, flip);
}
