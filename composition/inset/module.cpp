// The module InsetVideoFilter.so: the picture-in-picture filter and its property page.
#include "composition/inset/insetvideo.h"
#include "composition/inset/pipprops.h"
#include "platform/strmbase/dllentry.h"

namespace {
const AMOVIESETUP_FILTER sudFilter = {&CLSID_InsetVideoFilter, L"Ravik Plenor Picture in Picture Filter", MERIT_NORMAL,
                                      0, nullptr};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor Picture in Picture Filter", &CLSID_InsetVideoFilter, InsetVideoFilter::CreateInstance, nullptr,
     &sudFilter},
    {L"Picture in picture Properties", &CLSID_PicInPicProperties, PicInPicProperties::CreateInstance, nullptr,
     nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
