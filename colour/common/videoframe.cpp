#include "colour/common/videoframe.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

void CompleteOddEdges(BYTE* plane, long long width, long long height, long long stride, int bytesPerPixel,
                      bool bottomUp) {
  if (width <= 0 || height <= 0) return;
  const long long rowBytes = width * bytesPerPixel;
  if (width == 1 || height == 1) {
    for (long long row = 0; row < height; ++row) std::memset(plane + row * stride, 0, static_cast<size_t>(rowBytes));
    return;
  }
  // The rows the blocks covered, in memory order.
  const long long even = height & ~1LL;
  const long long first = bottomUp ? height - even : 0;
  if (width & 1) {
    for (long long row = first; row < first + even; ++row) {
      BYTE* p = plane + row * stride + rowBytes - bytesPerPixel;
      std::memcpy(p, p - bytesPerPixel, static_cast<size_t>(bytesPerPixel));
    }
  }
  if (height & 1) {
    // The picture's last row is memory row 0 bottom-up, the last memory row top-down.
    BYTE* last = plane + (bottomUp ? 0 : (height - 1) * stride);
    const BYTE* before = bottomUp ? plane + stride : last - stride;
    std::memcpy(last, before, static_cast<size_t>(rowBytes));
  }
}

}  // namespace colour
