// The module I420ToRgbFilter.so: the YUV 4:2:0 to RGB24 filter and its property page.
#include "colour/yuv2rgb/i420torgb.h"
#include "colour/yuv2rgb/yuv2rgbprops.h"
#include "platform/strmbase/dllentry.h"

namespace {
const AMOVIESETUP_FILTER sudFilter = {&CLSID_I420ToRgbFilter, L"Ravik Plenor YUV420P 2 RGB Converter",
                                      MERIT_DO_NOT_USE, 0, nullptr};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor YUV420P 2 RGB Converter", &CLSID_I420ToRgbFilter, I420ToRgbFilter::CreateInstance, nullptr,
     &sudFilter},
    {L"YUV2RGB Properties", &CLSID_YUV2RGBProperties, YUV2RGBProperties::CreateInstance, nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
