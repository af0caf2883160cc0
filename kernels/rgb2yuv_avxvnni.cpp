// RGB24/RGB32 -> YUV 4:2:0 with AVX2 and AVX-VNNI: the kernels of rgb2yuv_avx2_body.h.
#include <immintrin.h>

#include "kernels/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#pragma GCC push_options
#pragma GCC target("avx2,avxvnni")
// clang has no GCC target pragma: the same instruction sets as an attribute of every function.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2,avxvnni"))), apply_to = function)
#endif

namespace colour {
namespace {
constexpr bool kVnni = true;
}  // namespace
}  // namespace colour

#include "kernels/rgb2yuv_avx2_body.h"

namespace colour {

const RgbToYuvKernels kRgb24ToYuvAVXVNNI = {"AVXVNNI", RowPairAVX2<3>, FrameAVX2<3>};
const RgbToYuvKernels kRgb32ToYuvAVXVNNI = {"AVXVNNI", RowPairAVX2<4>, FrameAVX2<4>};

}  // namespace colour

#ifdef __clang__
#pragma clang attribute pop
#endif
#pragma GCC pop_options

#endif
