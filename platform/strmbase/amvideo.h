// Media type record and format blocks, with Windows layouts (checked by static_assert).
#pragma once

#include <cstddef>

#include "platform/com/unknown.h"

struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};

struct VIDEOINFOHEADER2 {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  DWORD dwInterlaceFlags;
  DWORD dwCopyProtectFlags;
  DWORD dwPictAspectRatioX;
  DWORD dwPictAspectRatioY;
  DWORD dwControlFlags;
  DWORD dwReserved2;
  BITMAPINFOHEADER bmiHeader;
};

// Declared size 136; the sequence header (parameter sets) follows in the format block, so the
// block is usually longer than the structure.
struct MPEG2VIDEOINFO {
  VIDEOINFOHEADER2 hdr;
  DWORD dwStartTimeCode;
  DWORD cbSequenceHeader;
  DWORD dwProfile;
  DWORD dwLevel;
  DWORD dwFlags;
  DWORD dwSequenceHeader[1];
};

#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
constexpr WORD WAVE_FORMAT_PCM = 1;

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);
static_assert(sizeof(VIDEOINFOHEADER2) == 112);
static_assert(offsetof(VIDEOINFOHEADER2, dwControlFlags) == 64);
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) == 72);
static_assert(sizeof(MPEG2VIDEOINFO) == 136);
static_assert(offsetof(MPEG2VIDEOINFO, dwSequenceHeader) == 132);
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8);
static_assert(offsetof(WAVEFORMATEX, wBitsPerSample) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);

// Bytes of one frame of an uncompressed RGB picture: rows padded to 4 bytes.
constexpr DWORD DIBWIDTHBYTES(const BITMAPINFOHEADER& bi) {
  return ((static_cast<DWORD>(bi.biWidth) * bi.biBitCount + 31u) & ~31u) / 8u;
}
inline DWORD GetBitmapSize(const BITMAPINFOHEADER* bi) {
  LONG h = bi->biHeight < 0 ? -bi->biHeight : bi->biHeight;
  return DIBWIDTHBYTES(*bi) * static_cast<DWORD>(h);
}
#define HEADER(pVideoInfo) (&((reinterpret_cast<VIDEOINFOHEADER*>(pVideoInfo))->bmiHeader))

constexpr DWORD MAKEFOURCC(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
         (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}
