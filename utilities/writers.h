// The writers: FileWriter, ImageWriter and WavWriter. Each is a renderer with IFileSinkFilter that
// renders on arrival.
//
// Every output file is written through plenor::SafeFileWriter: a regular file under "<name>.part"
// (in the folder of the file a symbolic link points to), renamed to its name only once complete
// (at end of stream, or when the graph stops), keeping the old file's mode; a crash, a full disk
// or an unwritable path never leaves a file with a valid-looking header under the name the user
// asked for, nor destroys the file that was there. Devices and FIFOs (/dev/null, a pipe) are
// written directly; a folder is refused. WavWriter into a pipe declares the largest data size,
// since the header cannot be patched afterwards. A failure (the
// file cannot be created or written) deletes the temporary file, sets the last error text
// (IStatusInterface) to a message naming the file, sends EC_ERRORABORT with the error to the
// graph and refuses further samples with that error, so the stream upstream ends.
//
// Parameters (ISettingsInterface; IFileSinkFilter::SetFileName sets "filename" too):
//   all three:    filename  text      ""   the output file (ImageWriter: a name pattern)
//                 sync      flag      0    render each sample when the graph's reference clock
//                                          reaches its start time (for composing files in real
//                                          time); off: write as fast as samples arrive
//                 timelog   text      ""   also write a text file of the times of every sample
//                                          received, one line each in arrival order: its start
//                                          and stop time in 100 ns units, "-" for a time the
//                                          sample does not carry ("0 333333", "400000 -",
//                                          "- -"). Written like the output (a ".part" file
//                                          renamed when complete); a failure fails the output.
//   ImageWriter:  every     unsigned  1    write every Nth frame (frames 0, N, 2N, ...)
//                 frames    text      ""   frame numbers and ranges, e.g. "0,10,20-25"; when set
//                                          it replaces "every"
// Frames are numbered from 0 in the order they arrive after the graph leaves the stopped state.
// The ImageWriter's name pattern takes the frame number through one printf-style "%d" or "%0Nd"
// ("%%" is a percent sign); a pattern without one gets "_%05d" before its extension.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "framework/settings.h"
#include "framework/status.h"
#include "platform/strmbase/renbase.h"
#include "utilities/common.h"
#include "utilities/wavfile.h"

namespace plenor::utilities {

class CWriterFilter : public CBaseRenderer, public CUtilitySettings, public CStatusInterface,
                      public IFileSinkFilter, public ISpecifyPropertyPages {
 public:
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // IFileSinkFilter. The media type argument is ignored (the connection decides the format).
  STDMETHODIMP SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

  void InitParameters() override;

  // Leaving the stopped state opens the output (a failure is reported as described above; the
  // state change itself succeeds so that the host hears of it through the graph's events).
  HRESULT OnStartStreaming() override;
  // Completes the output when end of stream did not.
  HRESULT OnStopStreaming() override;
  // Streaming thread.
  HRESULT DoRenderSample(IMediaSample* pSample) override;
  // Completes the output; EC_COMPLETE follows only when that succeeded.
  HRESULT EndOfStream() override;

 protected:
  CWriterFilter(REFCLSID clsid, const wchar_t* pName, const char* displayName, const CLSID& page, LPUNKNOWN pUnk,
                HRESULT* phr);

  // Hooks, called under m_WriteLock. Each returns a failure with *error naming the file.
  virtual HRESULT BeginOutput(std::string* error) = 0;
  virtual HRESULT WriteSample(IMediaSample* pSample, std::string* error) = 0;
  virtual HRESULT FinishOutput(std::string* error) = 0;
  // Deletes whatever is not complete.
  virtual void AbandonOutput() = 0;

  // The sample's payload (never beyond its buffer).
  static HRESULT Payload(IMediaSample* pSample, const BYTE** data, size_t* length);

  std::string m_sFileName;
  bool m_bSync = false;

 private:
  void Fail(HRESULT hr, const std::string& message);
  // FinishOutput, then the time log is completed.
  HRESULT Finish(std::string* error);
  // Appends the sample's times to the time log.
  HRESULT LogTimes(IMediaSample* pSample, std::string* error);

  const char* const m_pDisplayName;
  const CLSID m_PageClsid;
  CCritSec m_WriteLock;      // the output, between the streaming and application threads
  HRESULT m_hrFailure = S_OK;
  bool m_bFinished = true;   // no output open
  std::string m_sTimeLog;    // "timelog"
  OutputFile m_timeLog;      // open while the output is, when "timelog" is set
};

class CFileWriter : public CWriterFilter {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* pmt) override;

 protected:
  HRESULT BeginOutput(std::string* error) override;
  HRESULT WriteSample(IMediaSample* pSample, std::string* error) override;
  HRESULT FinishOutput(std::string* error) override;
  void AbandonOutput() override;

 private:
  CFileWriter(LPUNKNOWN pUnk, HRESULT* phr);
  OutputFile m_file;
};

class CWavWriter : public CWriterFilter {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  // Audio / PCM / FORMAT_WaveFormatEx of 8 or 16 bits with a consistent block align.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;

 protected:
  HRESULT BeginOutput(std::string* error) override;
  HRESULT WriteSample(IMediaSample* pSample, std::string* error) override;
  HRESULT FinishOutput(std::string* error) override;
  void AbandonOutput() override;

 private:
  CWavWriter(LPUNKNOWN pUnk, HRESULT* phr);
  OutputFile m_file;
  wav::Format m_format;
};

// The name of frame n from an ImageWriter pattern; false for a pattern with a conversion other
// than one %d / %0Nd (N up to 9) or "%%".
bool FormatFramePattern(const std::string& pattern, uint64_t n, std::string* name);
// "0,10,20-25" as sorted, merged inclusive ranges; false for anything else (empty text: none).
bool ParseFrameList(const std::string& text, std::vector<std::pair<uint64_t, uint64_t>>* ranges);

class CImageWriter : public CWriterFilter {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  // Video / RGB24, RGB32 or I420 (even sizes) / FORMAT_VideoInfo, either orientation for RGB.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  void InitParameters() override;
  // Refuses a pattern or frame list it cannot use.
  STDMETHODIMP SetParameter(const char* name, const char* value) override;

 protected:
  HRESULT BeginOutput(std::string* error) override;
  HRESULT WriteSample(IMediaSample* pSample, std::string* error) override;
  HRESULT FinishOutput(std::string* error) override;
  void AbandonOutput() override;

 private:
  CImageWriter(LPUNKNOWN pUnk, HRESULT* phr);
  bool Selected(uint64_t n) const;

  unsigned int m_nEvery = 1;
  std::string m_sFrames;

  // Taken from the connection.
  GUID m_subtype{};
  int m_nWidth = 0;
  int m_nHeight = 0;
  bool m_bBottomUp = false;
  size_t m_cbStride = 0;       // input bytes per row (RGB)
  size_t m_cbFrame = 0;        // input bytes per frame
  std::vector<uint8_t> m_rgb;  // BGR rows for RGB32 and I420 input
  std::vector<uint8_t> m_png;  // encoded image

  // Per run (taken from the parameters when streaming starts).
  std::string m_sPattern;
  bool m_bSpecialFile = false;  // the pattern names a device, FIFO or socket: every picture goes there
  unsigned int m_nEveryRun = 1;
  uint64_t m_nFrame = 0;
  std::vector<std::pair<uint64_t, uint64_t>> m_ranges;
  OutputFile m_file;
};

}  // namespace plenor::utilities
