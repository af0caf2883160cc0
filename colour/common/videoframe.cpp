#include "colour/common/videoframe.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace colour {

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

VIDEOINFOHEADER* VideoInfoOf(AM_MEDIA_TYPE& mt) {
  return const_cast<VIDEOINFOHEADER*>(VideoInfoOf(static_cast<const AM_MEDIA_TYPE&>(mt)));
}

bool PictureFits(const BITMAPINFOHEADER& bmi, int bytesPerPixel) {
  const long long width = bmi.biWidth;
  const long long height = std::llabs(static_cast<long long>(bmi.biHeight));
  if (width <= 0 || height == 0 || width > INT32_MAX / 4 || height > INT32_MAX) return false;
  return BitmapStride(width, bytesPerPixel) * height <= INT32_MAX;
}

HRESULT CopyConnectionType(IPin* pin, CMediaType* pMediaType) {
  AM_MEDIA_TYPE connected{};
  HRESULT hr = pin->ConnectionMediaType(&connected);
  if (FAILED(hr)) return hr;
  hr = pMediaType->Set(connected);
  FreeMediaType(connected);
  return hr;
}

HRESULT SetBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp, LONG bytes) {
  pProp->cbBuffer = bytes;
  if (pProp->cbAlign == 0) pProp->cbAlign = 1;
  if (pProp->cBuffers == 0) pProp->cBuffers = 1;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAlloc->SetProperties(pProp, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pProp->cbBuffer ? E_FAIL : S_OK;
}

HRESULT ReportSampleFailure(IStatusInterface* status, HRESULT hr, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (status) status->SetLastErrorText(text, true);
  return hr;
}

}  // namespace colour
