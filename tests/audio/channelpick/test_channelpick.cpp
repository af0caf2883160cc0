// ChannelPickFilter: which samples it keeps, the types it takes and offers, the buffers it asks
// for, and what it does with channel values, buffer lengths and sample sizes it was not made for.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "support_audio.h"

using namespace audiotest;
using namespace plenor::test;

namespace {

constexpr BYTE kUntouched = 0xEE;

// The filter after an input type check with a stereo type of the given sample size.
ComPtr<ChannelPickFilter> FilterFor(WORD bits) {
  auto f = MakeObject<ChannelPickFilter>();
  CMediaType stereo = PcmType(2, 44100, bits);
  EXPECT_EQ(f->CheckInputType(&stereo), S_OK);
  return f;
}

struct Result {
  std::vector<BYTE> out;  // the whole output buffer (untouched bytes stay kUntouched)
  LONG length = -1;
};

// Runs ApplyTransform on an input buffer holding exactly the given bytes (so a read past them is
// a read past the buffer) into an output buffer of outSize bytes.
Result Apply(ChannelPickFilter* f, const std::vector<BYTE>& input, LONG outSize) {
  auto in = std::make_unique<BYTE[]>(input.size());
  std::memcpy(in.get(), input.data(), input.size());
  auto out = std::make_unique<BYTE[]>(outSize);
  std::memset(out.get(), kUntouched, outSize);
  Result r;
  EXPECT_EQ(f->ApplyTransform(in.get(), static_cast<LONG>(input.size()), static_cast<LONG>(input.size()), out.get(),
                              outSize, r.length),
            S_OK);
  r.out.assign(out.get(), out.get() + outSize);
  return r;
}

std::vector<BYTE> Prefix(const std::vector<BYTE>& v, size_t n) { return {v.begin(), v.begin() + n}; }

TEST(ChannelPickSamples, EightBitIncompleteLastFrame) {
  auto f = FilterFor(8);
  const std::vector<BYTE> input = {10, 20, 11, 21, 12};  // L0 R0 L1 R1 L2

  Result left = Apply(f.Get(), input, 8);
  EXPECT_EQ(Prefix(left.out, 4), (std::vector<BYTE>{10, 11, 12, kUntouched}));  // three bytes copied
  EXPECT_EQ(left.length, 2);                                                     // two reported

  ASSERT_EQ(SetChannel(f.Get(), "1"), S_OK);
  Result right = Apply(f.Get(), input, 8);
  EXPECT_EQ(Prefix(right.out, 3), (std::vector<BYTE>{20, 21, kUntouched}));
  EXPECT_EQ(right.length, 2);
}

TEST(ChannelPickSamples, SixteenBitFramesKeepWholeSamples) {
  auto f = FilterFor(16);
  const std::vector<BYTE> input = Samples16({-2, 300, 1000, -32768});  // L0 R0 L1 R1

  ASSERT_EQ(SetChannel(f.Get(), "1"), S_OK);
  Result right = Apply(f.Get(), input, 8);
  EXPECT_EQ(right.length, 4);
  EXPECT_EQ(Prefix(right.out, 5), Prefix(Samples16({300, -32768, static_cast<int16_t>(0xEEEE)}), 5));

  ASSERT_EQ(SetChannel(f.Get(), "0"), S_OK);
  Result left = Apply(f.Get(), input, 8);
  EXPECT_EQ(left.length, 4);
  EXPECT_EQ(Prefix(left.out, 4), Samples16({-2, 1000}));
}

TEST(ChannelPickSamples, SixteenBitOddLengthNeverReadsHalfASample) {
  // Seven bytes: L0 R0 and the first byte of L1. Channel 1 has one whole sample, R0; its second
  // sample would start at byte 6 and end past the input.
  auto f = FilterFor(16);
  ASSERT_EQ(SetChannel(f.Get(), "1"), S_OK);
  std::vector<BYTE> input = Samples16({0x0102, 0x0304, 0x0506, 0});
  input.resize(7);
  Result r = Apply(f.Get(), input, 8);
  EXPECT_EQ(Prefix(r.out, 3), (std::vector<BYTE>{0x04, 0x03, kUntouched}));
  EXPECT_EQ(r.length, 2);  // half of 7 would be 3, one byte more than was written
}

TEST(ChannelPickSamples, ChannelValuesOtherThanZeroAndOneKeepTheFirstChannel) {
  for (WORD bits : {WORD{8}, WORD{16}}) {
    auto f = FilterFor(bits);
    std::vector<BYTE> input(32);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<BYTE>(i + 1);
    const Result first = Apply(f.Get(), input, 64);
    ASSERT_EQ(first.length, 16);

    for (const char* value : {"2", "3", "-1", "32767", "2147483647", "-2147483648"}) {
      SCOPED_TRACE(value);
      ASSERT_EQ(SetChannel(f.Get(), value), S_OK);  // the setting takes any integer
      Result r = Apply(f.Get(), input, 64);
      EXPECT_EQ(r.length, first.length);
      EXPECT_EQ(r.out, first.out);
    }
  }
}

TEST(ChannelPickSamples, CopyStopsAtTheEndOfTheOutputBuffer) {
  // Eight 16-bit frames into room for three mono samples.
  auto f = FilterFor(16);
  ASSERT_EQ(SetChannel(f.Get(), "1"), S_OK);
  std::vector<int16_t> frames;
  for (int16_t i = 0; i < 8; ++i) {
    frames.push_back(static_cast<int16_t>(100 + i));
    frames.push_back(static_cast<int16_t>(-100 - i));
  }
  auto out = std::make_unique<BYTE[]>(8);
  std::memset(out.get(), kUntouched, 8);
  std::vector<BYTE> input = Samples16(frames);
  LONG length = -1;
  ASSERT_EQ(f->ApplyTransform(input.data(), 32, 32, out.get(), 6, length), S_OK);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(std::vector<BYTE>(out.get(), out.get() + 8),
            Prefix(Samples16({-100, -101, -102, static_cast<int16_t>(0xEEEE)}), 8));
  // What had to be cut is reported through the status interface.
  char text[512] = {};
  ASSERT_EQ(f->GetLastErrorText(text, sizeof text), S_OK);
  EXPECT_NE(std::string(text).find("5 more samples than the 6-byte output buffer"), std::string::npos) << text;
}

TEST(ChannelPickSamples, OtherSampleSizesReportNoData) {
  for (WORD bits : {WORD{24}, WORD{32}}) {
    SCOPED_TRACE(bits);
    auto f = FilterFor(bits);  // accepted by the type check
    EXPECT_EQ(f->BitsPerSample(), bits);
    Result r = Apply(f.Get(), std::vector<BYTE>(24, 7), 24);
    EXPECT_EQ(r.length, 0);
    EXPECT_EQ(r.out, std::vector<BYTE>(24, kUntouched));
  }
}

// ---- Types ----

TEST(ChannelPickTypes, InputMustBeTwoChannelPcmWithAWaveFormat) {
  auto f = MakeObject<ChannelPickFilter>();
  CMediaType mono = PcmType(1, 44100, 16);
  EXPECT_EQ(f->CheckInputType(&mono), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType six = PcmType(6, 48000, 16);
  EXPECT_EQ(f->CheckInputType(&six), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType video = PcmType(2, 44100, 16);
  video.SetType(&MEDIATYPE_Video);
  EXPECT_EQ(f->CheckInputType(&video), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType shortBlock = PcmType(2, 44100, 16);
  shortBlock.ReallocFormatBuffer(8);  // ends before nChannels' neighbours
  EXPECT_EQ(f->CheckInputType(&shortBlock), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(f->BitsPerSample(), 8);  // nothing refused was recorded

  CMediaType stereo = PcmType(2, 44100, 16);
  stereo.ReallocFormatBuffer(16);  // a plain PCM block without cbSize is enough
  EXPECT_EQ(f->CheckInputType(&stereo), S_OK);
  EXPECT_EQ(f->BitsPerSample(), 16);
}

TEST(ChannelPickTypes, MonoInputCannotBeConnected) {
  HarnessChain chain(PcmType(1, 44100, 16));
  EXPECT_TRUE(FAILED(chain.inputConnect));
  ComPtr<IPin> peer;
  EXPECT_EQ(PinOf(chain.Filter(), 0)->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
}

TEST(ChannelPickTypes, SixteenBit44100HzGivesOneSecondMonoBuffers) {
  HarnessChain chain(PcmType(2, 44100, 16));
  ASSERT_EQ(chain.inputConnect, S_OK);
  ASSERT_EQ(chain.outputConnect, S_OK);
  EXPECT_EQ(chain.filter->SampleRate(), 44100);
  EXPECT_EQ(chain.filter->BitsPerSample(), 16);

  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(chain.sink->InputPin()->ConnectionMediaType(&mt), S_OK);
  EXPECT_EQ(mt.majortype, MEDIATYPE_Audio);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PCM);
  WAVEFORMATEX wfx = WaveFormatOf(mt);
  EXPECT_EQ(wfx.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(wfx.nChannels, 1);
  EXPECT_EQ(wfx.nSamplesPerSec, 44100u);
  EXPECT_EQ(wfx.nBlockAlign, 2);
  EXPECT_EQ(wfx.nAvgBytesPerSec, 88200u);
  EXPECT_EQ(wfx.wBitsPerSample, 16);
  // The sample size stays the input's.
  EXPECT_EQ(mt.lSampleSize, PcmType(2, 44100, 16).lSampleSize);
  FreeMediaType(mt);

  ALLOCATOR_PROPERTIES props{};
  ASSERT_NE(chain.sink->Allocator(), nullptr);
  ASSERT_EQ(chain.sink->Allocator()->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cbBuffer, 88200);
  EXPECT_GE(props.cBuffers, 1);
}

TEST(ChannelPickTypes, OutputMustBeMonoAtTheInputsRateAndSampleSize) {
  HarnessChain chain(PcmType(2, 44100, 16));
  ASSERT_EQ(chain.inputConnect, S_OK);
  CMediaType in = PcmType(2, 44100, 16);
  CMediaType good = PcmType(1, 44100, 16);
  EXPECT_EQ(chain.filter->CheckTransform(&in, &good), S_OK);
  for (const CMediaType& bad : {PcmType(2, 44100, 16), PcmType(1, 48000, 16), PcmType(1, 44100, 8),
                                MakeSimpleType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM)}) {
    EXPECT_EQ(chain.filter->CheckTransform(&in, &bad), VFW_E_TYPE_NOT_ACCEPTED);
  }
}

// ---- Streaming ----

TEST(ChannelPickStreaming, ChangingTheChannelSwitchesAtTheNextBuffer) {
  HarnessChain chain(PcmType(2, 8000, 16));
  ASSERT_EQ(chain.outputConnect, S_OK);
  ASSERT_EQ(chain.graph->Run(), S_OK);
  const std::vector<BYTE> frames = Samples16({1, -1, 2, -2, 3, -3});
  ASSERT_EQ(chain.push->PushBytes(frames, 0, 10000), S_OK);
  ASSERT_EQ(SetChannel(chain.Filter(), "1"), S_OK);
  ASSERT_EQ(chain.push->PushBytes(frames, 10000, 20000), S_OK);
  ASSERT_EQ(chain.push->PushBytes(frames, 20000, 30000), S_OK);
  ASSERT_EQ(SetChannel(chain.Filter(), "0"), S_OK);
  ASSERT_EQ(chain.push->PushBytes(frames, 30000, 40000), S_OK);
  chain.graph->Stop();

  std::vector<ReceivedSample> got = chain.sink->Samples();
  ASSERT_EQ(got.size(), 4u);
  const std::vector<BYTE> left = Samples16({1, 2, 3}), right = Samples16({-1, -2, -3});
  EXPECT_EQ(got[0].data, left);
  EXPECT_EQ(got[1].data, right);
  EXPECT_EQ(got[2].data, right);
  EXPECT_EQ(got[3].data, left);
  // Times travel with the samples; every output sample is a sync point.
  EXPECT_EQ(got[1].start, 10000);
  EXPECT_EQ(got[1].stop, 20000);
  for (const ReceivedSample& s : got) EXPECT_TRUE(s.sync);
}

TEST(ChannelPickStreaming, InputLongerThanTwoSecondsIsNotCut) {
  // Three seconds of 16-bit stereo at 8000 Hz in one buffer: the output buffers are sized from
  // the input's, so all three seconds of the channel arrive (they used to be cut at one second).
  const int rate = 8000;
  HarnessChain chain(PcmType(2, rate, 16), 3 * rate * 4);
  ASSERT_EQ(chain.outputConnect, S_OK);
  std::vector<int16_t> samples;
  for (int i = 0; i < 3 * rate; ++i) {
    samples.push_back(static_cast<int16_t>(i));
    samples.push_back(static_cast<int16_t>(-i));
  }
  ASSERT_EQ(chain.graph->Run(), S_OK);
  ASSERT_EQ(chain.push->PushBytes(Samples16(samples), 0, 30000000), S_OK);
  chain.graph->Stop();

  std::vector<ReceivedSample> got = chain.sink->Samples();
  ASSERT_EQ(got.size(), 1u);
  std::vector<int16_t> left;
  for (int i = 0; i < 3 * rate; ++i) left.push_back(static_cast<int16_t>(i));
  EXPECT_EQ(got[0].data, Samples16(left));
  char text[512] = "unset";
  ASSERT_EQ(chain.filter->GetLastErrorText(text, sizeof text), S_OK);
  EXPECT_STREQ(text, "");
}

}  // namespace
