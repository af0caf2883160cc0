#include "h264/common/videoformat.h"

#include "platform/strmbase/uuids.h"

namespace h264 {

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

const MPEG2VIDEOINFO* Mpeg2InfoOf(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_MPEG2Video || !mt.pbFormat || mt.cbFormat < sizeof(MPEG2VIDEOINFO)) return nullptr;
  return reinterpret_cast<const MPEG2VIDEOINFO*>(mt.pbFormat);
}

const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& mt) {
  if (const VIDEOINFOHEADER* vih = VideoInfoOf(mt)) return &vih->bmiHeader;
  if ((mt.formattype == FORMAT_VideoInfo2 || mt.formattype == FORMAT_MPEG2Video) && mt.pbFormat &&
      mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
    return &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
  return nullptr;
}

HRESULT SetBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp, LONG bytes, LONG defaultBuffers) {
  pProp->cbBuffer = bytes;
  if (pProp->cbAlign == 0) pProp->cbAlign = 1;
  if (pProp->cBuffers == 0) pProp->cBuffers = defaultBuffers;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAlloc->SetProperties(pProp, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pProp->cbBuffer ? E_FAIL : S_OK;
}

}  // namespace h264
