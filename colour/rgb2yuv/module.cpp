// The module RgbToI420Filter.so: the RGB to YUV 4:2:0 filter and its property page.
#include "colour/rgb2yuv/rgb2yuvprops.h"
#include "colour/rgb2yuv/rgbtoi420.h"
#include "platform/strmbase/dllentry.h"

namespace {
const AMOVIESETUP_FILTER sudFilter = {&CLSID_RgbToI420Filter, L"Ravik Plenor RGB 2 YUV420P Converter",
                                      MERIT_DO_NOT_USE, 0, nullptr};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor RGB 2 YUV420P Converter", &CLSID_RgbToI420Filter, RgbToI420Filter::CreateInstance, nullptr,
     &sudFilter},
    {L"RGB2YUV Properties", &CLSID_RGB2YUVProperties, RGB2YUVProperties::CreateInstance, nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
