// Helpers of the H.264 filter tests: a stand-in codec that records every call and answers as
// told, the provider that hands it to a filter, media types of the encoder's input and the
// decoder's five input forms, and a harness chain (push source -> filter -> recording sink).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "corvex/codecv2.h"
#include "framework/settings.h"
#include "h264/common/codec.h"
#include "platform/strmbase/mtype.h"
#include "tests/support/filterchain.h"
#include "tests/support/harness.h"

namespace h264test {

using Bytes = std::vector<BYTE>;

// A parameter set as the stand-in codec writes it: start code, NAL header of the type, then
// body bytes.
Bytes NalUnit(int type, size_t bodyBytes, BYTE fill = 0x5A);

class FakeCodec : public ICodecv2 {
 public:
  FakeCodec();
  virtual ~FakeCodec() = default;

  int Reserved1() override { return Record("Reserved1"); }
  int GetParameter(const char* name, int* length, char* value) override;
  int GetParameterName(int index, const char** name, int* length) override;
  int SetParameter(const char* name, const char* value) override;
  const char* GetErrorText() override { return error.c_str(); }
  int IsReady() override { return ready ? 1 : 0; }
  int Reserved2() override { return Record("Reserved2"); }
  int GetCompressedLength() override { return compressed; }
  int Reserved3() override { return Record("Reserved3"); }
  int Restart() override { return Record("Restart"); }
  int Open() override;
  int Close() override;
  int Code(const unsigned char* picture, unsigned char* out, int bitLimit) override;
  int Decode(const unsigned char* data, int bitLength, unsigned char* picture) override;

  // The calls in order: "Open", "Close", "Restart", "set NAME=VALUE", "Code LIMIT" (with
  // " null" for no picture), "Decode BYTES".
  std::vector<std::string> log;
  std::map<std::string, std::string> params;
  std::set<std::string> refusedNames;     // SetParameter refuses these
  std::string error = "stand-in failure";  // GetErrorText
  bool openSucceeds = true;
  bool ready = false;
  int compressed = 0;
  // Bytes Code writes for "picture coding type" 2, 3 and 0.
  Bytes sps = NalUnit(7, 8), pps = NalUnit(8, 3), picture = NalUnit(5, 40);
  // When set, Code of a picture fails.
  bool codeFails = false;
  // The picture bytes the last Code of a picture read (pictureBytes of them).
  size_t pictureBytes = 0;
  Bytes lastPicture;
  // What Decode returns for units whose first NAL type is 7 or 8 / anything else; the data
  // handed to each Decode.
  int decodeParamSetResult = CORVEX_NO_PICTURE;
  int decodeResult = CORVEX_PICTURE;
  std::vector<Bytes> decoded;
  // Bytes a completed picture fills (width x height x 3 when 0), each (7 i) mod 251.
  size_t decodedPictureBytes = 0;
  int released = 0;

  int Count(const std::string& entry) const;

 private:
  int Record(const std::string& entry) {
    log.push_back(entry);
    return 1;
  }
};

// The provider handing out the codec set by Next (null when none was set), and counting
// releases on it.
const h264::CodecProvider& FakeProvider();
void Next(FakeCodec* codec);

// A bottom-up RGB24 or a YUV420P type with a VIDEOINFOHEADER.
CMediaType RgbType(LONG width, LONG height, REFERENCE_TIME avgTimePerFrame = 400000);
CMediaType YuvType(LONG width, LONG height);
// Decoder inputs: a VIDEOINFOHEADER block with appended bytes (major, subtype as given).
CMediaType TrailerType(const GUID& major, const GUID& subtype, LONG width, LONG height, const Bytes& appended);
// An AVC1 / MPEG2VIDEOINFO type with the given sequence header bytes and fields.
CMediaType Avc1Type(LONG width, LONG height, const Bytes& sequenceHeader, DWORD profile = 66, DWORD level = 20,
                    DWORD flags = 4, const GUID& subtype = MEDIASUBTYPE_AVC1);

// push -> filter -> sink on a fake graph, connected with the type and running. The filter's
// status object reports to the graph.
template <class Filter>
struct Chain : plenor::test::FilterChain<Filter> {
  Chain(ComPtr<Filter> f, const CMediaType& input, LONG pushBufferSize)
      : plenor::test::FilterChain<Filter>(std::move(f), input, pushBufferSize, {}, L"codec") {}
  // Pushes bytes; *received: the bytes delivered for them (empty, and *delivered false, when
  // nothing arrived).
  HRESULT Push(const Bytes& bytes, Bytes* received = nullptr, bool* delivered = nullptr) {
    return this->PushBytes(bytes, received, delivered);
  }
};

std::string Param(ISettingsInterface* settings, const char* name);
std::string LastErrorOf(IUnknown* filter);
std::string StatusOf(IUnknown* filter);

}  // namespace h264test
