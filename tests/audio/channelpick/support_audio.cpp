#include "support_audio.h"

#include <gtest/gtest.h>

#include <cstring>

namespace audiotest {

using namespace plenor::test;

CMediaType PcmType(WORD channels, DWORD rate, WORD bits) {
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = WAVE_FORMAT_PCM;
  wfx.nChannels = channels;
  wfx.nSamplesPerSec = rate;
  wfx.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  wfx.nAvgBytesPerSec = rate * wfx.nBlockAlign;
  wfx.wBitsPerSample = bits;
  CMediaType mt;
  EXPECT_EQ(CreateAudioMediaType(&wfx, &mt, TRUE), S_OK);
  return mt;
}

WAVEFORMATEX WaveFormatOf(const AM_MEDIA_TYPE& mt) {
  WAVEFORMATEX wfx{};
  EXPECT_EQ(mt.formattype, FORMAT_WaveFormatEx);
  EXPECT_GE(mt.cbFormat, sizeof(WAVEFORMATEX) - sizeof(WORD));
  if (mt.pbFormat) std::memcpy(&wfx, mt.pbFormat, std::min<size_t>(mt.cbFormat, sizeof wfx));
  return wfx;
}

HRESULT SetChannel(IUnknown* filter, const char* value) {
  ComPtr<ISettingsInterface> settings;
  HRESULT hr = filter->QueryInterface(IID_ISettingsInterface, settings.AsOut());
  if (FAILED(hr)) return hr;
  return settings->SetParameter("channel", value);
}

std::string GetChannel(IUnknown* filter) {
  ComPtr<ISettingsInterface> settings;
  if (FAILED(filter->QueryInterface(IID_ISettingsInterface, settings.AsOut()))) return "<no settings>";
  char value[64];
  int length = 0;
  if (FAILED(settings->GetParameter("channel", sizeof value, value, &length))) return "<failed>";
  return value;
}

std::vector<BYTE> Samples16(const std::vector<int16_t>& samples) {
  std::vector<BYTE> bytes;
  for (int16_t s : samples) {
    bytes.push_back(static_cast<BYTE>(s & 0xFF));
    bytes.push_back(static_cast<BYTE>((static_cast<uint16_t>(s) >> 8) & 0xFF));
  }
  return bytes;
}

HarnessChain::HarnessChain(const CMediaType& input, LONG pushBufferSize)
    : graph(FakeGraph::Create()),
      push(PushSource::Create({.offeredTypes = {input}, .bufferSize = pushBufferSize})),
      filter(MakeObject<ChannelPickFilter>()),
      sink(TestSink::Create({})) {
  graph->AddFilter(push.Get(), L"push");
  graph->AddFilter(Filter(), L"Ravik Plenor Stereo2Mono Filter");
  graph->AddFilter(sink.Get(), L"sink");
  inputConnect = graph->Connect(push->OutputPin(), PinOf(Filter(), 0).Get(), &input);
  if (SUCCEEDED(inputConnect)) outputConnect = graph->Connect(PinOf(Filter(), 1).Get(), sink->InputPin());
}

HarnessChain::~HarnessChain() { graph->TearDown(); }

}  // namespace audiotest
