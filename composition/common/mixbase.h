// VideoMixingBase: the two-input video base of the picture composition filters. Two inputs
// ("Input 0", "Input 1") of uncompressed RGB24/RGB32/ARGB32/AYUV video, one output ("Output 0").
// It records each input's picture format (both inputs carry the same subtype), asks the subclass
// for the output size, offers and sizes the output, merges the inputs' end of stream and flushes
// into one downstream, and keeps one frame store per input: every frame that arrives on either
// input is stored and immediately produces at most one output frame from the newest stored frame
// of each input, limited by a microsecond frame-rate gate when the inputs announce a frame
// duration.
//
// Frames are handled as bitmap rows: each row padded to a multiple of 4 bytes, as media samples
// carry them. Frame sizes are computed in 64 bits and refused above 2 GiB.
//
// Threads and locks: connections and state changes on the application thread under m_csFilter;
// samples on either upstream thread under m_csReceive (one at a time); m_csDraw, innermost, is
// held while an output frame is drawn and while the subclass changes its drawing geometry
// (parameter changes from hosts and pages), never while waiting on the downstream filter, so a
// parameter change cannot wait for a blocked downstream.
#pragma once

#include <vector>

#include "framework/multiio.h"
#include "platform/strmbase/amvideo.h"

class VideoMixingBase : public CMultiIOBaseFilter {
 public:
  VideoMixingBase(const wchar_t* pName, REFCLSID clsid);
  ~VideoMixingBase() override;

  // Hooks added by this class.
  virtual HRESULT ReceiveFirst(IMediaSample* pSample);
  virtual HRESULT ReceiveSecond(IMediaSample* pSample);
  // Records the frame size of the input, (re)allocates its frame store (cleared to zero) and
  // prepares the subclass's worker for the subtype's depth (PrepareWorker).
  virtual HRESULT OnInputTypeSet(const CMediaType* pmt, int index);
  virtual HRESULT ComputeOutputSize(const BITMAPINFOHEADER* first, const BITMAPINFOHEADER* second, int* width,
                                    int* height, int* frameSize) = 0;
  virtual HRESULT StartStreaming();
  virtual HRESULT StopStreaming();

  // CMultiIOBaseFilter hooks.
  int InitialInputPinCount() override { return 2; }
  void InitialiseInputTypes() override;
  void InitialiseOutputTypes() override;
  HRESULT ReceiveSample(IMediaSample* pSample, int inputIndex) override;
  HRESULT DecideOutputBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp, int outputIndex) override;
  HRESULT GetOutputMediaType(int position, CMediaType* pmt, int outputIndex) override;
  HRESULT SetPinMediaType(PIN_DIRECTION direction, const CMediaType* pmt, int index) override;
  void InputDisconnected(int index) override;
  HRESULT InputEndOfStream(int index) override;
  HRESULT InputBeginFlush(int index) override;
  HRESULT InputEndFlush(int index) override;

  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;

  // Frames composed and delivered since the filter was created (for hosts and tests).
  LONGLONG ComposedFrames() const { return m_nComposed; }

  // The low 32 bits of the monotonic microsecond clock.
  static DWORD MicrosecondClock();

 protected:
  // The subclass's worker objects for a depth of bits (24 or 32): delete those of the other depth,
  // create missing ones, set m_nBitCount. Under the filter lock.
  virtual void PrepareWorker(int bits) = 0;
  // Draws the output frame (out holds size bytes) from the frame stores. Streaming thread, under
  // m_csReceive and m_csDraw.
  virtual void FillOutput(BYTE* out, long long size) = 0;

  // Stores the sample's picture and runs the output step (steps 1 to 4 of a sample).
  HRESULT ReceiveFrame(IMediaSample* pSample, int index);
  // The output step: stream control samples pass through, the frame-rate gate, a new output
  // sample stamped from pSample, FillOutput, synchronous delivery.
  HRESULT ComposeAndDeliver(IMediaSample* pSample, int index);
  // Hands a sample to the pin connected downstream of output 0 (S_FALSE when there is none).
  HRESULT DeliverDownstream(IMediaSample* pSample);
  // The bitmap header of a VideoInfo or VideoInfo2 type (null for another format or a short block).
  static BITMAPINFOHEADER* BitmapHeader(const AM_MEDIA_TYPE& mt);
  // Bytes of one bitmap row of width pixels of bits each, padded to 4 bytes (64-bit).
  static long long RowBytes(long long width, int bits) { return (width * bits + 31) / 32 * 4; }
  // The subtype rule of the output checks: depth 24 takes RGB24 only; depth 32 takes AYUV when an
  // input is AYUV and RGB32 or ARGB32 when an input is RGB32 or ARGB32; S_FALSE otherwise.
  HRESULT OutputSubtypeVerdict(const GUID& subtype) const;
  // True when the other input index than index is connected (index itself is ignored).
  bool OtherInputConnected(int index) const { return InputConnected(index == 0 ? 1 : 0); }

  VIDEOINFOHEADER m_inputFormat[2]{};
  GUID m_inputSubtype[2]{GUID_NULL, GUID_NULL};
  int m_nOutputWidth = 0;
  int m_nOutputHeight = 0;
  int m_nOutputFrameSize = 0;
  int m_nMergedInputs = 2;  // inputs whose notifications are merged: those connected at StartStreaming
  // Incremented on the threads that deliver the notifications (both inputs' at once): atomic, so
  // that exactly one of them sees the count reach m_nMergedInputs.
  std::atomic<int> m_nEndOfStreamCount{0};
  std::atomic<int> m_nBeginFlushCount{0};
  std::atomic<int> m_nEndFlushCount{0};
  std::atomic<DWORD> m_nOutputClockUs{0};  // set by Pause (from Stopped) and Run on the application thread
  DWORD m_nFrameIntervalUs = 0;

  // Frame stores, shared by both subclasses.
  std::vector<BYTE> m_pInputFrame[2];
  int m_nInputFrameSize[2]{0, 0};
  int m_nInputStride[2]{0, 0};  // bytes per row of each store
  int m_nStoreWidth[2]{0, 0};   // picture size each store holds (pixels, rows)
  int m_nStoreHeight[2]{0, 0};
  int m_nBitCount = 0;
  bool m_bFlipOutput = false;
  CCritSec m_csDraw;

 private:
  std::atomic<LONGLONG> m_nComposed{0};
};
