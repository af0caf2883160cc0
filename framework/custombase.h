// CCustomBaseFilter: the suite's base for one-input, one-output copy-transform filters. It joins
// CTransformFilter with the settings and status objects and adds a table of accepted input types
// (CheckInputType), a record of the connected picture sizes (SetMediaType) and a Transform that
// reduces the per-sample work to one buffer-to-buffer hook, ApplyTransform.
//
// A concrete filter:
//
//   class CInverter : public CCustomBaseFilter {
//    public:
//     CInverter() : CCustomBaseFilter(CLSID_Inverter) {
//       InitialiseInputTypes();  // virtual calls do not reach us from the base constructor
//       InitParameters();
//     }
//     void InitialiseInputTypes() override { AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, nullptr); }
//     void InitParameters() override { AddParameter("gain", &m_nGain, 1); }
//     HRESULT ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut,
//                            LONG lOutBufferSize, LONG& lOutActualDataLength) override;
//     // CheckTransform, DecideBufferSize, GetMediaType as for any CTransformFilter.
//   };
//
// Extra interfaces (ISpecifyPropertyPages, persistence) go in front of this class's
// NonDelegatingQueryInterface in the concrete filter's own.
#pragma once

#include <vector>

#include "framework/settings.h"
#include "framework/status.h"
#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/transfrm.h"

class CCustomBaseFilter : public CTransformFilter, public CSettingsInterface, public CStatusInterface {
 public:
  // Not aggregatable: the controlling IUnknown is always the filter's own.
  explicit CCustomBaseFilter(REFCLSID clsid);
  ~CCustomBaseFilter() override;

  DECLARE_IUNKNOWN
  // ISettingsInterface, IStatusInterface, then the base filter's interfaces (IBaseFilter,
  // IMediaFilter, IPersist, IAMovieSetup, IUnknown). One identity and one reference count.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Calls ApplyTransform with the two buffers; on success (any non-negative result) sets the
  // output's data length to the reported length and marks it a sync point. Returns the hook's
  // result: S_OK delivers, S_FALSE drops, a failure stops the stream. Streaming thread, under
  // the receive lock.
  HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override;
  // S_OK when a row of the input table matches (null entries match anything), else
  // VFW_E_TYPE_NOT_ACCEPTED. The format block is not examined. Under the filter lock.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  // Records the picture sizes of a video connection (input: FORMAT_VideoInfo, FORMAT_VideoInfo2,
  // FORMAT_MPEG2Video; output: FORMAT_VideoInfo only). Format blocks shorter than their
  // structure record nothing. Sizes are computed in 64 bits: a |height| or pixel count that does
  // not fit the 32-bit members is refused with VFW_E_TYPE_NOT_ACCEPTED (and a last error text),
  // recording nothing; otherwise S_OK. Under the filter lock.
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;

  // Fills the input table (AddInputType). Called by the concrete constructor.
  virtual void InitialiseInputTypes() = 0;
  // The per-sample work from one buffer into another. lOutActualDataLength arrives as 0 and
  // receives the number of bytes written. Streaming thread, under the receive lock.
  virtual HRESULT ApplyTransform(BYTE* pBufferIn, LONG lInBufferSize, LONG lInActualDataLength, BYTE* pBufferOut,
                                 LONG lOutBufferSize, LONG& lOutActualDataLength) = 0;

 protected:
  // Appends one row (major type, subtype, format type) to the input table; null matches any
  // value. The GUIDs must be static constants: the table does not copy them.
  void AddInputType(const GUID* pMajorType, const GUID* pSubType, const GUID* pFormat);
  // Fills *pMediaType with a copy of the type the input pin is connected with, where the output
  // types of GetMediaType start; the pin's failure when it is not connected.
  HRESULT CopyInputConnectionType(CMediaType* pMediaType) const;

  VIDEOINFOHEADER m_vihIn{};   // input connection's video format block (fixed part)
  VIDEOINFOHEADER m_vihOut{};  // output connection's video format block (fixed part)
  int m_nInHeight = 0;         // always positive
  int m_nInWidth = 0;
  int m_nInPixels = 0;
  int m_nOutHeight = 0;  // always positive
  int m_nOutWidth = 0;
  int m_nOutPixels = 0;

  std::vector<const GUID*> m_vInTypes;
  std::vector<const GUID*> m_vInSubTypes;
  std::vector<const GUID*> m_vInFormats;
};
