// The module AvcDecodeFilter.so: the H.264 decoder over the codec library (no property page).
#include <new>

#include "h264/decoder/avcdecode.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"

CUnknown* AvcDecodeFilter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  try {
    return new AvcDecodeFilter(h264::CorvexProvider());
  } catch (const std::bad_alloc&) {
    if (phr) *phr = E_OUTOFMEMORY;
    return nullptr;
  }
}

namespace {
const AMOVIESETUP_MEDIATYPE sudInputTypes[] = {
    {&MEDIATYPE_Video, &MEDIASUBTYPE_PLENOR_H264},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_AVC1},
};
const AMOVIESETUP_MEDIATYPE sudOutputTypes[] = {
    {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24},
};
const AMOVIESETUP_PIN sudPins[] = {
    {L"", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 2, sudInputTypes},
    {L"", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudOutputTypes},
};
const AMOVIESETUP_FILTER sudFilter = {&CLSID_AvcDecodeFilter, L"Ravik Plenor H264 Decoder", MERIT_NORMAL, 2, sudPins};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor H264 Decoder", &CLSID_AvcDecodeFilter, AvcDecodeFilter::CreateInstance, nullptr, &sudFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
