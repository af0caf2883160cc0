// The codec instances of the library: kept apart from codec.cpp so that tests which drive the
// filters with a stand-in codec do not link the library.
#include "h264/common/codec.h"

namespace h264 {

namespace {
ICodecv2* CreateCorvex() {
  CorvexFactory factory;
  return factory.GetCodecInstance();
}
void ReleaseCorvex(ICodecv2* codec) {
  CorvexFactory factory;
  factory.ReleaseCodecInstance(codec);
}
constexpr CodecProvider kCorvex{CreateCorvex, ReleaseCorvex};
}  // namespace

const CodecProvider& CorvexProvider() { return kCorvex; }

}  // namespace h264
