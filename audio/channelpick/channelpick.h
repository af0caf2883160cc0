// ChannelPickFilter: turns two-channel PCM audio into one channel by keeping one of the two
// channels ("channel": 0 keeps the first, left sample of each frame, 1 the second, right one) and
// dropping the other; no mixing. 8- and 16-bit samples are copied; other sample sizes pass the
// type checks but produce empty buffers.
//
// Any "channel" value other than 1 keeps the first channel: the settings object accepts every
// integer (and persistence writes the member directly), so the streaming code never derives a
// read position from anything but 0 or 1.
//
// The channel is read afresh for every buffer, so a change through the settings interface, the
// property page or a persistence load applies from the next buffer. No lock is taken.
#pragma once

#include "framework/custombase.h"
#include "framework/persist.h"

// {672ACF71-4D5B-45B4-B6AE-E5393998C06C}
PLENOR_GUID(CLSID_ChannelPickFilter, 0x672acf71, 0x4d5b, 0x45b4, 0xb6, 0xae, 0xe5, 0x39, 0x39, 0x98, 0xc0, 0x6c);
// {729F1796-837E-443C-B37D-A48A30898126}
PLENOR_GUID(CLSID_Stereo2MonoProperties, 0x729f1796, 0x837e, 0x443c, 0xb3, 0x7d, 0xa4, 0x8a, 0x30, 0x89, 0x81, 0x26);

class ChannelPickFilter : public CCustomBaseFilter, public ISpecifyPropertyPages, public CPersistSettings {
 public:
  // Creation function of the factory template. The filter is not aggregatable: pUnk is ignored.
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  ChannelPickFilter();

  DECLARE_IUNKNOWN
  // IPersistPropertyBag, IPersistStream, IPropertyBag, ISpecifyPropertyPages, then the base chain.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // ISpecifyPropertyPages: the one page, Stereo2MonoProperties.
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // CSettingsInterface: "channel", signed, default 0.
  void InitParameters() override;

  // CCustomBaseFilter. The filter does not use the input table: CheckInputType is its own.
  void InitialiseInputTypes() override {}
  // Copies every other sample of the chosen channel into the output (see the .cpp for the
  // bounds); always S_OK. Streaming thread.
  HRESULT ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut, LONG lOutBufferSize,
                         LONG& lOutDataLength) override;

  // Two-channel PCM in a WAVEFORMATEX block only; records its sample size.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  // The base first; an audio input connection records its sample size and rate.
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
  // One type: the input's connected type made one-channel.
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  // One-channel PCM with the recorded rate and sample size only.
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  // Buffers of one second of the output format, or of half the input allocator's buffers when
  // those are longer, so that no input buffer is cut.
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;

  // Recorded input format, for tests and diagnostics.
  int BitsPerSample() const { return m_nBitsPerSample; }
  int SampleRate() const { return m_nSampleRate; }

 private:
  // Sets the last error text (notifying the host) for samples that did not fit the output buffer.
  void ReportCut(LONG samples, LONG room);

  int m_nChannel = 0;        // bound to "channel"; persisted as "CHANNEL"
  int m_nBitsPerSample = 8;  // wBitsPerSample of the input
  int m_nSampleRate = 0;     // nSamplesPerSec of the input
};
