// TestPatternSource: a push source of synthetic video or audio.
//
// Video (format RGB24, RGB32, ARGB32, AYUV or I420): moving colour bars with the frame number
// burnt in at the top left, a solid colour, or seeded noise; RGB frames are bottom-up (positive
// biHeight) as a capture source delivers them, AYUV and I420 top-down. Frame n is stamped
// [n x 10^7 x den / num, (n + 1) x 10^7 x den / num) (rounded to 100 ns) for a frame rate num/den,
// with media times n and n + 1; AvgTimePerFrame is the rounded frame duration.
// Audio (format PCM): 8- or 16-bit, mono or stereo, a sine tone per channel at half scale;
// buffer k holds samples [k x N, (k + 1) x N) of N = samples_per_buffer, stamped by sample index.
//
// Parameters (ISettingsInterface):
//   format              text      "RGB24"  RGB24 | RGB32 | ARGB32 | AYUV | I420 | PCM
//   width, height       unsigned  320, 240 (2..16384; I420 needs even values)
//   framerate           text      "30"     a fraction ("30000/1001") or a decimal ("29.97")
//   frames              unsigned  300      frames (audio: buffers) to deliver; 0 = endless
//   pattern             text      "bars"   bars | solid | noise
//   colour              text      "0080FF" solid colour as RRGGBB hex
//   seed                unsigned  1        noise seed (frame n of a seed is always the same)
//   samplerate          unsigned  44100
//   channels            unsigned  2        1 | 2
//   bits                unsigned  16       8 | 16
//   tone_left           real      440.00   Hz (the only tone of a mono signal)
//   tone_right          real      880.00   Hz
//   samples_per_buffer  unsigned  1024
// A value that cannot be used (a bad frame rate or colour, a size out of range) is refused with
// E_FAIL and the old value kept. Format and sizes take effect at the next connection.
//
// The output pin "Out" answers IMediaSeeking in media time: the duration (frames > 0), and, while
// the filter is stopped, a start and stop position (rounded down to a frame or buffer).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/settings.h"
#include "framework/status.h"
#include "utilities/common.h"
#include "platform/strmbase/source.h"
#include "utilities/seeking.h"

namespace plenor::utilities {

enum class PatternKind { Bars, Solid, Noise };

// Everything FillBuffer needs, taken from the parameters when the pin connects and refreshed
// (all but the format and sizes) whenever streaming starts, on the application thread: the
// worker never reads the parameters themselves.
struct PatternConfig {
  bool audio = false;
  GUID subtype{};
  int width = 0;
  int height = 0;
  uint64_t rateNum = 30;
  uint64_t rateDen = 1;
  uint64_t frames = 0;  // 0: endless
  PatternKind pattern = PatternKind::Bars;
  uint8_t colour[3] = {0, 0, 0};  // R, G, B
  uint32_t seed = 1;
  uint32_t sampleRate = 44100;
  uint32_t channels = 2;
  uint32_t bits = 16;
  uint32_t samplesPerBuffer = 1024;
  double tone[2] = {440.0, 880.0};
};

// "30", "29.97", "30000/1001": false for anything else, zero or absurd values.
bool ParseFrameRate(const std::string& text, uint64_t* num, uint64_t* den);
// "RRGGBB" (an optional leading '#'): false otherwise.
bool ParseColour(const std::string& text, uint8_t rgb[3]);
// Start time of frame n at num/den frames per second, rounded to the nearest 100 ns.
REFERENCE_TIME FrameTime(uint64_t n, uint64_t num, uint64_t den);
// Bytes of one video frame or audio buffer.
uint32_t PatternSampleBytes(const PatternConfig& cfg);

// Rows of the canvas of a frame: the picture's rows from the last one of them down to the bottom
// are alike (a solid colour; the bars below the frame number), so only that many are drawn.
int PatternCanvasRows(const PatternConfig& cfg);
// Draws frame n into a top-down canvas of width x PatternCanvasRows(cfg) pixels of 4 bytes
// (B, G, R, 255).
void RenderPatternFrame(const PatternConfig& cfg, uint64_t n, std::vector<uint8_t>* canvas);
// Columns 0..N - 1 of frame n hold all that its canvas rows differ in: from column N on, every
// canvas row equals the last one (the frame number's box; none for a solid colour, all for noise).
int PatternVaryingColumns(const PatternConfig& cfg, uint64_t n);
// Packs the canvas into the output layout of cfg.subtype, the picture's rows below the canvas
// repeating its last row: rows that come from the same canvas rows are packed once and copied,
// and the others are packed only in the first `columns` columns over a copy of such a row.
void PackPatternFrame(const PatternConfig& cfg, const std::vector<uint8_t>& canvas, int columns,
                      uint8_t* out);
// Fills audio buffer k.
void RenderTone(const PatternConfig& cfg, uint64_t k, uint8_t* out);

class CTestPatternPin;

class CTestPatternSource : public CSource, public CUtilitySettings, public CStatusInterface,
                           public ISpecifyPropertyPages {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  ~CTestPatternSource() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  void InitParameters() override;
  // Refuses values the source cannot use (the old value is kept).
  STDMETHODIMP SetParameter(const char* name, const char* value) override;

  // Base Stop, then rewind to the start position.
  STDMETHODIMP Stop() override;

  // The configuration the parameters describe now. False (with the reason as last error text)
  // when they cannot make a stream.
  bool BuildConfig(PatternConfig* cfg);

 private:
  friend class CTestPatternPin;
  explicit CTestPatternSource(LPUNKNOWN pUnk, HRESULT* phr);

  CTestPatternPin* m_pPin = nullptr;

  std::string m_sFormat;
  unsigned int m_nWidth = 0;
  unsigned int m_nHeight = 0;
  std::string m_sFrameRate;
  unsigned int m_nFrames = 0;
  std::string m_sPattern;
  std::string m_sColour;
  unsigned int m_nSeed = 0;
  unsigned int m_nSampleRate = 0;
  unsigned int m_nChannels = 0;
  unsigned int m_nBits = 0;
  double m_dToneLeft = 0;
  double m_dToneRight = 0;
  unsigned int m_nSamplesPerBuffer = 0;
};

class CTestPatternPin : public CSourceStream, public CMediaTimeSeeking {
 public:
  CTestPatternPin(HRESULT* phr, CTestPatternSource* pFilter);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Under the state lock: the type the parameters describe.
  HRESULT GetMediaType(CMediaType* pMediaType) override;
  HRESULT SetMediaType(const CMediaType* pMediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
  // Takes the parameters that may change between runs, then starts the worker.
  HRESULT Active() override;
  // Worker thread.
  HRESULT OnThreadStartPlay() override;
  HRESULT FillBuffer(IMediaSample* pSample) override;

  // Application thread, after the worker has stopped.
  void Rewind();

  // IMediaSeeking (the rest in CMediaTimeSeeking).
  STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
  STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
  // Only while the filter is stopped (VFW_E_NOT_STOPPED otherwise).
  STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) override;

 private:
  CTestPatternSource* Source() const { return static_cast<CTestPatternSource*>(m_pFilter); }
  // Media time of unit (frame or buffer) n of cfg.
  static REFERENCE_TIME UnitTime(const PatternConfig& cfg, uint64_t n);
  // The configuration seeking works with: the connected one, else the one the parameters give.
  bool SeekConfig(PatternConfig* cfg);
  // Last unit + 1 (frames or the stop position); UINT64_MAX when endless.
  uint64_t EndUnit(const PatternConfig& cfg) const;

  CCritSec m_cSharedState;    // FillBuffer and the positions
  PatternConfig m_cfg;        // what the connection agreed, refreshed at thread start
  bool m_bConfigured = false;
  std::vector<uint8_t> m_canvas;
  uint64_t m_nUnit = 0;       // next frame or buffer
  uint64_t m_nStartUnit = 0;  // first unit of a run (seek position)
  uint64_t m_nStopUnit = 0;   // 0: no stop position set
};

}  // namespace plenor::utilities
