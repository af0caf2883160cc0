// AvcFileSource.so: the H.264 elementary-stream file source and its property page.
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"
#include "sources/avcfile/avcfilesource.h"
#include "sources/avcfile/h264properties.h"

namespace {
const AMOVIESETUP_MEDIATYPE sudOutputTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_H264}};
const AMOVIESETUP_PIN sudPins[] = {
    {L"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudOutputTypes},
};
const AMOVIESETUP_FILTER sudFilter = {&CLSID_AvcFileSource, L"Ravik Plenor H264 Source", MERIT_DO_NOT_USE, 1,
                                      sudPins};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor H264 Source", &CLSID_AvcFileSource, AvcFileSourceFilter::CreateInstance, nullptr, &sudFilter},
    {L"H264 Source Filter Properties", &CLSID_H264Properties, H264Properties::CreateInstance, nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
