// Position control helpers: CPosPassThru answers IMediaSeeking for a transform filter's output pin
// by passing every call to the upstream peer of its input pin (the peer pin's IMediaSeeking, else
// its filter's), so a graph reaches the source's seeking through a chain of transforms.
// CSourceSeeking is IMediaSeeking for a source that knows its duration, in reference time.
#pragma once

#include "platform/strmbase/amfilter.h"

class CPosPassThru : public CUnknown, public IMediaSeeking {
 public:
  // pUnk: the controlling object (the output pin); pPin: the input pin whose peer is asked.
  CPosPassThru(const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr, IPin* pPin);
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  DECLARE_IMEDIASEEKING

 protected:
  // The upstream IMediaSeeking, or E_NOTIMPL / VFW_E_NOT_CONNECTED.
  HRESULT GetPeerSeeking(ComPtr<IMediaSeeking>* ppMS);

 private:
  IPin* m_pPin;  // our input pin (not referenced: it lives as long as the output pin)
};

class CSourceSeeking : public CUnknown, public IMediaSeeking {
 public:
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Absolute and relative positioning of start and stop, rate, duration; time format
  // TIME_FORMAT_MEDIA_TIME only. SetPositions, under m_pLock, updates m_rtStart/m_rtStop, then
  // calls ChangeStart/ChangeStop for what changed. SetRate refuses rates of 0 or below
  // (E_INVALIDARG); otherwise ChangeRate decides.
  DECLARE_IMEDIASEEKING

 protected:
  // pLock guards the positions (usually the filter's state lock).
  CSourceSeeking(const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr, CCritSec* pLock);

  // The source moves its reading position (called with m_pLock held).
  virtual HRESULT ChangeStart() = 0;
  virtual HRESULT ChangeStop() = 0;
  virtual HRESULT ChangeRate() = 0;

  REFERENCE_TIME m_rtDuration = 0;
  REFERENCE_TIME m_rtStart = 0;
  REFERENCE_TIME m_rtStop = 0;
  double m_dRateSeeking = 1.0;
  DWORD m_dwSeekingCaps;
  CCritSec* m_pLock;
};
