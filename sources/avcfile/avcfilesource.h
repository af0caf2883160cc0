// AvcFileSourceFilter: plays a file holding an H.264 elementary stream (start-code byte stream),
// one NAL unit per sample exactly as the units lie in the file, start codes included, with no
// time stamps; a sample is a sync point when it holds an IDR slice. On loading, the first SPS
// and PPS go to a codec instance to learn the picture size, and every other unit is indexed so
// that IMediaSeeking positions by unit (unit k starts at k x the frame duration).
//
// The output pin offers, by "usequelth264": the suite's own subtype MEDIASUBTYPE_PLENOR_H264
// with the parameter sets in the VIDEOINFOHEADER's trailer (for the suite's decoder), or the
// standard MEDIASUBTYPE_H264 with a VIDEOINFOHEADER2.
//
// Parameters: "fps" (unsigned, default 30; 0 and values above 10000000 are refused because no
// frame duration of at least 100 ns exists for them; a change takes effect at the next Load),
// "usequelth264" (flag, default false), "sourcedimensions" (read-only text "WxH", "" until a file
// whose parameter sets the codec accepted is loaded).
//
// Sample buffers are as large as a picture's RGB24 size (352 x 288 when the size is unknown) or
// the longest unit found while indexing, whichever is larger; a unit that still does not fit (the
// file grew after loading) ends the stream with VFW_E_BUFFER_OVERFLOW and a last-error text.
//
// Threads and locks: the application thread connects, loads, seeks, stops and sets parameters;
// the pin's worker thread runs FillBuffer under the pin's stream lock. Everything FillBuffer
// reads (the reader, the file name) is changed only under the filter's state lock and then the
// stream lock, in that order, so Load, SetPositions and Stop land between two samples.
// FillBuffer never takes the state lock.
#pragma once

#include <string>

#include "framework/settings.h"
#include "framework/status.h"
#include "platform/strmbase/source.h"
#include "sources/avcfile/nalunitreader.h"

class ICodecv2;

// {B473F985-F040-4E7E-B5D1-20940B959D78}
PLENOR_GUID(CLSID_AvcFileSource, 0xb473f985, 0xf040, 0x4e7e, 0xb5, 0xd1, 0x20, 0x94, 0x0b, 0x95, 0x9d, 0x78);
// {D18E97A7-D266-4CD7-B2A2-52B7870F6EB0}
PLENOR_GUID(CLSID_H264Properties, 0xd18e97a7, 0xd266, 0x4cd7, 0xb2, 0xa2, 0x52, 0xb7, 0x87, 0x0f, 0x6e, 0xb0);

class AvcFileSourceFilter;

class H264OutputPin : public CSourceStream {
 public:
  H264OutputPin(HRESULT* phr, AvcFileSourceFilter* pFilter, LPCWSTR pName);

  // Worker thread, under the stream lock: the next unit into the sample (actual length = the
  // unit's, no times, sync point for an IDR slice); S_FALSE at the end of the file or without a
  // file. A unit the reader cannot cut (no end within its cap, a read error) or one that does not
  // fit the sample ends the stream with a failure and a last-error text naming file and offset.
  HRESULT FillBuffer(IMediaSample* pSample) override;
  // Under the state lock: the one type chosen by "usequelth264".
  HRESULT GetMediaType(CMediaType* pMediaType) override;
  using CSourceStream::GetMediaType;
  // Under the state lock: one buffer at least, each SampleBufferSize() bytes.
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;

  CCritSec* StreamLock() { return &m_csStream; }

 private:
  friend class AvcFileSourceFilter;

  AvcFileSourceFilter* const m_pSource;
  // The unit index of the last seek; 0 after construction, Stop and Load (state lock, and the
  // stream lock when written). Delivering samples does not change it.
  LONGLONG m_nFrameIndex = 0;
  // 10000000 / "fps", set at each Load.
  REFERENCE_TIME m_rtFrameDuration = 333333;
  CCritSec m_csStream;
};

class AvcFileSourceFilter : public CSource,
                            public CLockedSettings,
                            public CStatusInterface,
                            public IFileSourceFilter,
                            public ISpecifyPropertyPages,
                            public IMediaSeeking {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  ~AvcFileSourceFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFileSourceFilter. Load closes the file loaded before, opens the new one (shared with other
  // readers and writers), indexes it and gives its parameter sets to the codec; the media type
  // argument is not used. E_FAIL: the file cannot be opened ("Failed to open file: " + name), it
  // holds no SPS or no PPS (no message), or the codec refused its parameter sets while
  // "usequelth264" is set. A failed Load leaves the filter without a file (its name kept).
  STDMETHODIMP Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
  // The kept name in task memory (null when none); the media type is not filled.
  STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

  // ISpecifyPropertyPages: the H264Properties page.
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // IMediaSeeking by unit, in TIME_FORMAT_MEDIA_TIME only: D is the frame duration, N the number
  // of indexed units. Duration and stop position N x D, current position (unit of the last seek)
  // x D. SetPositions takes absolute positions only and moves the reader to unit current / D
  // (E_INVALIDARG outside 0 ... N - 1); the stop arguments are not used and the stream is neither
  // flushed nor restarted: the next sample delivered is that unit.
  DECLARE_IMEDIASEEKING

  // CSettingsInterface. Every call holds the state lock (the locked base takes it), so that a host
  // reading a parameter never meets a Load writing it. "fps" 0 or above 10000000 is refused
  // (E_FAIL, old value kept).
  void InitParameters() override;
  STDMETHODIMP SetParameter(const char* name, const char* value) override;

  // Stops the worker thread (base Stop), then rewinds the reader and sets the unit index to 0
  // under the stream lock, so the next run starts at the first unit.
  STDMETHODIMP Stop() override;

  // The fixed size of one sample buffer (see the class comment). State lock held.
  LONG SampleBufferSize() const;

 private:
  friend class H264OutputPin;

  AvcFileSourceFilter(LPUNKNOWN pUnk, HRESULT* phr);

  // Codec steps of Load: the parameter sets to the codec, Open, the picture size. True when the
  // codec took them; the failures are reported as they happen. Both locks held.
  bool LearnPictureSize();
  // Reports a failure met by the reader while streaming (stream lock held); returns its result.
  HRESULT ReportReaderStop();

  H264OutputPin* m_pPin = nullptr;
  bool m_bUseQueltDecoder = false;
  unsigned int m_nFps = 30;
  int m_nWidth = 0;
  int m_nHeight = 0;
  std::string m_sSourceDimensions;
  std::string m_sFileName;
  bool m_bHasFileName = false;
  ICodecv2* m_pCodec = nullptr;
  // The file, its unit index and parameter sets; read by FillBuffer, changed under both locks.
  NalUnitReader m_reader;
};
