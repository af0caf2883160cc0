// OverlayKitFilter.so: the utility overlay filter and its property page.
#include "overlay/overlaykit/overlaykit.h"
#include "platform/strmbase/dllentry.h"

namespace {
const AMOVIESETUP_FILTER sudOverlayKit = {&CLSID_OverlayKitFilter, L"Ravik Plenor Utility Filter", MERIT_DO_NOT_USE,
                                          0, nullptr};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor Utility Filter", &CLSID_OverlayKitFilter, OverlayKitFilter::CreateInstance, nullptr,
     &sudOverlayKit},
    {L"Utility Properties", &CLSID_UtilityProperties, UtilityProperties::CreateInstance, nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
