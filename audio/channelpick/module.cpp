// The module ChannelPickFilter.so: the stereo-to-mono filter and its property page.
#include "audio/channelpick/channelpick.h"
#include "audio/channelpick/stereo2monoprops.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"

namespace {
// Both registered pins point at this one media-type entry.
const AMOVIESETUP_MEDIATYPE sudPcmType = {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM};
const AMOVIESETUP_PIN sudPins[] = {
    {L"", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &sudPcmType},
    {L"", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &sudPcmType},
};
const AMOVIESETUP_FILTER sudFilter = {&CLSID_ChannelPickFilter, L"Ravik Plenor Stereo2Mono Filter", MERIT_DO_NOT_USE,
                                      2, sudPins};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor Stereo2Mono Filter", &CLSID_ChannelPickFilter, ChannelPickFilter::CreateInstance, nullptr,
     &sudFilter},
    {L"Stereo 2 Mono In Place Properties", &CLSID_Stereo2MonoProperties, Stereo2MonoProperties::CreateInstance,
     nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
