// AvcDecodeFilter serialises its codec calls: settings written from another thread while samples
// stream never reach the codec at the same time as a Decode (the stand-in codec records both in
// one unsynchronised log, so ThreadSanitizer sees any overlap), and the encoder does the same
// for its pass-through.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "h264/common/avcformat.h"
#include "h264/decoder/avcdecode.h"
#include "h264/encoder/avcencode.h"
#include "tests/h264/support_h264.h"

using namespace h264test;
using plenor::test::MakeObject;

namespace {

TEST(H264Threads, SettingsWhileStreamingAreSerialisedWithTheCodec) {
  for (bool decoder : {true, false}) {
    SCOPED_TRACE(decoder ? "decoder" : "encoder");
    auto codec = std::make_unique<FakeCodec>();
    Next(codec.get());
    const Bytes sps = NalUnit(7, 9), pps = NalUnit(8, 4);
    Bytes header(h264::SequenceHeaderSize(sps, pps));
    h264::WriteSequenceHeader(sps, pps, header.data());
    std::unique_ptr<Chain<AvcDecodeFilter>> dec;
    std::unique_ptr<Chain<AvcEncodeFilter>> enc;
    ISettingsInterface* settings = nullptr;
    if (decoder) {
      dec = std::make_unique<Chain<AvcDecodeFilter>>(MakeObject<AvcDecodeFilter>(FakeProvider()),
                                                     Avc1Type(32, 32, header), 1 << 14);
      ASSERT_EQ(dec->outputConnect, S_OK);
      settings = dec->filter.Get();
    } else {
      codec->pictureBytes = 32 * 32 * 3;
      enc = std::make_unique<Chain<AvcEncodeFilter>>(MakeObject<AvcEncodeFilter>(FakeProvider()), RgbType(32, 32),
                                                     1 << 14);
      ASSERT_EQ(enc->outputConnect, S_OK);
      settings = enc->filter.Get();
    }
    std::atomic<bool> stop{false};
    std::thread writer([&] {
      while (!stop) settings->SetParameter("width", "32");
    });
    const Bytes slice = {0, 0, 0, 5, 0x65, 1, 2, 3, 4};
    for (int i = 0; i < 200; ++i) {
      if (decoder)
        EXPECT_EQ(dec->Push(slice), S_OK);
      else
        EXPECT_EQ(enc->Push(Bytes(32 * 32 * 3, 7)), S_OK);
    }
    stop = true;
    writer.join();
    EXPECT_EQ((decoder ? dec->sink : enc->sink)->SampleCount(), 200u);
  }
}

}  // namespace
