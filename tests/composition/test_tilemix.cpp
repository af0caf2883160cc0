// TileMixFilter and the mixing base in the harness: joined frames against the reference (both
// orientations, RGB24 with padded rows and RGB32, bottom-up and top-down outputs, unequal sizes
// with the uncovered area cleared, an orientation change after connecting), pass-through with one
// input, end of stream and flushes forwarded once, the frame-rate gate and the offered type.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <random>
#include <thread>

#include "composition/tilemix/tilemix.h"
#include "platform/com/objidl.h"
#include "platform/strmbase/uuids.h"
#include "tests/colour/support_colour.h"
#include "tests/composition/support_composition.h"
#include "tests/composition/support_mixchain.h"

using namespace comptest;
using plenor::test::MakeObject;

namespace {

using Chain = MixChain<TileMixFilter>;

// The joined frame: cleared, then the second and the first picture placed for the arrangement.
Picture Joined(const Picture& first, const Picture& second, int W, int H, bool stacked, bool flip) {
  Picture out(W, H, first.b);
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  if (!stacked) {
    x1 = std::max(W - second.w, 0);
  } else if (!flip) {
    y0 = std::max(H - first.h, 0);  // first above the second in a bottom-up picture
  } else {
    y1 = std::max(H - second.h, 0);
  }
  ReferencePlace(second, &out, x1, y1, flip);
  ReferencePlace(first, &out, x0, y0, flip);
  return out;
}

struct JoinCase {
  const char* name;
  const GUID* subtype;
  int orientation;
  int w0, h0, w1, h1;
  bool flipOutput;
  int W, H;
};

class TileFrames : public testing::TestWithParam<JoinCase> {};

TEST_P(TileFrames, EqualTheReference) {
  const JoinCase& c = GetParam();
  const int b = *c.subtype == MEDIASUBTYPE_RGB24 ? 3 : 4;
  const CMediaType t0 = VideoType(*c.subtype, c.w0, c.h0), t1 = VideoType(*c.subtype, c.w1, c.h1);
  const CMediaType outType = VideoType(*c.subtype, c.W, -c.H);
  Chain chain(&t0, &t1, {{"orientation", std::to_string(c.orientation)}}, c.flipOutput ? &outType : nullptr);
  ASSERT_EQ(chain.outputConnect, S_OK);
  const CMediaType out = chain.OutputType();
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(out.Format());
  EXPECT_EQ(vih->bmiHeader.biWidth, c.W);
  EXPECT_EQ(std::abs(vih->bmiHeader.biHeight), c.H);
  EXPECT_EQ(vih->bmiHeader.biCompression, 0u);
  EXPECT_EQ(out.GetSampleSize(), static_cast<ULONG>(Stride(c.W, b) * c.H));

  std::mt19937 rng(7);
  for (int frame = 0; frame < 3; ++frame) {
    const Picture first = RandomPicture(c.w0, c.h0, b, rng), second = RandomPicture(c.w1, c.h1, b, rng);
    chain.Push(0, first.bytes, frame);
    const std::vector<BYTE> got = chain.Push(1, second.bytes, frame);
    const Picture want = Joined(first, second, c.W, c.H, c.orientation != 0, c.flipOutput);
    ASSERT_EQ(colourtest::FirstDifference(got, want.bytes), -1) << "frame " << frame;
  }
}

const JoinCase kJoinCases[] = {
    {"SideBySide", &MEDIASUBTYPE_RGB24, 0, 320, 240, 320, 240, false, 640, 240},
    {"StackedFirstAbove", &MEDIASUBTYPE_RGB24, 1, 320, 240, 320, 240, false, 320, 480},
    {"StackedTopDownShowsTheSecondAbove", &MEDIASUBTYPE_RGB24, 1, 320, 240, 320, 240, true, 320, 480},
    {"UnequalHeightsSideBySideRgb32", &MEDIASUBTYPE_RGB32, 0, 640, 480, 320, 240, false, 960, 480},
    {"UnequalHeightsSideBySideTopDown", &MEDIASUBTYPE_RGB32, 0, 64, 48, 32, 24, true, 96, 48},
    {"ShorterFirstPicture", &MEDIASUBTYPE_RGB24, 0, 33, 10, 41, 27, false, 74, 27},
    {"UnequalWidthsStackedPadded", &MEDIASUBTYPE_RGB24, 1, 101, 50, 61, 30, false, 101, 80},
    {"UnequalWidthsStackedTopDown", &MEDIASUBTYPE_RGB24, 1, 61, 30, 101, 50, true, 101, 80},
    {"OtherOrientationValuesStack", &MEDIASUBTYPE_RGB32, 7, 20, 10, 20, 10, false, 20, 20},
};

INSTANTIATE_TEST_SUITE_P(Tile, TileFrames, testing::ValuesIn(kJoinCases),
                         [](const testing::TestParamInfo<JoinCase>& info) { return std::string(info.param.name); });

// 0 -> 1 while connected keeps the 640 x 240 frame: both pictures at the origin, the first over
// the second, and the right half, covered by the last side-by-side frame, cleared.
TEST(TileMix, OrientationChangeKeepsTheSizeAndLeavesNoStaleBytes) {
  const CMediaType t = VideoType(MEDIASUBTYPE_RGB24, 320, 240);
  Chain chain(&t, &t);
  ASSERT_EQ(chain.outputConnect, S_OK);
  std::mt19937 rng(3);
  const Picture a = RandomPicture(320, 240, 3, rng), b = RandomPicture(320, 240, 3, rng);
  chain.Push(0, a.bytes);
  EXPECT_EQ(chain.Push(1, b.bytes), Joined(a, b, 640, 240, false, false).bytes);
  ASSERT_EQ(chain.filter->SetParameter("orientation", "1"), S_OK);
  Picture want(640, 240, 3);
  ReferencePlace(a, &want, 0, 0, false);
  for (int i = 0; i < 4; ++i) {  // every pooled output buffer has held a side-by-side frame
    const std::vector<BYTE> got = chain.Push(0, a.bytes);
    ASSERT_EQ(colourtest::FirstDifference(got, want.bytes), -1) << i;
  }
}

TEST(TileMix, OneInputPassesThroughUnchanged) {
  const CMediaType t = VideoType(MEDIASUBTYPE_RGB32, 30, 20, 400000);
  Chain chain(&t, nullptr);
  ASSERT_EQ(chain.outputConnect, S_OK);
  EXPECT_TRUE(chain.OutputType() == t);
  std::mt19937 rng(1);
  for (int i = 0; i < 5; ++i) {  // no frame-rate gate on the pass-through
    const Picture p = RandomPicture(30, 20, 4, rng);
    EXPECT_EQ(chain.Push(0, p.bytes, 1000 * i), p.bytes);
  }
  const std::vector<plenor::test::ReceivedSample> got = chain.sink->Samples();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[3].start, 3000);
  EXPECT_EQ(got[3].stop, 3001);
}

TEST(TileMix, RefusedTypesAndConnections) {
  ComPtr<TileMixFilter> f = MakeObject<TileMixFilter>();
  const CMediaType rgb24 = VideoType(MEDIASUBTYPE_RGB24, 64, 48), rgb32 = VideoType(MEDIASUBTYPE_RGB32, 64, 48);
  EXPECT_EQ(f->CheckOutputType(&rgb24), E_POINTER);  // no input format yet
  Chain mixed(&rgb24, &rgb32);
  EXPECT_EQ(mixed.inputConnect[0], S_OK);
  EXPECT_NE(mixed.inputConnect[1], S_OK);
  Chain chain(&rgb24, &rgb24);
  ASSERT_EQ(chain.outputConnect, S_OK);
  const CMediaType wrongSize = VideoType(MEDIASUBTYPE_RGB24, 64, 96);
  EXPECT_EQ(chain.filter->CheckOutputType(&wrongSize), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(chain.filter->CheckOutputType(&rgb32), VFW_E_TYPE_NOT_ACCEPTED);
  const CMediaType joined32 = VideoType(MEDIASUBTYPE_RGB32, 128, 48);
  EXPECT_EQ(chain.filter->CheckOutputType(&joined32), S_FALSE);
}

// Input pictures whose frame does not fit 2 GiB are refused at connection, also those whose row
// size times height does not even fit 64 bits (that product wrapped to a negative size, which
// passed the check; the frame store's allocation then threw out of the connection).
TEST(MixingBase, RefusesInputSizesThatDoNotFit) {
  struct Case {
    const char* name;
    LONG width, height;
    bool accepted;
  };
  const Case cases[] = {
      {"row size times height wraps 64 bits", INT_MAX, INT_MAX, false},
      {"the same top-down", INT_MAX, -INT_MAX, false},
      {"one row above 2 GiB", 600000000, 1, false},
      {"frame just above 2 GiB", 16384, 32769, false},
      {"negative width", -64, 48, false},
      {"zero height", 64, 0, false},
      {"a small picture", 64, -48, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMediaType t = VideoType(MEDIASUBTYPE_RGB32, 16, 16);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(t.Format());
    vih->bmiHeader.biWidth = c.width;
    vih->bmiHeader.biHeight = c.height;
    Chain chain(&t, nullptr);
    EXPECT_EQ(chain.inputConnect[0] == S_OK, c.accepted);
  }
}

TEST(MixingBase, EndOfStreamAndFlushesForwardedOnce) {
  const CMediaType t = VideoType(MEDIASUBTYPE_RGB24, 16, 8);
  Chain chain(&t, &t);
  ASSERT_EQ(chain.outputConnect, S_OK);
  struct Step {
    int input;
    int eos;  // end-of-stream notifications the sink has after the step
  };
  for (const Step& s : {Step{0, 0}, Step{0, 1}, Step{1, 1}, Step{1, 1}}) {
    ASSERT_EQ(chain.push[s.input]->EndOfStream(), S_OK);
    EXPECT_EQ(chain.sink->EndOfStreamCount(), s.eos);
  }
  chain.push[0]->BeginFlush();
  chain.push[1]->BeginFlush();
  chain.push[0]->BeginFlush();
  chain.push[0]->EndFlush();
  chain.push[1]->EndFlush();
  chain.push[1]->EndFlush();
  EXPECT_EQ(chain.sink->BeginFlushCount(), 1);
  EXPECT_EQ(chain.sink->EndFlushCount(), 1);
  // A new run forwards them again.
  chain.graph->Stop();
  chain.graph->Run();
  chain.push[1]->EndOfStream();
  chain.push[1]->EndOfStream();
  EXPECT_EQ(chain.sink->EndOfStreamCount(), 2);
}

// With one input connected, its own notifications are the ones forwarded (once each): waiting for
// the unconnected input would never end the stream.
TEST(MixingBase, OneConnectedInputEndsTheStreamAlone) {
  const CMediaType t = VideoType(MEDIASUBTYPE_RGB24, 16, 8);
  Chain chain(&t, nullptr);
  ASSERT_EQ(chain.outputConnect, S_OK);
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(chain.push[0]->EndOfStream(), S_OK);
    EXPECT_EQ(chain.sink->EndOfStreamCount(), 1);
    chain.push[0]->BeginFlush();
    EXPECT_EQ(chain.sink->BeginFlushCount(), 1);
    chain.push[0]->EndFlush();
    EXPECT_EQ(chain.sink->EndFlushCount(), 1);
  }
}

// 25 frames a second on each input (40 ms a frame, the inputs 20 ms apart) give about 25 output
// frames a second, not 50; without a frame duration every arriving frame is composed.
TEST(MixingBase, FrameRateGate) {
  const CMediaType paced = VideoType(MEDIASUBTYPE_RGB24, 16, 8, 400000);
  Chain chain(&paced, &paced);
  ASSERT_EQ(chain.outputConnect, S_OK);
  const CMediaType out = chain.OutputType();
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(out.Format());
  EXPECT_EQ(vih->AvgTimePerFrame, 400000);
  EXPECT_EQ(vih->dwBitRate, 32u * 8 * 3 * 200);  // frame bytes x 200 bits a second
  const std::vector<BYTE> input(Stride(16, 3) * 8, 9);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * i));
    chain.Push(i % 2, input, i * 200000LL);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate = chain.sink->SampleCount() / seconds;
  EXPECT_GE(rate, 18.0) << chain.sink->SampleCount() << " frames in " << seconds << " s";
  EXPECT_LE(rate, 27.0) << chain.sink->SampleCount() << " frames in " << seconds << " s";

  const CMediaType unpaced = VideoType(MEDIASUBTYPE_RGB24, 16, 8, 0);
  Chain every(&unpaced, &unpaced);
  ASSERT_EQ(every.outputConnect, S_OK);
  for (int i = 0; i < 20; ++i) every.Push(i % 2, input, i);
  EXPECT_EQ(every.sink->SampleCount(), 20u);
}

TEST(TileMix, DisconnectingAnInputFreesItsStoreAndPassesTheOtherThrough) {
  const CMediaType t = VideoType(MEDIASUBTYPE_RGB24, 12, 6);
  Chain chain(&t, &t);
  ASSERT_EQ(chain.outputConnect, S_OK);
  chain.graph->Stop();
  ASSERT_EQ(chain.graph->Disconnect(plenor::test::PinOf(chain.Base(), 1).Get()), S_OK);
  ASSERT_EQ(chain.graph->Disconnect(chain.push[1]->OutputPin()), S_OK);
  chain.graph->Run();
  std::mt19937 rng(2);
  const Picture p = RandomPicture(12, 6, 3, rng);
  EXPECT_EQ(chain.Push(0, p.bytes), p.bytes);
  EXPECT_EQ(chain.filter->Joiner()->m_nSecondWidth, 0);
}

TEST(TileMix, PersistsFourBytes) {
  ComPtr<TileMixFilter> f = MakeObject<TileMixFilter>();
  ASSERT_EQ(f->SetParameter("orientation", "1"), S_OK);
  ComPtr<IPersistStream> ps;
  ASSERT_EQ(f->NonDelegatingQueryInterface(IID_IPersistStream, reinterpret_cast<void**>(ps.AsOut())), S_OK);
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
  ASSERT_EQ(ps->Save(stream.Get(), TRUE), S_OK);
  std::string bytes;
  ASSERT_EQ(GetStreamBytes(stream.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, std::string("\x01\0\0\0", 4));
  EXPECT_EQ(ps->IsDirty(), S_FALSE);
}

}  // namespace
