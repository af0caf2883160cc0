// The module AvcEncodeFilter.so: the H.264 encoder over the codec library and its property page.
#include <new>

#include "h264/encoder/avcencode.h"
#include "h264/encoder/encoderprops.h"
#include "platform/strmbase/dllentry.h"

CUnknown* AvcEncodeFilter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  try {
    return new AvcEncodeFilter(h264::CorvexProvider());
  } catch (const std::bad_alloc&) {
    if (phr) *phr = E_OUTOFMEMORY;
    return nullptr;
  }
}

namespace {
const AMOVIESETUP_FILTER sudFilter = {&CLSID_AvcEncodeFilter, L"Ombrel H264 Encoder", MERIT_DO_NOT_USE, 0, nullptr};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ombrel H264 Encoder", &CLSID_AvcEncodeFilter, AvcEncodeFilter::CreateInstance, nullptr, &sudFilter},
    {L"H264 Properties", &CLSID_H264EncoderProperties, H264EncoderProperties::CreateInstance, nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
