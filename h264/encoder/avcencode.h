// AvcEncodeFilter: compresses RGB24 or planar YUV 4:2:0 frames into H.264 with the Corvex codec
// library, one coded picture per output sample, carrying the input sample's times.
//
// Output forms ("h264_output_type"):
//   0  MEDIATYPE_Video / MEDIASUBTYPE_PLENOR_H264 / FORMAT_VideoInfo: start-code units; the
//      parameter sets in the format block's trailer (h264/common/avcformat.h).
//   1  MEDIATYPE_Video / MEDIASUBTYPE_H264 / FORMAT_VideoInfo2: start-code units; parameter sets
//      in band only.
//   2  MEDIATYPE_Video / MEDIASUBTYPE_AVC1 / FORMAT_MPEG2Video (default): every unit led by its
//      4-byte big-endian length; parameter sets in the MPEG2VIDEOINFO sequence header.
// The codec writes the SPS and PPS in band before every intra picture, so a start-code stream
// written to a file plays on its own.
//
// Own parameters: "framebitlimit" (unsigned, 0: width x height x 24 bits), "notifyoniframe"
// (flag: status text "I-Frame" after every intra picture), "iframeperiod" (signed, 0: off;
// otherwise frames period, 2 x period, ... since creation are intra), "sps" and "pps" (read-only
// byte strings of the parameter sets), "h264_output_type" (0, 1, 2). Every other name goes to
// the codec; a codec name that is a leading part of "mode of operation" or "quality" (any case)
// reopens the codec.
//
// Faults it guards against beyond its contract: a bit limit above the output buffer is cut to
// the buffer, input samples shorter than one frame are refused with a last-error text, RGB24
// rows padded to 4 bytes are read with the bitmap stride, picture sizes the codec cannot take are
// refused at connection with the reason as last-error text, and no path touches a missing codec.
//
// Threads: m_csCodec serialises every codec call of the streaming thread (ApplyTransform) and of
// application threads (settings pass-through, ICodecControlInterface). Connections (SetMediaType)
// run while the graph is stopped and take it too.
#pragma once

#include <string>
#include <vector>

#include "framework/custombase.h"
#include "h264/common/codec.h"
#include "h264/common/codeccontrol.h"
#include "platform/strmbase/wxutil.h"

// {2D6E1B0C-7C3A-4F8E-A61B-93D0F5C2E417}
PLENOR_GUID(CLSID_AvcEncodeFilter, 0x2d6e1b0c, 0x7c3a, 0x4f8e, 0xa6, 0x1b, 0x93, 0xd0, 0xf5, 0xc2, 0xe4, 0x17);
// {8F41C6A2-3B5D-4E07-9C18-B2E7A90D6F35}
PLENOR_GUID(CLSID_H264EncoderProperties, 0x8f41c6a2, 0x3b5d, 0x4e07, 0x9c, 0x18, 0xb2, 0xe7, 0xa9, 0x0d, 0x6f, 0x35);

class AvcEncodeFilter : public CCustomBaseFilter, public ISpecifyPropertyPages, public ICodecControlInterface {
 public:
  static constexpr size_t kParamSetBuffer = 100;

  // Creation function of the factory template, with the library's codec (defined with the
  // module's table). The filter is not aggregatable: pUnk is ignored.
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  // provider: where the codec instance comes from (the module's CreateInstance gives the
  // library's factory; tests give a stand-in).
  explicit AvcEncodeFilter(const h264::CodecProvider& provider);
  ~AvcEncodeFilter() override;

  DECLARE_IUNKNOWN
  // ISpecifyPropertyPages, ICodecControlInterface, then the base chain.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // ICodecControlInterface.
  STDMETHODIMP GetFrameBitLimit(int* pLimit) override;
  STDMETHODIMP SetFrameBitLimit(int limit) override;
  STDMETHODIMP Reserved1() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved2() override { return E_NOTIMPL; }
  STDMETHODIMP GenerateIFrame() override;
  STDMETHODIMP Reserved3() override { return E_FAIL; }
  STDMETHODIMP Reserved4() override { return E_FAIL; }

  // Settings: own parameters first, then the codec's (any thread).
  STDMETHODIMP GetParameter(const char* name, int bufferSize, char* value, int* length) override;
  STDMETHODIMP SetParameter(const char* name, const char* value) override;
  STDMETHODIMP GetParameterSettings(char* result, int bufferSize) override;

  void InitParameters() override;
  void InitialiseInputTypes() override;
  // The input table, then a readable VIDEOINFOHEADER whose picture the codec takes (the reason
  // of a refusal becomes the last-error text).
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
  // Input: closes the codec, gives it the input format, generates the parameter sets and opens
  // it. Under the filter lock, graph stopped.
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
  // Codes one frame. Streaming thread, under the receive lock.
  HRESULT ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut, LONG lOutBufferSize,
                         LONG& lOutDataLength) override;

  // State for tests and diagnostics.
  ICodecv2* Codec() const { return m_pCodec; }
  unsigned FrameCount() const { return m_nFrameCount; }

 private:
  // Bytes one input frame takes (RGB24 rows padded to 4 bytes, or the three 4:2:0 planes).
  long long InputFrameBytes() const;
  // Generates one parameter set ("picture coding type" type) into buffer; its length, or -1.
  int GenerateParamSet(int type, BYTE* buffer);
  // The output media type of row type for the connected input type.
  HRESULT BuildOutputType(unsigned type, const CMediaType& input, CMediaType* pMediaType) const;

  unsigned int m_nOutputType = 2;
  ICodecv2* m_pCodec = nullptr;
  CCritSec m_csCodec;
  unsigned int m_nFrameBitLimit = 0;
  bool m_bNotifyOnIFrame = false;
  std::vector<BYTE> m_pSeqParamSet;  // kParamSetBuffer bytes once generated
  unsigned int m_nSeqParamSetLength = 0;
  std::vector<BYTE> m_pPicParamSet;
  unsigned int m_nPicParamSetLength = 0;
  std::string m_sSeqParamSet;
  std::string m_sPicParamSet;
  int m_nIFramePeriod = 0;
  unsigned int m_nFrameCount = 0;

  h264::CodecProvider m_provider;
  bool m_bRgbInput = true;
  // Tightly packed copy of an RGB24 frame whose bitmap rows are padded (sized at connection).
  std::vector<BYTE> m_vPacked;
};
