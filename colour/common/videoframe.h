// Frame geometry shared by the two conversion filters: reading a VIDEOINFOHEADER out of a media
// type without trusting its length, the row stride of an RGB bitmap, the size limits of the
// pictures the filters take on, and the failure report of a sample that cannot be converted.
#pragma once

#include "framework/status.h"
#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/mtype.h"

namespace colour {

// The VIDEOINFOHEADER of a FORMAT_VideoInfo type, or null when the type has another format type
// or a block too short to hold one.
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt);
VIDEOINFOHEADER* VideoInfoOf(AM_MEDIA_TYPE& mt);

// Bytes of one row of width pixels of bytesPerPixel bytes, padded to a multiple of 4 (the row
// of a bitmap). Computed in 64 bits.
constexpr long long BitmapStride(long long width, int bytesPerPixel) {
  return (width * bytesPerPixel + 3) / 4 * 4;
}

// True when the picture of bmi can be handled: width above 0, height not 0, and a frame of
// bitmap rows of bytesPerPixel bytes per pixel (the larger of the two sides of a conversion)
// fits in a 32-bit buffer size.
bool PictureFits(const BITMAPINFOHEADER& bmi, int bytesPerPixel);

// Asks the allocator for buffers of bytes each (an alignment or buffer count of 0 becomes 1).
// The allocator's failure, E_FAIL when it grants smaller buffers, else S_OK.
HRESULT SetBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp, LONG bytes);

// Odd picture sizes. The converters work in 2x2 blocks, so of a picture with an odd width or
// height they leave the last column or row alone. The filters then define those pixels: the last
// column repeats the column before it and the last row repeats the row before it (edge
// replication, as a scaler extends a picture), so every output byte depends only on the input.
// A picture 1 pixel wide or high holds no block at all and is written black (all bytes 0).
// plane: rows of width pixels of bytesPerPixel bytes, stride bytes apart in memory; bottomUp: the
// first row in memory is the picture's last row.
void CompleteOddEdges(BYTE* plane, long long width, long long height, long long stride, int bytesPerPixel,
                      bool bottomUp);

// Formats the text (printf style, at most 255 characters) and stores it as the filter's last
// error, notifying the host when it set an event sink; returns hr. Used for a sample that cannot
// be converted: the failure stops the stream, and the text tells the host why.
HRESULT ReportSampleFailure(IStatusInterface* status, HRESULT hr, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace colour
