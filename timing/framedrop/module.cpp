// FrameDropFilter.so: the frame skipping filter and its property page.
#include "platform/strmbase/dllentry.h"
#include "timing/framedrop/framedrop.h"

namespace {
const AMOVIESETUP_FILTER sudFrameDrop = {&CLSID_FrameDropFilter, L"Ravik Plenor Frame Skipping Filter",
                                         MERIT_DO_NOT_USE, 0, nullptr};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor Frame Skipping Filter", &CLSID_FrameDropFilter, FrameDropFilter::CreateInstance, nullptr,
     &sudFrameDrop},
    {L"Frame Skipping Properties", &CLSID_FrameSkippingProperties, FrameSkippingProperties::CreateInstance, nullptr,
     nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
