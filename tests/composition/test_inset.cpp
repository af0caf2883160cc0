// InsetVideoFilter in the harness: pins and their lookup, the geometry (worked examples, values
// replaced and written back, refused and clamped parameters), every output frame against the
// reference of the arithmetic (RGB24 with padded rows and RGB32, bottom-up and top-down outputs,
// scaled main and sub-pictures, the green border), output checks, buffer sizing and persistence.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "composition/inset/insetvideo.h"
#include "platform/com/objidl.h"
#include "platform/strmbase/uuids.h"
#include "tests/colour/support_colour.h"
#include "tests/composition/support_composition.h"
#include "tests/composition/support_mixchain.h"

using namespace comptest;
using plenor::test::MakeObject;

namespace {

using Chain = MixChain<InsetVideoFilter>;

TEST(MultiIOPins, NamesLookupAndOffers) {
  ComPtr<InsetVideoFilter> f = MakeObject<InsetVideoFilter>();
  ASSERT_EQ(f->GetPinCount(), 3);
  const wchar_t* names[] = {L"Input 0", L"Input 1", L"Output 0"};
  for (int n = 0; n < 3; ++n) EXPECT_EQ(f->GetPin(n)->Name(), names[n]);
  EXPECT_EQ(f->GetPin(3), nullptr);
  EXPECT_EQ(f->GetPin(-1), nullptr);

  struct Find {
    const wchar_t* id;
    HRESULT hr;
    int pin;  // index for GetPin, -1: none
  };
  const Find finds[] = {{L"Output 0", S_OK, 2}, {L"Input 1", S_OK, 1},         {L"Input 0", S_OK, 0},
                        {L"Output 5", E_OUTOFMEMORY, -1}, {L"Pin 0", VFW_E_NOT_FOUND, -1},
                        {L"Input", VFW_E_NOT_FOUND, -1},  {L"Input x", VFW_E_NOT_FOUND, -1}};
  for (const Find& c : finds) {
    IPin* pin = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(f->FindPin(c.id, &pin), c.hr);
    if (c.pin < 0) {
      EXPECT_EQ(pin, nullptr);
    } else {
      EXPECT_EQ(pin, static_cast<IPin*>(f->GetPin(c.pin)));
      pin->Release();
    }
  }
  // No types on offer while no input is connected; nothing sent at end of stream while stopped.
  CMediaType mt;
  EXPECT_EQ(f->OutputPin(0)->GetMediaType(0, &mt), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(f->OutputPin(0)->DeliverEndOfStream(), S_OK);
  EXPECT_FALSE(f->OutputPin(0)->HasQueue());
  // Input pins count what they accept, as every input pin does.
  ComPtr<IPinSampleCount> count;
  EXPECT_EQ(f->InputPin(1)->QueryInterface(IID_IPinSampleCount, count.AsOut()), S_OK);
}

// The expected output frame: the main picture (scaled to the target when one is set), the
// sub-picture (scaled when its size differs) placed at the offsets, in the output's row order.
Picture Expected(const Picture& main, const Picture& sub, int W, int H, int sw, int sh, int ox, int oy, bool flip,
                 bool border) {
  Picture out = (main.w == W && main.h == H) ? main : ReferenceScale(main, W, H, false, true);
  if (flip) out = Flipped(out);
  Picture placed = (sub.w == sw && sub.h == sh) ? sub : ReferenceScale(sub, sw, sh, false, true);
  if (border && placed.b == 3) {
    Picture green = placed;
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x)
        if (y < 5 || y >= sh - 5 || x < 5 || x >= sw - 5) {
          uint8_t* p = green.Pixel(x, y);
          p[0] = 0, p[1] = 255, p[2] = 0;
        }
    placed = green;
    flip = false;  // the bordered drawing is never flipped
  }
  ReferencePlace(placed, &out, ox, oy, flip);
  return out;
}

struct InsetCase {
  const char* name;
  const GUID* subtype;
  int w0, h0, w1, h1;
  Params params;
  bool flipOutput;
  int W, H;           // output size
  int sw, sh, ox, oy;  // sub-picture geometry in use (read back)
};

class InsetFrames : public testing::TestWithParam<InsetCase> {};

TEST_P(InsetFrames, EqualTheReference) {
  const InsetCase& c = GetParam();
  const int b = *c.subtype == MEDIASUBTYPE_RGB24 ? 3 : 4;
  const CMediaType t0 = VideoType(*c.subtype, c.w0, c.h0), t1 = VideoType(*c.subtype, c.w1, c.h1);
  const CMediaType outType = VideoType(*c.subtype, c.W, c.flipOutput ? -c.H : c.H);
  Chain chain(&t0, &t1, c.params, c.flipOutput ? &outType : nullptr);
  for (HRESULT hr : chain.paramResults) EXPECT_EQ(hr, S_OK);  // no compositor yet: nothing to touch
  ASSERT_EQ(chain.inputConnect[0], S_OK);
  ASSERT_EQ(chain.inputConnect[1], S_OK);
  ASSERT_EQ(chain.outputConnect, S_OK);

  const CMediaType out = chain.OutputType();
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(out.Format());
  EXPECT_EQ(vih->bmiHeader.biWidth, c.W);
  EXPECT_EQ(vih->bmiHeader.biHeight, c.flipOutput ? -c.H : c.H);
  EXPECT_EQ(chain.Get("sub_pic_width"), std::to_string(c.sw));
  EXPECT_EQ(chain.Get("sub_pic_height"), std::to_string(c.sh));
  EXPECT_EQ(chain.Get("offset_x"), std::to_string(c.ox));
  EXPECT_EQ(chain.Get("offset_y"), std::to_string(c.oy));

  std::mt19937 rng(42);
  const bool border = chain.Get("border_width") != "0";
  for (int frame = 0; frame < 2; ++frame) {
    const Picture main = RandomPicture(c.w0, c.h0, b, rng), sub = RandomPicture(c.w1, c.h1, b, rng);
    const std::vector<BYTE> first = chain.Push(0, main.bytes, frame * 2);
    // Before the second input's first frame its store is blank.
    if (frame == 0) {
      Picture blank(c.w1, c.h1, b);
      EXPECT_EQ(colourtest::FirstDifference(
                    first, Expected(main, blank, c.W, c.H, c.sw, c.sh, c.ox, c.oy, c.flipOutput, border).bytes),
                -1);
    }
    const std::vector<BYTE> got = chain.Push(1, sub.bytes, frame * 2 + 1);
    ASSERT_EQ(got.size(), static_cast<size_t>(Stride(c.W, b) * c.H));
    const Picture want = Expected(main, sub, c.W, c.H, c.sw, c.sh, c.ox, c.oy, c.flipOutput, border);
    ASSERT_EQ(colourtest::FirstDifference(got, want.bytes), -1) << "frame " << frame;
  }
  EXPECT_EQ(chain.sink->SampleCount(), 4u);
}

const InsetCase kInsetCases[] = {
    {"DefaultsShrinkAnEqualSecondInput", &MEDIASUBTYPE_RGB24, 640, 480, 640, 480, {}, false, 640, 480, 256, 192, 0, 0},
    {"SmallSecondInputUnscaled", &MEDIASUBTYPE_RGB24, 720, 576, 352, 288, {}, false, 720, 576, 352, 288, 0, 0},
    {"PointFourOfBoth", &MEDIASUBTYPE_RGB32, 720, 576, 720, 576, {}, false, 720, 576, 288, 230, 0, 0},
    {"TargetSizeScalesTheMainPicture", &MEDIASUBTYPE_RGB24, 640, 480, 320, 240,
     {{"target_width", "1280"}, {"target_height", "720"}}, false, 1280, 720, 320, 240, 0, 0},
    {"PaddedRowsAndOffsets", &MEDIASUBTYPE_RGB24, 90, 60, 41, 29, {{"offset_x", "7"}, {"offset_y", "5"}}, false, 90,
     60, 41, 29, 7, 5},
    {"WideSecondInputReducedToPointFour", &MEDIASUBTYPE_RGB24, 90, 60, 50, 30, {}, false, 90, 60, 20, 30, 0, 0},
    {"NegativeOffsetReplaced", &MEDIASUBTYPE_RGB24, 91, 61, 30, 20, {{"offset_x", "-50"}, {"offset_y", "3"}}, false,
     91, 61, 30, 20, 10, 10},
    {"OffsetPastTheEdgeReplaced", &MEDIASUBTYPE_RGB24, 640, 480, 640, 480, {{"offset_x", "500"}}, false, 640, 480, 256,
     192, 10, 10},
    {"OversizedSubPictureReplaced", &MEDIASUBTYPE_RGB24, 101, 77, 33, 21, {{"sub_pic_width", "100000"}}, false, 101, 77,
     33, 21, 0, 0},
    {"ScaledSubPictureTopDownOutput", &MEDIASUBTYPE_RGB32, 200, 100, 150, 90,
     {{"sub_pic_width", "61"}, {"sub_pic_height", "29"}, {"offset_x", "20"}, {"offset_y", "11"}}, true, 200, 100, 61, 29,
     20, 11},
    {"TopDownOutputRgb24", &MEDIASUBTYPE_RGB24, 77, 50, 21, 13, {{"offset_x", "3"}, {"offset_y", "30"}}, true, 77, 50,
     21, 13, 3, 30},
    {"TargetDownscaleWithTopDownOutput", &MEDIASUBTYPE_RGB32, 320, 240, 100, 60,
     {{"target_width", "161"}, {"target_height", "97"}}, true, 161, 97, 40, 24, 0, 0},
    {"BorderFramesTheSubPicture", &MEDIASUBTYPE_RGB24, 120, 90, 40, 30,
     {{"border_width", "1"}, {"offset_x", "4"}, {"offset_y", "6"}}, false, 120, 90, 40, 30, 4, 6},
};

INSTANTIATE_TEST_SUITE_P(Inset, InsetFrames, testing::ValuesIn(kInsetCases),
                         [](const testing::TestParamInfo<InsetCase>& info) { return std::string(info.param.name); });

TEST(InsetVideo, ParametersWhileConnectedAndRefusedTypes) {
  const CMediaType t0 = VideoType(MEDIASUBTYPE_RGB24, 64, 48), t1 = VideoType(MEDIASUBTYPE_RGB24, 32, 24);
  Chain chain(&t0, &t1);
  ASSERT_EQ(chain.outputConnect, S_OK);
  EXPECT_EQ(chain.filter->SetParameter("target_width", "100"), E_FAIL);
  EXPECT_EQ(chain.filter->SetParameter("target_width", "0"), S_FALSE);
  EXPECT_EQ(chain.Get("target_width"), "0");
  // A page's values take effect on the next frame; an offset that does not fit is replaced.
  EXPECT_EQ(chain.filter->SetParameter("offset_x", "40"), S_OK);
  EXPECT_EQ(chain.Get("offset_x"), "10");
  // Output of another depth, size or major type.
  ComPtr<IPin> out = plenor::test::PinOf(chain.Base(), 2);
  const CMediaType rgb32 = VideoType(MEDIASUBTYPE_RGB32, 64, 48), wide = VideoType(MEDIASUBTYPE_RGB24, 65, 48);
  EXPECT_EQ(out->QueryAccept(&rgb32), S_FALSE);
  EXPECT_EQ(out->QueryAccept(&wide), S_FALSE);
  EXPECT_EQ(chain.filter->CheckOutputType(&wide), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(chain.filter->CheckOutputType(&rgb32), S_FALSE);
  // The output's buffers: bitmap rows (64 x 3 = 192 bytes, a multiple of 4).
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(chain.sink->Allocator()->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cbBuffer, 192 * 48);
}

TEST(InsetVideo, RefusedConnections) {
  struct Case {
    const char* name;
    CMediaType t0, t1;
    bool connectFirst;
    Params params;
    bool secondFails;
  };
  const Case cases[] = {
      {"another subtype on the second input", VideoType(MEDIASUBTYPE_RGB24, 64, 48),
       VideoType(MEDIASUBTYPE_RGB32, 32, 24), true, {}, true},
      {"second input first without a target size", VideoType(MEDIASUBTYPE_RGB24, 64, 48),
       VideoType(MEDIASUBTYPE_RGB24, 32, 24), false, {}, true},
      {"second input first with a target size", VideoType(MEDIASUBTYPE_RGB24, 64, 48),
       VideoType(MEDIASUBTYPE_RGB24, 32, 24), false, {{"target_width", "80"}, {"target_height", "60"}}, false},
      {"a target frame above 2 GiB", VideoType(MEDIASUBTYPE_RGB32, 64, 48), VideoType(MEDIASUBTYPE_RGB32, 32, 24), true,
       {{"target_width", "65535"}, {"target_height", "65535"}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Chain chain(c.connectFirst ? &c.t0 : nullptr, &c.t1, c.params);
    if (c.secondFails)
      EXPECT_NE(chain.inputConnect[1], S_OK);
    else
      EXPECT_EQ(chain.inputConnect[1], S_OK);
  }
}

// 641 RGB24 pixels make rows of 1,923 bytes padded to 1,924.
TEST(InsetVideo, OutputBuffersHoldPaddedRows) {
  const CMediaType t0 = VideoType(MEDIASUBTYPE_RGB24, 641, 480), t1 = VideoType(MEDIASUBTYPE_RGB24, 100, 80);
  Chain chain(&t0, &t1);
  ASSERT_EQ(chain.outputConnect, S_OK);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(chain.sink->Allocator()->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cbBuffer, 1924 * 480);
  EXPECT_EQ(chain.OutputType().GetSampleSize(), 1924u * 480);
}

TEST(InsetVideo, PersistsTwentyFourBytes) {
  ComPtr<InsetVideoFilter> f = MakeObject<InsetVideoFilter>();
  const char* values[][2] = {{"target_width", "320"}, {"target_height", "240"}, {"sub_pic_width", "-2"},
                             {"sub_pic_height", "70"}, {"offset_x", "5"},       {"offset_y", "258"}};
  for (auto& v : values) ASSERT_EQ(f->SetParameter(v[0], v[1]), S_OK);
  ComPtr<IPersistStream> ps;
  ASSERT_EQ(f->NonDelegatingQueryInterface(IID_IPersistStream, reinterpret_cast<void**>(ps.AsOut())), S_OK);
  ULARGE_INTEGER size{};
  ASSERT_EQ(ps->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 24u);
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
  ASSERT_EQ(ps->Save(stream.Get(), TRUE), S_OK);
  std::string bytes;
  ASSERT_EQ(GetStreamBytes(stream.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, std::string("\x40\x01\0\0\xF0\0\0\0\xFE\xFF\xFF\xFF\x46\0\0\0\x05\0\0\0\x02\x01\0\0", 24));
  ComPtr<IPersistPropertyBag> bag;
  ASSERT_EQ(f->NonDelegatingQueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(bag.AsOut())), S_OK);
  ASSERT_EQ(bag->InitNew(), S_OK);
  char value[32];
  int length = 0;
  ASSERT_EQ(f->GetParameter("target_height", sizeof value, value, &length), S_OK);
  EXPECT_STREQ(value, "0");
  ASSERT_EQ(f->GetParameter("offset_y", sizeof value, value, &length), S_OK);
  EXPECT_STREQ(value, "258");
}

}  // namespace
