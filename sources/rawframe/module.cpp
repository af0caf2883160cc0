// RawFrameSource.so: the raw YUV file source and its property page.
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"
#include "sources/rawframe/rawframesource.h"
#include "sources/rawframe/yuvproperties.h"

namespace {
const AMOVIESETUP_MEDIATYPE sudOutputTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_I420}};
const AMOVIESETUP_PIN sudPins[] = {
    {L"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudOutputTypes},
};
const AMOVIESETUP_FILTER sudFilter = {&CLSID_RawFrameSource, L"Ravik Plenor YUV Source", MERIT_DO_NOT_USE, 1,
                                      sudPins};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor YUV Source", &CLSID_RawFrameSource, RawFrameSourceFilter::CreateInstance, nullptr, &sudFilter},
    {L"YUV Source Filter Properties", &CLSID_YuvProperties, YuvProperties::CreateInstance, nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
