// NullRenderer and SampleGrabber: renderers that accept any media type.
//
// NullRenderer discards every sample; parameter "sync" (flag, default false) makes it render each
// sample only when the graph's reference clock reaches the sample's start time, for real-time
// playback.
//
// SampleGrabber records every sample it receives - payload bytes, times, media times, flags and
// the media type that applied - and hands them out through IPlenorSampleGrabber (utilities.h),
// optionally calling an IPlenorSampleGrabberCallback first. Parameters: "sync" (flag, default
// false) as above, "max_samples" (unsigned, default 0 = keep all): once that many are kept, later
// samples are counted and passed to the callback but not kept. The recording is cleared when
// the graph leaves the stopped state.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "framework/settings.h"
#include "framework/status.h"
#include "utilities/common.h"
#include "platform/strmbase/renbase.h"
#include "utilities/utilities.h"

namespace plenor::utilities {

class CNullRenderer : public CBaseRenderer, public CUtilitySettings, public ISpecifyPropertyPages {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP GetPages(CAUUID* pPages) override;
  void InitParameters() override;

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT DoRenderSample(IMediaSample* pSample) override;
  HRESULT OnStartStreaming() override;

  // Samples rendered since the graph last left the stopped state.
  LONG RenderedCount() const { return m_nRendered.load(); }

 private:
  explicit CNullRenderer(LPUNKNOWN pUnk, HRESULT* phr);
  bool m_bSync = false;
  std::atomic<LONG> m_nRendered{0};
};

class CSampleGrabber : public CBaseRenderer, public CUtilitySettings, public ISpecifyPropertyPages,
                       public IPlenorSampleGrabber {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP GetPages(CAUUID* pPages) override;
  void InitParameters() override;

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT DoRenderSample(IMediaSample* pSample) override;
  HRESULT EndOfStream() override;
  HRESULT OnStartStreaming() override;

  // IPlenorSampleGrabber
  STDMETHODIMP GetSampleCount(LONG* pCount) override;
  STDMETHODIMP GetSampleInfo(LONG index, GRABBED_SAMPLE_INFO* pInfo) override;
  STDMETHODIMP GetSampleData(LONG index, BYTE* pBuffer, LONG size, LONG* pCopied) override;
  STDMETHODIMP GetMediaType(LONG typeIndex, AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP GetEndOfStreamCount(LONG* pCount) override;
  STDMETHODIMP WaitForSamples(LONG count, DWORD timeoutMs) override;
  STDMETHODIMP WaitForEndOfStream(DWORD timeoutMs) override;
  STDMETHODIMP Clear() override;
  STDMETHODIMP SetCallback(IPlenorSampleGrabberCallback* pCallback) override;

 private:
  explicit CSampleGrabber(LPUNKNOWN pUnk, HRESULT* phr);
  void ClearLocked();

  struct Recorded {
    GRABBED_SAMPLE_INFO info;
    std::vector<BYTE> bytes;
  };

  bool m_bSync = false;
  unsigned int m_nMaxSamples = 0;
  size_t m_nKeep = 0;  // m_nMaxSamples when streaming started (under m_lock)

  std::mutex m_lock;  // everything below
  std::condition_variable m_changed;
  std::vector<Recorded> m_samples;
  std::vector<CMediaType> m_types;  // [0]: the connection type
  LONG m_nSequence = 0;
  LONG m_nEndOfStream = 0;
  ComPtr<IPlenorSampleGrabberCallback> m_pCallback;
};

}  // namespace plenor::utilities
