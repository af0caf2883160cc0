// AvcDecodeFilter: decodes H.264 into RGB24 frames (bottom-up bitmap rows) with the Corvex codec
// library, one output sample per decoded picture, carrying the input sample's times.
//
// Input types, in order: Video / MEDIASUBTYPE_PLENOR_H264 / FORMAT_VideoInfo, Video / AVC1 /
// FORMAT_MPEG2Video, Video / H264 / FORMAT_MPEG2Video, Stream / MEDIASUBTYPE_PLENOR_H264 /
// FORMAT_VideoInfo, Stream / H264 / FORMAT_VideoInfo. PLENOR_H264 and H264 take their parameter
// sets from the format block's trailer (h264/common/avcformat.h; a missing or unreadable trailer
// leaves the codec unopened and nothing is decoded); AVC1 from the MPEG2VIDEOINFO sequence header
// (profile at most 66, level at most 20, 4-byte length fields) and its samples are converted from
// length prefixes to start codes in place. H264 with FORMAT_VideoInfo2 is not taken.
//
// Every parameter name set through ISettingsInterface goes to the codec; the filter has none of
// its own.
//
// Beyond its contract: a sample that completes no picture (a parameter set, SEI, part of a
// picture) is not delivered, so a writer downstream holds exactly the decoded pictures; a length
// field that runs past the sample or the sequence header fails that sample or connection with a
// last-error text; picture sizes the codec cannot take are refused at connection with the
// reason as last-error text; rows are written with the bitmap stride (padded to 4 bytes); and no
// path touches a missing codec.
//
// Threads: m_csCodec serialises the codec calls of the streaming thread (ApplyTransform), of the
// settings pass-through (application threads) and of connections.
#pragma once

#include <vector>

#include "framework/custombase.h"
#include "h264/common/codec.h"
#include "platform/strmbase/wxutil.h"

// {4B7A2E91-D05C-4A3F-8E62-1C9F7B3D05A8}
PLENOR_GUID(CLSID_AvcDecodeFilter, 0x4b7a2e91, 0xd05c, 0x4a3f, 0x8e, 0x62, 0x1c, 0x9f, 0x7b, 0x3d, 0x05, 0xa8);

class AvcDecodeFilter : public CCustomBaseFilter {
 public:
  // Creation function of the factory template, with the library's codec (defined with the
  // module's table). Not aggregatable: pUnk is ignored.
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit AvcDecodeFilter(const h264::CodecProvider& provider);
  ~AvcDecodeFilter() override;

  // Hands the name and value to the codec: S_OK when it accepts, E_FAIL when it refuses or there
  // is no codec. Any thread.
  STDMETHODIMP SetParameter(const char* name, const char* value) override;

  void InitParameters() override {}
  void InitialiseInputTypes() override;
  // The input table, then a format block that holds its structure and a picture the codec takes.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
  // Input: gives the codec the picture size, takes the parameter sets from the format block and
  // opens the codec. Under the filter lock, graph stopped.
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
  // Decodes one sample: S_OK with one RGB24 frame, S_FALSE (not delivered) when no picture came
  // out. Streaming thread, under the receive lock.
  HRESULT ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut, LONG lOutBufferSize,
                         LONG& lOutDataLength) override;

  // State for tests and diagnostics.
  ICodecv2* Codec() const { return m_pCodec; }
  int NalLengthSize() const { return m_nNalLengthSize; }
  const std::vector<BYTE>& SeqParamSet() const { return m_pSeqParamSet; }
  const std::vector<BYTE>& PicParamSet() const { return m_pPicParamSet; }

 private:
  // Decodes the parameter sets in use and opens the codec.
  HRESULT OpenCodec();
  // Reports "H264 decode error has occurred: " and the codec's text.
  void ReportDecodeError();
  // Records a failure text (notifying the host) and returns hr.
  HRESULT Refuse(HRESULT hr, const std::string& text);
  long long OutputStride() const;

  ICodecv2* m_pCodec = nullptr;
  std::vector<BYTE> m_pSeqParamSet;  // led by 00 00 00 01; its size is the length
  std::vector<BYTE> m_pPicParamSet;
  int m_nNalLengthSize = 0;

  h264::CodecProvider m_provider;
  CCritSec m_csCodec;
  // The codec writes rows of exactly 3 x width bytes; a picture whose bitmap rows are padded is
  // decoded here first (sized at connection).
  std::vector<BYTE> m_vPacked;
};
