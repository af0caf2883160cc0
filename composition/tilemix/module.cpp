// The module TileMixFilter.so: the two-input video mixer and its property page.
#include "composition/tilemix/mixprops.h"
#include "composition/tilemix/tilemix.h"
#include "platform/strmbase/dllentry.h"

namespace {
const AMOVIESETUP_FILTER sudFilter = {&CLSID_TileMixFilter, L"Ravik Plenor Video Mixer", MERIT_DO_NOT_USE, 0, nullptr};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor Video Mixer", &CLSID_TileMixFilter, TileMixFilter::CreateInstance, nullptr, &sudFilter},
    {L"Video Mixing Properties", &CLSID_VideoMixingProperties, VideoMixingProperties::CreateInstance, nullptr,
     nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
