#include "h264/decoder/avcdecode.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "h264/common/avcformat.h"
#include "h264/common/videoformat.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"

namespace {

// Bytes before the sequence header in an MPEG2VIDEOINFO block.
constexpr size_t kMpeg2FixedSize = offsetof(MPEG2VIDEOINFO, dwSequenceHeader);

// The fixed part of the format block that a trailer follows.
size_t FixedFormatSize(const AM_MEDIA_TYPE& mt) {
  return mt.formattype == FORMAT_MPEG2Video ? kMpeg2FixedSize : sizeof(VIDEOINFOHEADER);
}

h264::Bytes FormatBytes(const AM_MEDIA_TYPE& mt) {
  return mt.pbFormat ? h264::Bytes(mt.pbFormat, mt.cbFormat) : h264::Bytes();
}

// The codec parameters set at every input connection after the size, in order.
constexpr const char* kConnectionFlags[] = {"flip",          "unrestrictedmotion",  "extendedpicturetype",
                                            "unrestrictedmotion", "advancedintracoding", "alternativeintervlc",
                                            "modifiedquant", "autoipicture"};

}  // namespace

AvcDecodeFilter::AvcDecodeFilter(const h264::CodecProvider& provider)
    : CCustomBaseFilter(CLSID_AvcDecodeFilter), m_provider(provider) {
  InitialiseInputTypes();
  InitParameters();
  m_pCodec = h264::CreateCodec(m_provider, this);
  if (m_pCodec) m_pCodec->SetParameter("outcolour", "0");
}

AvcDecodeFilter::~AvcDecodeFilter() {
  m_pSeqParamSet.clear();
  m_pPicParamSet.clear();
  h264::ReleaseCodec(m_provider, m_pCodec);
}

STDMETHODIMP AvcDecodeFilter::SetParameter(const char* name, const char* value) {
  if (!name || !value) return E_POINTER;
  CAutoLock lock(&m_csCodec);
  if (!m_pCodec || m_pCodec->SetParameter(name, value) == 0) return E_FAIL;
  return S_OK;
}

void AvcDecodeFilter::InitialiseInputTypes() {
  AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_PLENOR_H264, &FORMAT_VideoInfo);
  AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_AVC1, &FORMAT_MPEG2Video);
  AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_H264, &FORMAT_MPEG2Video);
  AddInputType(&MEDIATYPE_Stream, &MEDIASUBTYPE_PLENOR_H264, &FORMAT_VideoInfo);
  AddInputType(&MEDIATYPE_Stream, &MEDIASUBTYPE_H264, &FORMAT_VideoInfo);
}

HRESULT AvcDecodeFilter::Refuse(HRESULT hr, const std::string& text) {
  SetLastErrorText(text.c_str(), true);
  return hr;
}

HRESULT AvcDecodeFilter::CheckInputType(const CMediaType* mtIn) {
  HRESULT hr = CCustomBaseFilter::CheckInputType(mtIn);
  if (hr != S_OK) return hr;
  const bool mpeg2 = *mtIn->FormatType() == FORMAT_MPEG2Video;
  const BITMAPINFOHEADER* bmi = h264::BitmapHeaderOf(*mtIn);
  if (!bmi || (mpeg2 && mtIn->FormatLength() < kMpeg2FixedSize))
    return Refuse(VFW_E_TYPE_NOT_ACCEPTED, std::string("AvcDecodeFilter refuses the input type: its ") +
                                               (mpeg2 ? "MPEG2VIDEOINFO" : "VIDEOINFOHEADER") +
                                               " format block is missing or short");
  std::string reason;
  if (!h264::CodecTakesPicture(bmi->biWidth, bmi->biHeight, &reason))
    return Refuse(VFW_E_TYPE_NOT_ACCEPTED, "AvcDecodeFilter refuses the input type: " + reason);
  return S_OK;
}

void AvcDecodeFilter::ReportDecodeError() {
  SetLastErrorText(("H264 decode error has occurred: " + h264::CodecError(m_pCodec)).c_str(), true);
}

HRESULT AvcDecodeFilter::OpenCodec() {
  // An SPS or PPS is absorbed without a picture, but the bytes come from a format block: give the
  // codec a full picture to write into, whatever they hold.
  if (m_pCodec->Decode(m_pSeqParamSet.data(), static_cast<int>(m_pSeqParamSet.size() * 8), m_vPacked.data()) == 0 ||
      m_pCodec->Decode(m_pPicParamSet.data(), static_cast<int>(m_pPicParamSet.size() * 8), m_vPacked.data()) == 0) {
    ReportDecodeError();
    return E_FAIL;
  }
  m_pCodec->SetParameter("generate param set on open", "0");
  return h264::OpenCodec(m_pCodec, this);
}

long long AvcDecodeFilter::OutputStride() const { return h264::BitmapStride(m_nInWidth, 3); }

HRESULT AvcDecodeFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
  const HRESULT R = CCustomBaseFilter::SetMediaType(direction, pmt);
  if (direction != PINDIR_INPUT || !pmt) return R;
  CAutoLock lock(&m_csCodec);
  // One packed picture: the target of parameter-set decoding and of pictures whose bitmap rows
  // are padded.
  m_vPacked.assign(static_cast<size_t>(3LL * m_nInWidth * m_nInHeight), 0);
  m_nNalLengthSize = 0;
  if (!m_pCodec) return R;  // reported at construction; nothing is ever decoded

  h264::SetCodecParameter(m_pCodec, "width", m_nInWidth);
  h264::SetCodecParameter(m_pCodec, "height", m_nInHeight);
  for (const char* flag : kConnectionFlags) m_pCodec->SetParameter(flag, "1");
  m_pCodec->SetParameter("ipicturefraction", "0");

  const GUID& subtype = *pmt->Subtype();
  if (subtype == MEDIASUBTYPE_PLENOR_H264 || subtype == MEDIASUBTYPE_H264) {
    const h264::TrailerSets sets = h264::ReadTrailer(FormatBytes(*pmt), FixedFormatSize(*pmt));
    if (sets.state != h264::TrailerState::Found) return R;  // no parameter sets: the codec stays unopened
    m_pSeqParamSet.assign(sets.sps.begin(), sets.sps.end());
    m_pPicParamSet.assign(sets.pps.begin(), sets.pps.end());
    return OpenCodec();
  }
  if (subtype != MEDIASUBTYPE_AVC1) return R;

  const MPEG2VIDEOINFO* info = *pmt->FormatType() == FORMAT_MPEG2Video && pmt->FormatLength() >= kMpeg2FixedSize
                                   ? reinterpret_cast<const MPEG2VIDEOINFO*>(pmt->Format())
                                   : nullptr;
  if (!info || info->dwProfile > 66 || info->dwLevel > 20 || info->dwFlags != 4) return E_FAIL;
  m_nNalLengthSize = 4;
  const size_t available = pmt->FormatLength() - kMpeg2FixedSize;
  if (info->cbSequenceHeader > available)
    return Refuse(E_FAIL, "AvcDecodeFilter: the AVC1 format block declares a " +
                              std::to_string(info->cbSequenceHeader) + "-byte sequence header but holds only " +
                              std::to_string(available) + " bytes after its MPEG2VIDEOINFO");
  std::string error;
  if (!h264::ReadSequenceHeader(h264::Bytes(pmt->Format() + kMpeg2FixedSize, info->cbSequenceHeader),
                                &m_pSeqParamSet, &m_pPicParamSet, &error))
    return Refuse(E_FAIL, "AvcDecodeFilter refuses the AVC1 format block: " + error);
  return OpenCodec();
}

HRESULT AvcDecodeFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  if (!mtIn || !mtOut) return E_POINTER;
  if (*mtOut->Type() != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
  const GUID& in = *mtIn->Subtype();
  if (in != MEDIASUBTYPE_H264 && in != MEDIASUBTYPE_PLENOR_H264 && in != MEDIASUBTYPE_AVC1)
    return VFW_E_TYPE_NOT_ACCEPTED;
  if (*mtOut->Subtype() != MEDIASUBTYPE_RGB24 || *mtOut->FormatType() != FORMAT_VideoInfo)
    return VFW_E_TYPE_NOT_ACCEPTED;
  // The frames are the input's pictures: an output of another size would be written wrongly.
  const VIDEOINFOHEADER* out = h264::VideoInfoOf(*mtOut);
  if (!out || out->bmiHeader.biBitCount != 24 || out->bmiHeader.biWidth != m_nInWidth ||
      std::llabs(out->bmiHeader.biHeight) != m_nInHeight)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT AvcDecodeFilter::GetMediaType(int iPosition, CMediaType* pMediaType) {
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  if (!pMediaType) return E_POINTER;
  HRESULT hr = CopyInputConnectionType(pMediaType);
  if (FAILED(hr)) return hr;

  const long long frame = OutputStride() * m_nInHeight;
  if (*pMediaType->FormatType() == FORMAT_MPEG2Video) {
    const auto* vih2 = reinterpret_cast<const VIDEOINFOHEADER2*>(pMediaType->Format());
    if (!vih2 || pMediaType->FormatLength() < sizeof(VIDEOINFOHEADER2)) return E_UNEXPECTED;
    VIDEOINFOHEADER vih{};
    vih.rcSource = vih2->rcSource;
    vih.rcTarget = vih2->rcTarget;
    vih.dwBitRate = vih2->dwBitRate;
    vih.dwBitErrorRate = vih2->dwBitErrorRate;
    vih.AvgTimePerFrame = vih2->AvgTimePerFrame;
    vih.bmiHeader = vih2->bmiHeader;
    if (!pMediaType->SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof vih)) return E_OUTOFMEMORY;
    pMediaType->SetFormatType(&FORMAT_VideoInfo);
  } else {
    const size_t trailer = h264::TrailerLength(FormatBytes(*pMediaType), sizeof(VIDEOINFOHEADER));
    const std::vector<BYTE> block(pMediaType->Format(), pMediaType->Format() + pMediaType->FormatLength() - trailer);
    if (!pMediaType->SetFormat(block.data(), static_cast<ULONG>(block.size()))) return E_OUTOFMEMORY;
  }
  VIDEOINFOHEADER* vih = reinterpret_cast<VIDEOINFOHEADER*>(pMediaType->Format());
  if (!vih || pMediaType->FormatLength() < sizeof(VIDEOINFOHEADER)) return E_UNEXPECTED;
  BITMAPINFOHEADER& bmi = vih->bmiHeader;
  bmi.biBitCount = 24;
  bmi.biCompression = BI_RGB;
  // The codec writes bottom-up rows ("flip" 1): say so with a positive height.
  bmi.biHeight = m_nInHeight;
  bmi.biSizeImage = static_cast<DWORD>(frame);
  if (frame != 0)
    pMediaType->SetSampleSize(static_cast<ULONG>(frame));
  else
    pMediaType->SetVariableSize();
  pMediaType->SetTemporalCompression(FALSE);
  pMediaType->SetSubtype(&MEDIASUBTYPE_RGB24);
  // A Stream input still gives video frames; the output must be a type CheckTransform accepts.
  pMediaType->SetType(&MEDIATYPE_Video);
  return S_OK;
}

HRESULT AvcDecodeFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  if (!pAlloc || !pProp) return E_POINTER;
  AM_MEDIA_TYPE output{};
  HRESULT hr = m_pOutput->ConnectionMediaType(&output);
  if (FAILED(hr)) return hr;
  const BITMAPINFOHEADER* bmi = h264::BitmapHeaderOf(output);
  const long long bytes =
      bmi ? (static_cast<long long>(bmi->biBitCount) * bmi->biWidth + 31) / 32 * 4 * std::llabs(bmi->biHeight) : -1;
  FreeMediaType(output);
  if (bytes <= 0 || bytes > INT32_MAX) return E_FAIL;
  return h264::SetBufferSize(pAlloc, pProp, static_cast<LONG>(bytes), 30);
}

HRESULT AvcDecodeFilter::ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut,
                                        LONG lOutBufferSize, LONG& lOutDataLength) {
  CAutoLock lock(&m_csCodec);
  lOutDataLength = 0;
  if (!m_pCodec || m_pCodec->IsReady() == 0) return S_FALSE;
  const long long n = std::max<LONG>(0, std::min(lInDataLength, lInBufferSize));
  if (n == 0) return S_FALSE;
  if (n > INT_MAX / 8) {
    Refuse(S_OK, "AvcDecodeFilter: a sample of " + std::to_string(n) + " bytes is too long to decode");
    return S_FALSE;
  }
  if (m_nNalLengthSize == 4) {
    size_t fault = 0;
    if (!h264::LengthPrefixesToStartCodes(std::span<uint8_t>(pIn, static_cast<size_t>(n)), &fault)) {
      Refuse(S_OK, "AvcDecodeFilter: the NAL unit length at offset " + std::to_string(fault) + " of a " +
                       std::to_string(n) + "-byte AVC1 sample runs past its end; the sample was not decoded");
      return S_FALSE;
    }
  }
  const long long stride = OutputStride();
  const long long frame = stride * m_nInHeight;
  if (lOutBufferSize < frame) {
    Refuse(S_OK, "AvcDecodeFilter: the output buffer of " + std::to_string(lOutBufferSize) +
                     " bytes is shorter than one " + std::to_string(m_nInWidth) + "x" + std::to_string(m_nInHeight) +
                     " RGB24 frame (" + std::to_string(frame) + " bytes)");
    return S_FALSE;
  }
  const long long row = 3LL * m_nInWidth;
  const bool padded = stride != row;
  const int result = m_pCodec->Decode(pIn, static_cast<int>(n * 8), padded ? m_vPacked.data() : pOut);
  if (result == 0) {
    ReportDecodeError();
    return S_FALSE;
  }
  if (result != CORVEX_PICTURE) return S_FALSE;  // parameter sets, SEI, ...: no picture to deliver
  if (padded) {
    for (long long y = 0; y < m_nInHeight; ++y) {
      std::memcpy(pOut + y * stride, m_vPacked.data() + y * row, static_cast<size_t>(row));
      std::memset(pOut + y * stride + row, 0, static_cast<size_t>(stride - row));
    }
  }
  lOutDataLength = static_cast<LONG>(frame);
  return S_OK;
}
