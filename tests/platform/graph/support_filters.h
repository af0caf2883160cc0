// Small streaming filters on the base classes for graph tests and the graph benchmark: a source
// of numbered frames, a copy transform, an in-place pass-through, a renderer that renders on
// arrival, and a two-input renderer. None allocates per sample.
#pragma once

#include <atomic>

#include "platform/strmbase/renbase.h"
#include "platform/strmbase/source.h"
#include "platform/strmbase/transfrm.h"
#include "platform/strmbase/transip.h"

namespace graphtest {

// Creates a filter object with one reference owned by the returned pointer.
template <class T, class... Args>
ComPtr<T> Make(Args&&... args) {
  return ComPtr<T>(new T(std::forward<Args>(args)...));
}

// The pin of a filter at index n of its enumeration (null when absent).
ComPtr<IPin> PinAt(IBaseFilter* filter, int n);

// A type of only major type and subtype, with fixed-size samples of sampleSize bytes.
CMediaType Opaque(const GUID& subtype, ULONG sampleSize);

// Push source with one pin "Out": frame n carries n in its first 4 bytes (when they fit) and
// times n * duration .. (n + 1) * duration (counted from the last seek). The pin answers
// IMediaSeeking: duration, and absolute seeks to a frame.
class FrameSource : public CSource {
 public:
  // frames < 0: never ends. failAt >= 0: FillBuffer fails with E_FAIL at that frame.
  FrameSource(const CMediaType& mt, int frames, LONG buffers = 2, int failAt = -1);
  STDMETHODIMP Stop() override;
  IPin* Output();
  std::atomic<int> filled{0};

 private:
  class Pin;
  Pin* m_pPin;
};

// Copy transform: output type = input type, each sample copied into a fresh output buffer.
// failAt >= 0: Transform fails with E_FAIL at that sample of the run.
class CopyFilter : public CTransformFilter {
 public:
  explicit CopyFilter(int failAt = -1, const GUID& subtype = GUID_NULL);
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  HRESULT DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pprop) override;
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override;
  HRESULT StartStreaming() override;
  std::atomic<int> transformed{0};

 private:
  int m_failAt;
  GUID m_subtype;  // GUID_NULL: any video subtype
};

// In-place pass-through: accepts any type, leaves every sample as it is.
class PassFilter : public CTransInPlaceFilter {
 public:
  PassFilter();
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT Transform(IMediaSample* pSample) override;
  std::atomic<int> passed{0};
};

// Renders on arrival: counts samples and checks that frame numbers keep increasing.
class CountingRenderer : public CBaseRenderer {
 public:
  // subtype GUID_NULL: accepts every type.
  explicit CountingRenderer(const GUID& subtype = GUID_NULL);
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT DoRenderSample(IMediaSample* pMediaSample) override;
  HRESULT OnStartStreaming() override;
  IPin* Input() { return GetPin(0); }
  std::atomic<int> rendered{0};
  std::atomic<int> outOfOrder{0};

 private:
  GUID m_subtype;
  int m_last = -1;  // streaming thread only
};

// A renderer with two input pins, "In 0" and "In 1", fed by two upstream threads. Samples of
// both inputs go through one receive lock; it records how many Receive calls ever overlapped
// and sends EC_COMPLETE once both inputs have ended.
class TwoInputRenderer : public CBaseFilter {
 public:
  TwoInputRenderer();
  ~TwoInputRenderer() override;
  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;
  STDMETHODIMP Pause() override;
  std::atomic<int> received[2] = {0, 0};
  std::atomic<int> maxConcurrent{0};

 private:
  class Pin;
  friend class Pin;
  HRESULT Receive(int index, IMediaSample* sample);
  HRESULT EndOfStream(int index);
  CCritSec m_csFilter;
  CCritSec m_csReceive;
  Pin* m_pins[2];
  std::atomic<int> m_inReceive{0};
  std::atomic<int> m_ended{0};
};

}  // namespace graphtest
