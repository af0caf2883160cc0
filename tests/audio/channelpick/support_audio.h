// Helpers shared by the audio tests: PCM media types and the stereo-to-mono filter in a harness
// chain (push source -> filter -> recording sink) on a fake graph.
#pragma once

#include <vector>

#include "audio/channelpick/channelpick.h"
#include "platform/strmbase/mtype.h"
#include "tests/support/harness.h"

namespace audiotest {

// MEDIATYPE_Audio / PCM / WAVEFORMATEX with consistent block align and byte rate.
CMediaType PcmType(WORD channels, DWORD rate, WORD bits);
// The WAVEFORMATEX of a type (the type must carry one).
WAVEFORMATEX WaveFormatOf(const AM_MEDIA_TYPE& mt);

// Sets "channel" through the settings interface; the result of SetParameter.
HRESULT SetChannel(IUnknown* filter, const char* value);
// "channel" as text.
std::string GetChannel(IUnknown* filter);
inline HRESULT SetChannel(ChannelPickFilter* f, const char* value) {
  return SetChannel(static_cast<IBaseFilter*>(f), value);
}
inline std::string GetChannel(ChannelPickFilter* f) { return GetChannel(static_cast<IBaseFilter*>(f)); }

// Little-endian 16-bit samples as bytes.
std::vector<BYTE> Samples16(const std::vector<int16_t>& samples);

// push -> ChannelPickFilter -> sink, connected with the given input type.
struct HarnessChain {
  explicit HarnessChain(const CMediaType& input, LONG pushBufferSize = 4096);
  ~HarnessChain();

  IBaseFilter* Filter() { return static_cast<IBaseFilter*>(filter.Get()); }

  ComPtr<plenor::test::FakeGraph> graph;
  ComPtr<plenor::test::PushSource> push;
  ComPtr<ChannelPickFilter> filter;
  ComPtr<plenor::test::TestSink> sink;
  HRESULT inputConnect = E_FAIL;
  HRESULT outputConnect = E_FAIL;
};

}  // namespace audiotest
