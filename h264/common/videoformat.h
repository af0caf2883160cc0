// Reading video format blocks without trusting their lengths, and buffer sizing, for the two
// H.264 filters.
#pragma once

#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/strmif.h"

namespace h264 {

// The VIDEOINFOHEADER of a FORMAT_VideoInfo type, or null (other format type, short block).
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt);
// The MPEG2VIDEOINFO of a FORMAT_MPEG2Video type, or null (other format type, short block).
const MPEG2VIDEOINFO* Mpeg2InfoOf(const AM_MEDIA_TYPE& mt);
// The BITMAPINFOHEADER of a FORMAT_VideoInfo, FORMAT_VideoInfo2 or FORMAT_MPEG2Video type whose
// block holds its structure, or null.
const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& mt);

// Bytes of one bitmap row of width pixels of bytesPerPixel bytes, padded to a multiple of 4.
constexpr long long BitmapStride(long long width, int bytesPerPixel) { return (width * bytesPerPixel + 3) / 4 * 4; }

// Asks the allocator for buffers of bytes each; an alignment of 0 becomes 1 and a buffer count
// of 0 becomes defaultBuffers. The allocator's failure, E_FAIL when it grants smaller buffers,
// else S_OK.
HRESULT SetBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp, LONG bytes, LONG defaultBuffers);

}  // namespace h264
