#include "h264/encoder/avcencode.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <strings.h>

#include "framework/pages.h"
#include "h264/common/avcformat.h"
#include "h264/common/videoformat.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"

namespace {

// The codec parameters every encoder starts with, in the order they are set.
constexpr std::pair<const char*, const char*> kCodecDefaults[] = {
    {"quality", "1"},
    {"incolour", "16"},
    {"outcolour", "16"},
    {"ipicturemultiplier", "1"},
    {"switchframeperiod", "12"},
    {"max bits per frame", "1000000"},
    {"num rate control frames", "25"},
    {"max distortion", "30000"},
    {"ipicture dmax multiplier", "2"},
    {"ipicture dmax fraction", "0"},
    {"minimum intra qp", "16"},
    {"minimum inter qp", "4"},
    {"rate overshoot percent", "100"},
    {"flip", "1"},
    {"unrestrictedmotion", "1"},
    {"extendedpicturetype", "1"},
    {"unrestrictedmotion", "1"},
    {"advancedintracoding", "1"},
    {"alternativeintervlc", "1"},
    {"modifiedquant", "1"},
    {"autoipicture", "1"},
    {"ipicturefraction", "0"},
};

constexpr int kParamSetBits = 800;

// True when name, compared without regard to case over its own length, begins full.
bool IsLeadingPartOf(const char* name, const char* full) {
  const size_t n = std::strlen(name);
  return n <= std::strlen(full) && strncasecmp(name, full, n) == 0;
}

}  // namespace

AvcEncodeFilter::AvcEncodeFilter(const h264::CodecProvider& provider)
    : CCustomBaseFilter(CLSID_AvcEncodeFilter), m_provider(provider) {
  InitialiseInputTypes();
  InitParameters();
  m_pCodec = h264::CreateCodec(m_provider, this);
  if (!m_pCodec) return;
  for (const auto& [name, value] : kCodecDefaults) m_pCodec->SetParameter(name, value);
}

AvcEncodeFilter::~AvcEncodeFilter() { h264::ReleaseCodec(m_provider, m_pCodec); }

STDMETHODIMP AvcEncodeFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  if (riid == IID_ICodecControlInterface) return GetInterface(static_cast<ICodecControlInterface*>(this), ppv);
  return CCustomBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP AvcEncodeFilter::GetPages(CAUUID* pPages) {
  return GetSinglePropertyPage(pPages, CLSID_H264EncoderProperties);
}

// ---------------------------------------------------------------------------------------------
// ICodecControlInterface

STDMETHODIMP AvcEncodeFilter::GetFrameBitLimit(int* pLimit) {
  if (!pLimit) return E_POINTER;
  *pLimit = static_cast<int>(m_nFrameBitLimit);
  return S_OK;
}

STDMETHODIMP AvcEncodeFilter::SetFrameBitLimit(int limit) {
  CAutoLock lock(&m_csCodec);
  if (limit <= 0) return E_FAIL;
  m_nFrameBitLimit = static_cast<unsigned>(limit);
  return S_OK;
}

STDMETHODIMP AvcEncodeFilter::GenerateIFrame() {
  CAutoLock lock(&m_csCodec);
  if (m_pCodec) m_pCodec->Restart();
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Settings

void AvcEncodeFilter::InitParameters() {
  AddParameter("framebitlimit", &m_nFrameBitLimit, 0);
  AddParameter("notifyoniframe", &m_bNotifyOnIFrame, false);
  AddParameter("iframeperiod", &m_nIFramePeriod, 0);
  AddParameter("sps", &m_sSeqParamSet, "", true);
  AddParameter("pps", &m_sPicParamSet, "", true);
  AddParameter("h264_output_type", &m_nOutputType, 2);
}

STDMETHODIMP AvcEncodeFilter::GetParameter(const char* name, int bufferSize, char* value, int* length) {
  const HRESULT hr = CCustomBaseFilter::GetParameter(name, bufferSize, value, length);
  if (hr != E_FAIL) return hr;  // found (or found and too long for the buffer)
  CAutoLock lock(&m_csCodec);
  std::string text;
  if (!name || !value || !length || !h264::GetCodecParameter(m_pCodec, name, &text)) return E_FAIL;
  if (!CopyTextToBuffer(text, value, bufferSize)) return E_OUTOFMEMORY;
  *length = static_cast<int>(text.size());
  return S_OK;
}

STDMETHODIMP AvcEncodeFilter::SetParameter(const char* name, const char* value) {
  if (SUCCEEDED(CCustomBaseFilter::SetParameter(name, value))) return S_OK;
  if (!name || !value) return E_POINTER;
  CAutoLock lock(&m_csCodec);
  if (!m_pCodec || m_pCodec->SetParameter(name, value) == 0) return E_FAIL;
  // Rate-control changes take effect at the next Open: reopen a codec that is open. One that was
  // never opened (no connection yet) opens with them at connection.
  if ((IsLeadingPartOf(name, "mode of operation") || IsLeadingPartOf(name, "quality")) && m_pCodec->IsReady())
    return h264::OpenCodec(m_pCodec, this);
  return S_OK;
}

STDMETHODIMP AvcEncodeFilter::GetParameterSettings(char* result, int bufferSize) {
  if (!result) return E_POINTER;
  // The codec's block goes after the whole listing, which is measured by its own length: the
  // "sps" and "pps" values hold zero bytes, so the listing's first zero is not its end.
  std::string text;
  if (FAILED(ParameterListing(&text))) return E_FAIL;
  CAutoLock lock(&m_csCodec);
  if (m_pCodec) {  // no codec: the filter's own parameters only
    std::string count;
    if (!h264::GetCodecParameter(m_pCodec, "parameters", &count)) return E_FAIL;
    char* end = nullptr;
    const long n = std::strtol(count.c_str(), &end, 10);
    if (end == count.c_str() || n < 0) return E_FAIL;
    text += "Codec Parameters:\r\n";
    for (long i = 0; i < n; ++i) {
      const char* pName = nullptr;
      int nameLength = 0;
      if (m_pCodec->GetParameterName(static_cast<int>(i), &pName, &nameLength) == 0 || !pName) continue;
      std::string value;
      h264::GetCodecParameter(m_pCodec, pName, &value);
      text += "Parameter: ";
      text += pName;
      text += " : Value:";
      text += value;
      text += "\r\n";
    }
  }
  return CopyTextToBuffer(text, result, bufferSize) ? S_OK : E_FAIL;
}

// ---------------------------------------------------------------------------------------------
// Connection

void AvcEncodeFilter::InitialiseInputTypes() {
  AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo);
  AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_PLENOR_YUV420P, &FORMAT_VideoInfo);
}

HRESULT AvcEncodeFilter::CheckInputType(const CMediaType* mtIn) {
  HRESULT hr = CCustomBaseFilter::CheckInputType(mtIn);
  if (hr != S_OK) return hr;
  const VIDEOINFOHEADER* vih = h264::VideoInfoOf(*mtIn);
  if (!vih) {
    SetLastErrorText("AvcEncodeFilter refuses the input type: its VIDEOINFOHEADER format block is missing or short",
                     true);
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  std::string reason;
  if (!h264::CodecTakesPicture(vih->bmiHeader.biWidth, vih->bmiHeader.biHeight, &reason)) {
    SetLastErrorText(("AvcEncodeFilter refuses the input type: " + reason).c_str(), true);
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

int AvcEncodeFilter::GenerateParamSet(int type, BYTE* buffer) {
  h264::SetCodecParameter(m_pCodec, "picture coding type", type);
  if (m_pCodec->Code(nullptr, buffer, kParamSetBits) == 0) return -1;
  return std::clamp(m_pCodec->GetCompressedLength(), 0, static_cast<int>(kParamSetBuffer));
}

HRESULT AvcEncodeFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
  const HRESULT R = CCustomBaseFilter::SetMediaType(direction, pmt);
  if (direction != PINDIR_INPUT || !pmt) return R;
  CAutoLock lock(&m_csCodec);
  m_bRgbInput = *pmt->Subtype() == MEDIASUBTYPE_RGB24;
  // Padded bitmap rows are packed for the codec, which reads rows of exactly 3 x width bytes.
  const long long packedRow = 3LL * m_nInWidth;
  if (m_bRgbInput && h264::BitmapStride(m_nInWidth, 3) != packedRow)
    m_vPacked.assign(static_cast<size_t>(packedRow * m_nInHeight), 0);
  else
    m_vPacked.clear();
  if (!m_pCodec) return R;  // reported at construction; nothing is ever coded

  m_pCodec->Close();
  if (*pmt->Subtype() == MEDIASUBTYPE_RGB24)
    m_pCodec->SetParameter("incolour", "0");
  else if (*pmt->Subtype() == MEDIASUBTYPE_PLENOR_YUV420P)
    m_pCodec->SetParameter("incolour", "16");
  h264::SetCodecParameter(m_pCodec, "width", m_nInWidth);
  h264::SetCodecParameter(m_pCodec, "height", m_nInHeight);

  m_pSeqParamSet.clear();
  m_pPicParamSet.clear();
  m_nSeqParamSetLength = m_nPicParamSetLength = 0;
  m_sSeqParamSet.clear();
  m_sPicParamSet.clear();

  m_pCodec->SetParameter("seq param set", "0");
  m_pCodec->SetParameter("pic param set", "0");
  m_pCodec->SetParameter("generate param set on open", "0");
  m_pSeqParamSet.assign(kParamSetBuffer, 0);
  const int spsLength = GenerateParamSet(2, m_pSeqParamSet.data());
  if (spsLength < 0) {
    m_pSeqParamSet.clear();
    SetLastErrorText(h264::CodecError(m_pCodec).c_str(), true);
    return R;  // the connection stands; every sample comes out empty
  }
  m_nSeqParamSetLength = static_cast<unsigned>(spsLength);
  m_sSeqParamSet.assign(reinterpret_cast<const char*>(m_pSeqParamSet.data()), m_nSeqParamSetLength);

  m_pPicParamSet.assign(kParamSetBuffer, 0);
  const int ppsLength = GenerateParamSet(3, m_pPicParamSet.data());
  if (ppsLength < 0) {
    m_pSeqParamSet.clear();
    m_pPicParamSet.clear();
    m_nSeqParamSetLength = 0;
    m_sSeqParamSet.clear();
    SetLastErrorText(h264::CodecError(m_pCodec).c_str(), true);
    return E_FAIL;
  }
  m_nPicParamSetLength = static_cast<unsigned>(ppsLength);
  m_sPicParamSet.assign(reinterpret_cast<const char*>(m_pPicParamSet.data()), m_nPicParamSetLength);

  m_pCodec->SetParameter("picture coding type", "0");
  m_pCodec->SetParameter("generate param set on open", "1");
  const HRESULT hr = h264::OpenCodec(m_pCodec, this);
  return FAILED(hr) ? hr : R;
}

HRESULT AvcEncodeFilter::BuildOutputType(unsigned type, const CMediaType& input, CMediaType* pMediaType) const {
  const VIDEOINFOHEADER* vihIn = h264::VideoInfoOf(input);
  if (!vihIn) return E_UNEXPECTED;  // the input check lets no such type through
  const long long rgbSize = h264::BitmapStride(vihIn->bmiHeader.biWidth, 3) * std::llabs(vihIn->bmiHeader.biHeight);
  const h264::Bytes sps(m_pSeqParamSet.data(), m_nSeqParamSetLength);
  const h264::Bytes pps(m_pPicParamSet.data(), m_nPicParamSetLength);

  HRESULT hr = pMediaType->Set(input);
  if (FAILED(hr)) return hr;
  if (type == 0) {
    std::vector<uint8_t> block(input.Format(), input.Format() + input.FormatLength());
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block.data());
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biSizeImage = static_cast<DWORD>(rgbSize);
    vih->bmiHeader.biCompression = h264::kAvc1FourCC;
    h264::AppendTrailer(block, sps, pps);
    pMediaType->SetSubtype(&MEDIASUBTYPE_PLENOR_H264);
    if (!pMediaType->SetFormat(block.data(), static_cast<ULONG>(block.size()))) return E_OUTOFMEMORY;
    return S_OK;
  }

  const size_t sequenceHeader = type == 2 ? h264::SequenceHeaderSize(sps, pps) : 0;
  const size_t blockSize = type == 2 ? sizeof(MPEG2VIDEOINFO) + sequenceHeader : sizeof(VIDEOINFOHEADER2);
  std::vector<uint8_t> block(blockSize, 0);
  auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(block.data());
  vih2->rcSource = {0, 0, m_nInWidth, m_nInHeight};
  vih2->rcTarget = vih2->rcSource;
  vih2->AvgTimePerFrame = vihIn->AvgTimePerFrame;
  vih2->dwPictAspectRatioX = static_cast<DWORD>(m_nInWidth);
  vih2->dwPictAspectRatioY = static_cast<DWORD>(m_nInHeight);
  BITMAPINFOHEADER& bmi = vih2->bmiHeader;
  bmi.biSize = sizeof(BITMAPINFOHEADER);
  bmi.biWidth = m_nInWidth;
  bmi.biHeight = m_nInHeight;
  bmi.biPlanes = 1;
  bmi.biBitCount = 24;
  bmi.biCompression = h264::kAvc1FourCC;
  bmi.biSizeImage = static_cast<DWORD>(rgbSize);
  if (type == 2) {
    auto* mpeg2 = reinterpret_cast<MPEG2VIDEOINFO*>(block.data());
    mpeg2->dwProfile = 66;
    mpeg2->dwLevel = 20;
    mpeg2->dwFlags = 4;
    mpeg2->cbSequenceHeader = static_cast<DWORD>(sequenceHeader);
    h264::WriteSequenceHeader(sps, pps, block.data() + offsetof(MPEG2VIDEOINFO, dwSequenceHeader));
    pMediaType->SetSubtype(&MEDIASUBTYPE_AVC1);
    pMediaType->SetFormatType(&FORMAT_MPEG2Video);
  } else {
    pMediaType->SetSubtype(&MEDIASUBTYPE_H264);
    pMediaType->SetFormatType(&FORMAT_VideoInfo2);
  }
  pMediaType->SetType(&MEDIATYPE_Video);
  if (!pMediaType->SetFormat(block.data(), static_cast<ULONG>(block.size()))) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT AvcEncodeFilter::GetMediaType(int iPosition, CMediaType* pMediaType) {
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  if (!pMediaType) return E_POINTER;
  CMediaType input;
  HRESULT hr = CopyInputConnectionType(&input);
  if (FAILED(hr)) return hr;
  if (m_nOutputType > 2) return S_OK;  // no row: the type stays as it was passed in
  return BuildOutputType(m_nOutputType, input, pMediaType);
}

HRESULT AvcEncodeFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  if (!mtIn || !mtOut) return E_POINTER;
  if (*mtOut->Type() != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
  static const GUID* const kRows[3][2] = {{&MEDIASUBTYPE_PLENOR_H264, &FORMAT_VideoInfo},
                                          {&MEDIASUBTYPE_H264, &FORMAT_VideoInfo2},
                                          {&MEDIASUBTYPE_AVC1, &FORMAT_MPEG2Video}};
  if (m_nOutputType > 2) return S_OK;
  if (*mtOut->Subtype() != *kRows[m_nOutputType][0] || *mtOut->FormatType() != *kRows[m_nOutputType][1])
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT AvcEncodeFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  if (!pAlloc || !pProp) return E_POINTER;
  AM_MEDIA_TYPE output{};
  HRESULT hr = m_pOutput->ConnectionMediaType(&output);
  if (FAILED(hr)) return hr;
  const BITMAPINFOHEADER* bmi = h264::BitmapHeaderOf(output);
  const long long bytes = bmi ? h264::BitmapStride(bmi->biWidth, bmi->biBitCount / 8) * std::llabs(bmi->biHeight) : -1;
  FreeMediaType(output);
  if (bytes <= 0 || bytes > INT32_MAX) return E_FAIL;
  return h264::SetBufferSize(pAlloc, pProp, static_cast<LONG>(bytes), 1);
}

// ---------------------------------------------------------------------------------------------
// Streaming

long long AvcEncodeFilter::InputFrameBytes() const {
  const long long pixels = static_cast<long long>(m_nInWidth) * m_nInHeight;
  return m_bRgbInput ? h264::BitmapStride(m_nInWidth, 3) * m_nInHeight : pixels * 3 / 2;
}

HRESULT AvcEncodeFilter::ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut,
                                        LONG lOutBufferSize, LONG& lOutDataLength) {
  CAutoLock lock(&m_csCodec);
  lOutDataLength = 0;
  if (!m_pCodec || m_pCodec->IsReady() == 0) return S_OK;

  const long long available = std::max<LONG>(0, std::min(lInDataLength, lInBufferSize));
  const long long frame = InputFrameBytes();
  if (available < frame) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "AvcEncodeFilter: input sample of %lld bytes is shorter than one %dx%d %s frame (%lld bytes); "
                  "it was not coded",
                  available, m_nInWidth, m_nInHeight, m_bRgbInput ? "RGB24" : "YUV 4:2:0", frame);
    SetLastErrorText(text, true);
    return S_OK;
  }

  if (m_nIFramePeriod != 0) {
    ++m_nFrameCount;
    if (m_nFrameCount % static_cast<unsigned>(m_nIFramePeriod) == 0) m_pCodec->Restart();
  }

  long long limit = m_nFrameBitLimit != 0 ? m_nFrameBitLimit : static_cast<long long>(m_nInWidth) * m_nInHeight * 24;
  // The codec writes at most limit / 8 bytes: never more than the output buffer holds.
  limit = std::min({limit, 8LL * std::max<LONG>(0, lOutBufferSize), static_cast<long long>(INT_MAX)});

  const BYTE* picture = pIn;
  if (!m_vPacked.empty()) {
    const size_t row = 3 * static_cast<size_t>(m_nInWidth);
    const size_t stride = static_cast<size_t>(h264::BitmapStride(m_nInWidth, 3));
    for (int y = 0; y < m_nInHeight; ++y) std::memcpy(m_vPacked.data() + y * row, pIn + y * stride, row);
    picture = m_vPacked.data();
  }

  if (m_pCodec->Code(picture, pOut, static_cast<int>(limit)) != 0) {
    const LONG coded = std::clamp<LONG>(m_pCodec->GetCompressedLength(), 0, std::max<LONG>(0, lOutBufferSize));
    lOutDataLength += coded;
    std::string type;
    if (h264::GetCodecParameter(m_pCodec, "last pic coding type", &type) && type == "0" && m_bNotifyOnIFrame)
      SetStatusText("I-Frame");
    if (m_nOutputType == 2) h264::StartCodesToLengthPrefixes(std::span<uint8_t>(pOut, static_cast<size_t>(coded)));
  } else {
    const std::string message =
        h264::CodecError(m_pCodec) + ". Requested frame bit limit=" + std::to_string(limit) + ".";
    m_pCodec->Restart();
    SetLastErrorText(message.c_str(), true);
  }
  return S_OK;
}
