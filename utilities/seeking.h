// IMediaSeeking in media time for the utility sources' output pins: the parts that are the same
// for every source (capabilities, time formats, conversion, rate, preroll, GetPositions,
// GetAvailable). A pin supplies the duration, stop and current positions and SetPositions.
#pragma once

#include "platform/strmbase/strmif.h"

namespace plenor::utilities {

class CMediaTimeSeeking : public IMediaSeeking {
 public:
  // Absolute seeking forwards and backwards; current, stop and duration known.
  STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
  STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
  // TIME_FORMAT_MEDIA_TIME only.
  STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
  STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
  STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
  STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
  STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                 const GUID* pSourceFormat) override;
  STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
  // Earliest 0, latest the duration.
  STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
  // Rate 1.0 only.
  STDMETHODIMP SetRate(double dRate) override;
  STDMETHODIMP GetRate(double* pdRate) override;
  STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;

 protected:
  ~CMediaTimeSeeking() = default;
  // The checks SetPositions starts with: pointers present for the positions that move.
  static HRESULT CheckPositionArguments(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags);
};

}  // namespace plenor::utilities
