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
//
// The output pin "Out" answers IMediaSeeking in media time: the file's duration and, while the
// filter is stopped, a start and stop position (to the sample frame). Times of a run start at 0
// at the start position; media times stay the sample frame numbers of the file.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "framework/settings.h"
#include "framework/status.h"
#include "utilities/common.h"
#include "platform/strmbase/source.h"
#include "utilities/seeking.h"
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

class CWavSourcePin : public CSourceStream, public CMediaTimeSeeking {
 public:
  CWavSourcePin(HRESULT* phr, CWavSource* pFilter);
  ~CWavSourcePin() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMediaSeeking (the rest in CMediaTimeSeeking). E_UNEXPECTED while no file is loaded.
  STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
  STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
  // Only while the filter is stopped (VFW_E_NOT_STOPPED otherwise).
  STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) override;

  HRESULT GetMediaType(CMediaType* pMediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
  HRESULT OnThreadCreate() override;
  HRESULT OnThreadDestroy() override;
  HRESULT FillBuffer(IMediaSample* pSample) override;
  void Rewind();
  // A new file: positions back to its whole length.
  void ResetPositions();

 private:
  CWavSource* Source() const { return static_cast<CWavSource*>(m_pFilter); }
  uint32_t FramesPerBuffer() const;
  uint64_t TotalFrames() const;
  // The frame after the last one to play.
  uint64_t EndFrame() const;

  CCritSec m_cSharedState;
  std::FILE* m_file = nullptr;  // open while the worker runs
  uint64_t m_nFrame = 0;        // next sample frame
  uint64_t m_nStartFrame = 0;   // first frame of a run
  uint64_t m_nStopFrame = 0;    // 0: the end of the file
};

}  // namespace plenor::utilities
