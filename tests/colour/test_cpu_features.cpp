// The process-wide feature mask and the converters' kernel choice.
#include <gtest/gtest.h>

#include "kernels/converters.h"
#include "platform/com/cpu.h"

namespace {

class CpuMask : public testing::Test {
 protected:
  void TearDown() override { PlenorSetCpuMask(kCpuAllFeatures); }
};

TEST_F(CpuMask, FlagsAreTheDetectedFeaturesLimitedByTheMask) {
  const DWORD detected = PlenorCpuDetected();
#if defined(__x86_64__)
  EXPECT_TRUE(detected & kCpuSSE2) << "every x86-64 processor has SSE2";
#endif
  if (detected & (kCpuAVX512BW | kCpuAVXVNNI)) {
    EXPECT_TRUE(detected & kCpuAVX2);
  }
  if (detected & (kCpuAVX512VBMI | kCpuAVX512VNNI)) {
    EXPECT_TRUE(detected & kCpuAVX512BW);
  }
  EXPECT_EQ(PlenorCpuMask(), kCpuAllFeatures);
  EXPECT_EQ(PlenorCpuFlags(), detected);
  PlenorSetCpuMask(kCpuSSE2 | kCpuAVX2);
  EXPECT_EQ(PlenorCpuFlags(), detected & (kCpuSSE2 | kCpuAVX2));
  PlenorSetCpuMask(0);
  EXPECT_EQ(PlenorCpuFlags(), 0u);
  EXPECT_EQ(PlenorCpuDetected(), detected);
}

TEST_F(CpuMask, ConvertersChooseTheirKernelWhenBuiltOrAskedAgain) {
  PlenorSetCpuMask(0);
  RealRGB24toYUV420Converter rgb24(64, 4, 128);
  RealRGB32toYUV420Converter rgb32(64, 4);
  RealYUV420toRGB24Converter yuv;
  EXPECT_STREQ(rgb24.KernelName(), "C");
  EXPECT_STREQ(rgb32.KernelName(), "C");
  EXPECT_STREQ(yuv.KernelName(), "C");
  if (!(PlenorCpuDetected() & kCpuAVX2))
    GTEST_SKIP() << "this processor has no AVX2";
  PlenorSetCpuMask(kCpuAllFeatures);
  EXPECT_STREQ(rgb24.KernelName(), "C") << "an existing converter keeps its kernel";
  rgb24.SelectKernel();
  yuv.SelectKernel();
  EXPECT_STRNE(rgb24.KernelName(), "C");
  EXPECT_STRNE(yuv.KernelName(), "C");
}

}  // namespace
