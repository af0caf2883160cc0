// RawFrameSourceFilter: plays a file of raw, headerless video frames (planar YUV 4:2:0 offered as
// I420, or packed 4:4:4 with four bytes per pixel offered as AYUV), one frame per sample, frame n
// stamped n x 10000000 / "fps". The picture size and format are not in the file: they come from
// the file name (yuvfilename.h), the parameter "sourcedimensions" or the property page.
//
// Parameters: "yuv_format" (unsigned, 0 planar 4:2:0, 1 packed 4:4:4), "sourcedimensions" (text
// "WxH", default "352x288"), "fps" (unsigned, default 30; 0 and values above 10,000,000, whose
// frame duration would be 0, are refused). A size in the file name that cannot be used (0x0, a
// frame too large for a sample) keeps the size there was and sets a last error text saying so.
//
// Threads and locks: the application thread connects, loads, sets parameters and stops; the pin's
// worker thread runs FillBuffer under the pin's stream lock. Everything FillBuffer reads (the
// file, the sizes, the frame count, the duration, the frame index) is changed only under the
// filter's state lock and then the stream lock, in that order, so a change lands between two
// frames. FillBuffer never takes the state lock.
#pragma once

#include <string>

#include "framework/settings.h"
#include "framework/status.h"
#include "platform/com/objidl.h"
#include "platform/strmbase/source.h"
#include "sources/rawframe/yuvfilename.h"

// {C82F6A6B-F467-4BE5-AAEF-D716803D0D69}
PLENOR_GUID(CLSID_RawFrameSource, 0xc82f6a6b, 0xf467, 0x4be5, 0xaa, 0xef, 0xd7, 0x16, 0x80, 0x3d, 0x0d, 0x69);
// {6AEB343C-AA14-455A-9E07-9CFD93BB7E4E}
PLENOR_GUID(CLSID_YuvProperties, 0x6aeb343c, 0xaa14, 0x455a, 0x9e, 0x07, 0x9c, 0xfd, 0x93, 0xbb, 0x7e, 0x4e);

class RawFrameSourceFilter;

class YuvOutputPin : public CSourceStream {
 public:
  YuvOutputPin(HRESULT* phr, RawFrameSourceFilter* pFilter, LPCWSTR pName);

  // Worker thread, under the stream lock: reads the next whole frame straight into the sample
  // and stamps it; S_FALSE after the last whole frame or without a file. A frame that no longer
  // fits the negotiated buffer (size or format changed after connection) ends the stream with
  // VFW_E_BUFFER_OVERFLOW instead of being copied.
  HRESULT FillBuffer(IMediaSample* pSample) override;
  // Under the state lock: the one type of the filter's current size and format.
  HRESULT GetMediaType(CMediaType* pMediaType) override;
  using CSourceStream::GetMediaType;
  // Under the state lock: one buffer at least, each biSizeImage bytes of the connection type.
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;

  CCritSec* StreamLock() { return &m_csStream; }

 private:
  friend class RawFrameSourceFilter;

  RawFrameSourceFilter* const m_pSource;
  // The next frame to deliver (stream lock).
  LONGLONG m_nFrameIndex = 0;
  // 10000000 / "fps" (stream lock).
  REFERENCE_TIME m_rtFrameDuration = 333333;
  CCritSec m_csStream;
};

class RawFrameSourceFilter : public CSource,
                             public CSettingsInterface,
                             public CStatusInterface,
                             public IFileSourceFilter,
                             public ISpecifyPropertyPages {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  ~RawFrameSourceFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFileSourceFilter. Load opens the file (shared with other readers and writers), closing the
  // one loaded before, applies the name rules and rewinds to frame 0; the media type argument is
  // not used. A file that cannot be opened is reported ("Failed to open file: " + name) and
  // leaves the filter without a file, its name kept.
  STDMETHODIMP Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
  // The kept name in task memory (null when none); the media type is not filled.
  STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

  // ISpecifyPropertyPages: the YuvProperties page.
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // CSettingsInterface.
  void InitParameters() override;
  // "sourcedimensions": "WxH" with both at least 1 and a frame that fits a sample buffer sets the
  // size, else E_FAIL and nothing changes. Other names: the base set, then the frame size, count
  // and duration follow; "fps" 0 and a "yuv_format" whose frame would not fit are refused (E_FAIL,
  // old value kept).
  STDMETHODIMP SetParameter(const char* name, const char* value) override;

  // Stops the worker thread (base Stop), then rewinds to frame 0 under the stream lock.
  STDMETHODIMP Stop() override;

  // Application thread: makes frame n (0-based) the next one to deliver, as a host stepping
  // through a file would. E_INVALIDARG outside 0 ... frame count.
  HRESULT SeekToFrame(LONGLONG n);

 private:
  friend class YuvOutputPin;

  RawFrameSourceFilter(LPUNKNOWN pUnk, HRESULT* phr);

  // Bytes of one frame of width x height at the current bytes per pixel, or -1 when it is not a
  // usable size (a side below 1, or a frame larger than a sample buffer can be).
  LONGLONG FrameBytes(int width, int height, double bytesPerPixel) const;
  // Takes width x height when usable (true), else changes nothing (false). Both locks held.
  bool SetSize(int width, int height);
  // The last error text for a size in the file name that SetSize refused: which size, and why.
  std::string RefusedSizeText(const std::string& name, const rawframe::YuvNameInfo& info) const;
  // Frame size, frame count and frame duration from the current values. Both locks held.
  void Recompute();

  YuvOutputPin* m_pPin = nullptr;
  unsigned int m_nYuvFormat = 0;
  int m_nWidth = 352;
  int m_nHeight = 288;
  std::string m_sSourceDimensions;
  unsigned int m_nFps = 30;
  LONGLONG m_nFrameCount = 0;
  int m_nFrameSize = 0;
  double m_dBytesPerPixel = 1.5;
  std::string m_sFileName;
  bool m_bHasFileName = false;
  LONGLONG m_nFileSize = 0;
  // The open file (null when none); read only by FillBuffer, replaced under both locks.
  ComPtr<IStream> m_file;
};
