// WavSource: plays a RIFF/WAVE file of 8- or 16-bit integer PCM (any channel count) as
// MEDIATYPE_Audio / MEDIASUBTYPE_PCM in buffers of about 100 ms (whole sample frames), each
// stamped from its first sample's index: [k x 10^7 / rate, (k + n) x 10^7 / rate), media times
// k and k + n.
//
// The file is chosen with IFileSourceFilter::Load or the "filename" parameter (text, default "",
// setting it loads the file). The header is checked when the file is loaded: a missing,
// truncated, non-PCM or malformed file fails the load with a message naming the file in the
// last error text (IStatusInterface). A file that shrinks while playing ends the stream with
// EC_ERRORABORT.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "framework/settings.h"
#include "framework/status.h"
#include "utilities/common.h"
#include "platform/strmbase/source.h"
#include "utilities/wavfile.h"

namespace plenor::utilities {

class CWavSourcePin;

class CWavSource : public CSource, public CUtilitySettings, public CStatusInterface, public IFileSourceFilter,
                   public ISpecifyPropertyPages {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  ~CWavSource() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // IFileSourceFilter. Load: E_POINTER for null, VFW_E_WRONG_STATE unless stopped,
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for a missing file, VFW_E_FILE_TOO_SHORT for a
  // truncated one, VFW_E_UNSUPPORTED_AUDIO for other formats, VFW_E_INVALID_FILE_FORMAT for a
  // malformed header. A failed load keeps no file.
  STDMETHODIMP Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

  void InitParameters() override;
  // "filename" loads the file; a failed load returns its error and restores the old name.
  STDMETHODIMP SetParameter(const char* name, const char* value) override;

  STDMETHODIMP Stop() override;

  HRESULT LoadFile(const std::string& path);

 private:
  friend class CWavSourcePin;
  explicit CWavSource(LPUNKNOWN pUnk, HRESULT* phr);

  CWavSourcePin* m_pPin = nullptr;
  std::string m_sFileName;  // the "filename" parameter
  std::string m_sLoaded;    // the file loaded (empty when none)
  wav::Layout m_layout;
};

class CWavSourcePin : public CSourceStream {
 public:
  CWavSourcePin(HRESULT* phr, CWavSource* pFilter);
  ~CWavSourcePin() override;

  HRESULT GetMediaType(CMediaType* pMediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
  HRESULT OnThreadCreate() override;
  HRESULT OnThreadDestroy() override;
  HRESULT FillBuffer(IMediaSample* pSample) override;
  void Rewind();

 private:
  CWavSource* Source() const { return static_cast<CWavSource*>(m_pFilter); }
  uint32_t FramesPerBuffer() const;

  CCritSec m_cSharedState;
  std::FILE* m_file = nullptr;  // open while the worker runs
  uint64_t m_nFrame = 0;        // next sample frame
};

}  // namespace plenor::utilities
