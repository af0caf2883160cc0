// RateOverlayFilter.so: the frame-rate display filter and its property page.
#include "overlay/rateoverlay/rateoverlay.h"
#include "platform/strmbase/dllentry.h"

namespace {
const AMOVIESETUP_FILTER sudRateOverlay = {&CLSID_RateOverlayFilter, L"Ravik Plenor Framerate Display Filter",
                                           MERIT_DO_NOT_USE, 0, nullptr};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor Framerate Display Filter", &CLSID_RateOverlayFilter, RateOverlayFilter::CreateInstance, nullptr,
     &sudRateOverlay},
    {L"Framerate Display Properties", &CLSID_FramerateDisplayProperties, FramerateDisplayProperties::CreateInstance,
     nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
