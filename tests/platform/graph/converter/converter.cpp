#include "tests/platform/graph/converter/converter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/transfrm.h"

namespace {

// RGB32 to RGB24: the fourth byte of each pixel is dropped, rows keep their order.
class RgbConverter : public CTransformFilter {
 public:
  explicit RgbConverter(LPUNKNOWN outer) : CTransformFilter(L"test converter", outer, CLSID_GraphTestConverter) {}

  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    auto* f = new (std::nothrow) RgbConverter(outer);
    if (!f) *phr = E_OUTOFMEMORY;
    return f;
  }

  HRESULT CheckInputType(const CMediaType* mt) override {
    return *mt->Type() == MEDIATYPE_Video && *mt->Subtype() == MEDIASUBTYPE_RGB32 &&
                   *mt->FormatType() == FORMAT_VideoInfo && mt->FormatLength() >= sizeof(VIDEOINFOHEADER)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    CMediaType want;
    if (FAILED(OutputFor(*in, &want))) return VFW_E_TYPE_NOT_ACCEPTED;
    return *out == want ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int pos, CMediaType* mt) override {
    if (pos < 0) return E_INVALIDARG;
    if (pos > 0) return VFW_S_NO_MORE_ITEMS;
    return OutputFor(m_pInput->CurrentMediaType(), mt);
  }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override {
    props->cBuffers = std::max<LONG>(props->cBuffers, 1);
    props->cbBuffer = std::max<LONG>(props->cbBuffer, static_cast<LONG>(m_pOutput->CurrentMediaType().GetSampleSize()));
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = alloc->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < props->cbBuffer ? E_FAIL : S_OK;
  }
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    BYTE *src = nullptr, *dst = nullptr;
    in->GetPointer(&src);
    out->GetPointer(&dst);
    LONG pixels = std::min(in->GetActualDataLength() / 4, out->GetSize() / 3);
    for (LONG i = 0; i < pixels; ++i) std::memcpy(dst + 3 * i, src + 4 * i, 3);
    out->SetActualDataLength(pixels * 3);
    return S_OK;
  }

 private:
  static HRESULT OutputFor(const CMediaType& in, CMediaType* out) {
    if (in.FormatLength() < sizeof(VIDEOINFOHEADER)) return E_FAIL;
    *out = in;
    out->SetSubtype(&MEDIASUBTYPE_RGB24);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(out->Format());
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
    out->SetSampleSize(vih->bmiHeader.biSizeImage);
    return S_OK;
  }
};

const AMOVIESETUP_MEDIATYPE sudIn[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32}};
const AMOVIESETUP_MEDIATYPE sudOut[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
const AMOVIESETUP_PIN sudPins[] = {
    {L"In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudIn},
    {L"Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudOut},
};
const AMOVIESETUP_FILTER sudFilter = {&CLSID_GraphTestConverter, kGraphTestConverterName, MERIT_NORMAL, 2, sudPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {kGraphTestConverterName, &CLSID_GraphTestConverter, RgbConverter::CreateInstance, nullptr, &sudFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
