#include "utilities/testpattern.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>
#include <string_view>
#include <utility>

#include "platform/com/wide.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "framework/pages.h"
#include "utilities/common.h"
#include "utilities/utilities.h"

namespace plenor::utilities {

namespace {

constexpr uint64_t kUnitsPerSecond = 10000000;
constexpr unsigned kMaxDimension = 16384;
constexpr uint32_t kMaxSampleBytes = 64u << 20;

struct FormatName {
  const char* name;
  const GUID* subtype;
};
constexpr FormatName kVideoFormats[] = {
    {"RGB24", &MEDIASUBTYPE_RGB24}, {"RGB32", &MEDIASUBTYPE_RGB32}, {"ARGB32", &MEDIASUBTYPE_ARGB32},
    {"AYUV", &MEDIASUBTYPE_AYUV},   {"I420", &MEDIASUBTYPE_I420},
};

// Colour bars, left to right: white, yellow, cyan, green, magenta, red, blue, black (R, G, B).
constexpr uint8_t kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                 {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

// 3x5 digit glyphs, rows top to bottom, 3 bits per row (most significant bit on the left).
constexpr uint16_t kDigits[10] = {
    0b111'101'101'101'111, 0b010'110'010'010'111, 0b111'001'111'100'111, 0b111'001'111'001'111,
    0b101'101'111'001'001, 0b111'100'111'001'111, 0b111'100'111'101'111, 0b111'001'001'001'001,
    0b111'101'111'101'111, 0b111'101'111'001'111,
};

uint64_t SplitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint8_t LumaOf(int r, int g, int b) { return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); }
uint8_t CbOf(int r, int g, int b) { return static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128); }
uint8_t CrOf(int r, int g, int b) { return static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128); }

void FillRect(std::vector<uint8_t>* canvas, int width, int height, int x0, int y0, int w, int h, uint8_t v) {
  const int x1 = std::min(width, x0 + w), y1 = std::min(height, y0 + h);
  for (int y = std::max(0, y0); y < y1; ++y)
    for (int x = std::max(0, x0); x < x1; ++x) {
      uint8_t* p = canvas->data() + (static_cast<size_t>(y) * width + x) * 4;
      p[0] = p[1] = p[2] = v;
    }
}

// The counter's scale: its box covers rows s to 8s - 1 of the picture.
int CounterScale(int height) { return std::max(1, height / 48); }

// The frame number in white on a black box at the top left of a picture `height` rows high,
// clipped to the canvas's `rows`.
void DrawCounter(std::vector<uint8_t>* canvas, int width, int height, int rows, uint64_t n) {
  const std::string digits = std::to_string(n);
  const int s = CounterScale(height);
  const int count = static_cast<int>(digits.size());
  FillRect(canvas, width, rows, s, s, (4 * count + 1) * s, 7 * s, 0);
  for (int d = 0; d < count; ++d) {
    const uint16_t glyph = kDigits[digits[d] - '0'];
    const int gx = 2 * s + d * 4 * s;
    for (int row = 0; row < 5; ++row)
      for (int col = 0; col < 3; ++col)
        if (glyph & (1u << (14 - (row * 3 + col)))) FillRect(canvas, width, rows, gx + col * s, 2 * s + row * s, s, s, 255);
  }
}

bool InRange(unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; }

}  // namespace

bool ParseFrameRate(const std::string& text, uint64_t* num, uint64_t* den) {
  constexpr uint64_t kLimit = 1000000000ull;
  auto digits = [](std::string_view s, uint64_t* v) {
    if (s.empty() || s.size() > 9) return false;
    uint64_t x = 0;
    for (char c : s) {
      if (c < '0' || c > '9') return false;
      x = x * 10 + static_cast<uint64_t>(c - '0');
    }
    *v = x;
    return true;
  };
  const std::string_view t = text;
  uint64_t n = 0, d = 1;
  if (size_t slash = t.find('/'); slash != std::string_view::npos) {
    if (!digits(t.substr(0, slash), &n) || !digits(t.substr(slash + 1), &d)) return false;
  } else if (size_t dot = t.find('.'); dot != std::string_view::npos) {
    std::string_view whole = dot ? t.substr(0, dot) : std::string_view("0"), frac = t.substr(dot + 1);
    uint64_t w = 0, f = 0;
    if (!digits(whole, &w) || (frac.size() && !digits(frac, &f))) return false;
    d = 1;
    for (size_t i = 0; i < frac.size(); ++i) d *= 10;
    n = w * d + f;
  } else if (!digits(t, &n)) {
    return false;
  }
  if (n == 0 || d == 0 || n > kLimit * 10 || d > kLimit) return false;
  const uint64_t g = std::gcd(n, d);
  n /= g;
  d /= g;
  // At most a million frames per second (a frame lasts at least 10 units).
  if (n > d * 1000000) return false;
  *num = n;
  *den = d;
  return true;
}

bool ParseColour(const std::string& text, uint8_t rgb[3]) {
  std::string s = !text.empty() && text[0] == '#' ? text.substr(1) : text;
  if (s.size() != 6) return false;
  uint32_t v = 0;
  for (char c : s) {
    int x;
    if (c >= '0' && c <= '9') x = c - '0';
    else if (c >= 'a' && c <= 'f') x = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') x = c - 'A' + 10;
    else return false;
    v = v * 16 + static_cast<uint32_t>(x);
  }
  rgb[0] = static_cast<uint8_t>(v >> 16);
  rgb[1] = static_cast<uint8_t>(v >> 8);
  rgb[2] = static_cast<uint8_t>(v);
  return true;
}

REFERENCE_TIME FrameTime(uint64_t n, uint64_t num, uint64_t den) {
  // (n x 10^7 x den + num / 2) / num, rounded to nearest, in 128 bits; saturates at the end of time.
  namespace w = plenor::wide;
  const plenor::UWide t = w::AddSat(w::MulSat(w::MulSat(w::Mul(n, kUnitsPerSecond), den), 2), num);
  return static_cast<REFERENCE_TIME>(plenor::NarrowOr(w::Div(t, w::Mul(num, 2)), INT64_MAX));
}

uint32_t PatternSampleBytes(const PatternConfig& cfg) {
  if (cfg.audio) return cfg.samplesPerBuffer * cfg.channels * (cfg.bits / 8);
  const uint32_t w = static_cast<uint32_t>(cfg.width), h = static_cast<uint32_t>(cfg.height);
  if (cfg.subtype == MEDIASUBTYPE_RGB24) return ((w * 3 + 3) & ~3u) * h;
  if (cfg.subtype == MEDIASUBTYPE_I420) return w * h + 2 * ((w / 2) * (h / 2));
  return w * h * 4;
}

int PatternCanvasRows(const PatternConfig& cfg) {
  switch (cfg.pattern) {
    case PatternKind::Solid:
      return std::min(cfg.height, 1);
    case PatternKind::Bars:
      return std::min(cfg.height, 8 * CounterScale(cfg.height) + 1);
    case PatternKind::Noise:
      break;
  }
  return cfg.height;
}

void RenderPatternFrame(const PatternConfig& cfg, uint64_t n, std::vector<uint8_t>* canvas) {
  const int w = cfg.width, h = cfg.height, rows = PatternCanvasRows(cfg);
  canvas->resize(static_cast<size_t>(w) * rows * 4);
  uint8_t* p = canvas->data();
  switch (cfg.pattern) {
    case PatternKind::Solid:
      for (size_t i = 0; i < static_cast<size_t>(w) * rows; ++i, p += 4) {
        p[0] = cfg.colour[2];
        p[1] = cfg.colour[1];
        p[2] = cfg.colour[0];
        p[3] = 255;
      }
      break;
    case PatternKind::Noise: {
      uint64_t state = SplitMix(SplitMix(cfg.seed) ^ n);
      for (size_t i = 0; i < static_cast<size_t>(w) * rows; ++i, p += 4) {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        const uint64_t r = state * 0x2545F4914F6CDD1Dull;
        p[0] = static_cast<uint8_t>(r >> 40);
        p[1] = static_cast<uint8_t>(r >> 48);
        p[2] = static_cast<uint8_t>(r >> 56);
        p[3] = 255;
      }
      break;
    }
    case PatternKind::Bars: {
      // The bars move left by a 32nd of the width per frame.
      const uint64_t step = static_cast<uint64_t>(std::max(1, w / 32));
      const uint64_t shift = (n % static_cast<uint64_t>(w)) * step % static_cast<uint64_t>(w);
      // Every row is the same (the counter is drawn over them afterwards): the first is computed,
      // the others copied.
      for (int x = 0; x < w; ++x, p += 4) {
        const uint64_t pos = (static_cast<uint64_t>(x) + shift) % static_cast<uint64_t>(w);
        const uint8_t* c = kBars[pos * 8 / static_cast<uint64_t>(w)];
        p[0] = c[2];
        p[1] = c[1];
        p[2] = c[0];
        p[3] = 255;
      }
      const size_t row = static_cast<size_t>(w) * 4;
      for (int y = 1; y < rows; ++y) std::memcpy(canvas->data() + row * y, canvas->data(), row);
      DrawCounter(canvas, w, h, rows, n);
      break;
    }
  }
}

int PatternVaryingColumns(const PatternConfig& cfg, uint64_t n) {
  switch (cfg.pattern) {
    case PatternKind::Solid:
      return 0;
    case PatternKind::Bars: {  // the counter's box: columns s to (4 digits + 2) s - 1
      const int digits = static_cast<int>(std::to_string(n).size());
      return std::min(cfg.width, (4 * digits + 2) * CounterScale(cfg.height));
    }
    case PatternKind::Noise:
      break;
  }
  return cfg.width;
}

void PackPatternFrame(const PatternConfig& cfg, const std::vector<uint8_t>& canvas, int columns,
                      uint8_t* out) {
  const int w = cfg.width, h = cfg.height;
  const size_t canvasRow = static_cast<size_t>(w) * 4;
  const int rows = w > 0 ? static_cast<int>(canvas.size() / canvasRow) : 0;
  if (w <= 0 || h <= 0 || rows <= 0) return;
  columns = std::clamp(columns, 0, w);
  // Picture row y is canvas row min(y, rows - 1): the rows below the canvas repeat its last one.
  auto canvasOf = [&](int y) { return std::min(y, rows - 1); };
  auto pixel = [&](int x, int y) { return canvas.data() + static_cast<size_t>(canvasOf(y)) * canvasRow + static_cast<size_t>(x) * 4; };
  // n output rows, row r made from the canvas rows key(r) by pack(r, first, end) for its units
  // (pixels or blocks) first..end - 1 of `units`, or by copy(r, from) from output row `from`. A row
  // whose canvas rows are those of the row before is copied from it; one from other canvas rows
  // than the last one (key `last`) starts as a copy of a row from that one, which it equals from
  // unit `varying` on.
  auto packRows = [](int n, int units, int varying, auto key, int last, auto pack, auto copy) {
    int model = -1;
    for (int r = 0; r < n && model < 0; ++r)
      if (key(r) == last) {
        model = r;
        pack(r, 0, units);
      }
    for (int r = 0; r < n; ++r) {
      if (r == model) continue;
      if (r > 0 && key(r) == key(r - 1)) {
        copy(r, r - 1);
      } else if (model >= 0 && varying < units) {
        copy(r, model);
        pack(r, 0, varying);
      } else {
        pack(r, 0, units);
      }
    }
  };
  // Rows of `bytes` from `base`.
  auto copyIn = [](uint8_t* base, size_t bytes) {
    return [=](int r, int from) { std::memcpy(base + bytes * r, base + bytes * from, bytes); };
  };
  if (cfg.subtype == MEDIASUBTYPE_RGB24) {
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
    // Bottom-up: the first row in memory is the bottom row.
    packRows(h, w, columns, [&](int r) { return canvasOf(h - 1 - r); }, rows - 1,
             [&](int r, int first, int end) {
               uint8_t* row = out + stride * r;
               for (int x = first; x < end; ++x) std::memcpy(row + 3 * x, pixel(x, h - 1 - r), 3);
               if (end == w) std::memset(row + 3 * static_cast<size_t>(w), 0, stride - 3 * static_cast<size_t>(w));
             },
             copyIn(out, stride));
  } else if (cfg.subtype == MEDIASUBTYPE_RGB32 || cfg.subtype == MEDIASUBTYPE_ARGB32) {
    const size_t stride = static_cast<size_t>(w) * 4;
    for (int r = 0; r < h; ++r) std::memcpy(out + stride * r, pixel(0, h - 1 - r), stride);
  } else if (cfg.subtype == MEDIASUBTYPE_AYUV) {
    packRows(h, w, columns, canvasOf, rows - 1, [&](int y, int first, int end) {
      for (int x = first; x < end; ++x) {
        const uint8_t* p = pixel(x, y);
        uint8_t* q = out + canvasRow * y + 4 * x;
        q[0] = CrOf(p[2], p[1], p[0]);
        q[1] = CbOf(p[2], p[1], p[0]);
        q[2] = LumaOf(p[2], p[1], p[0]);
        q[3] = p[3];
      }
    }, copyIn(out, canvasRow));
  } else {  // I420: Y plane, then U and V at half resolution (each from its 2x2 block's average)
    uint8_t* yPlane = out;
    uint8_t* uPlane = out + static_cast<size_t>(w) * h;
    const size_t cw = static_cast<size_t>(w / 2), vOffset = cw * static_cast<size_t>(h / 2);
    packRows(h, w, columns, canvasOf, rows - 1, [&](int y, int first, int end) {
      uint8_t* row = yPlane + static_cast<size_t>(w) * y;
      for (int x = first; x < end; ++x) {
        const uint8_t* p = pixel(x, y);
        row[x] = LumaOf(p[2], p[1], p[0]);
      }
    }, copyIn(yPlane, static_cast<size_t>(w)));
    // A chroma row is its U row and, vOffset bytes on, its V row.
    auto chroma = [&](int y, int first, int end) {
      uint8_t* uRow = uPlane + cw * y;
      uint8_t* vRow = uRow + vOffset;
      for (int x = first; x < end; ++x) {
        const uint8_t* a = pixel(2 * x, 2 * y);
        const uint8_t* b = pixel(2 * x, 2 * y + 1);  // the row below
        const int sb = a[0] + a[4] + b[0] + b[4], sg = a[1] + a[5] + b[1] + b[5], sr = a[2] + a[6] + b[2] + b[6];
        const int blue = (sb + 2) / 4, green = (sg + 2) / 4, red = (sr + 2) / 4;
        uRow[x] = CbOf(red, green, blue);
        vRow[x] = CrOf(red, green, blue);
      }
    };
    // A pair of canvas rows is either one row twice or two neighbours: their sum names it.
    packRows(h / 2, static_cast<int>(cw), (columns + 1) / 2,
             [&](int y) { return canvasOf(2 * y) + canvasOf(2 * y + 1); }, 2 * (rows - 1), chroma,
             [&](int y, int from) {
               std::memcpy(uPlane + cw * y, uPlane + cw * from, cw);
               std::memcpy(uPlane + vOffset + cw * y, uPlane + vOffset + cw * from, cw);
             });
  }
}

void RenderTone(const PatternConfig& cfg, uint64_t k, uint8_t* out) {
  constexpr double kTwoPi = 6.283185307179586476925286766559;
  const uint64_t first = k * cfg.samplesPerBuffer;
  for (uint32_t i = 0; i < cfg.samplesPerBuffer; ++i) {
    const uint64_t s = first + i;
    for (uint32_t c = 0; c < cfg.channels; ++c) {
      // The phase is reduced exactly first so that long streams keep their precision.
      const double cycles = std::fmod(cfg.tone[c] * static_cast<double>(s % cfg.sampleRate), cfg.sampleRate);
      const double v = 0.5 * std::sin(kTwoPi * cycles / cfg.sampleRate);
      if (cfg.bits == 16) {
        const auto x = static_cast<int16_t>(std::lround(v * 32767.0));
        *out++ = static_cast<uint8_t>(x & 0xFF);
        *out++ = static_cast<uint8_t>((x >> 8) & 0xFF);
      } else {
        *out++ = static_cast<uint8_t>(128 + std::lround(v * 127.0));
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The filter

CUnknown* CTestPatternSource::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* filter = new (std::nothrow) CTestPatternSource(pUnk, phr);
  if (!filter) {
    if (phr) *phr = E_OUTOFMEMORY;
    return nullptr;
  }
  if (!filter->m_pPin && phr && SUCCEEDED(*phr)) *phr = E_OUTOFMEMORY;
  return filter;
}

CTestPatternSource::CTestPatternSource(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource(L"Test pattern source", pUnk, CLSID_TestPatternSource, phr),
      CUtilitySettings(GetOwner()),
      CStatusInterface(GetOwner()) {
  InitParameters();
  HRESULT hr = S_OK;
  m_pPin = new (std::nothrow) CTestPatternPin(&hr, this);
  if (m_pPin && FAILED(hr)) {
    delete m_pPin;
    m_pPin = nullptr;
    if (phr) *phr = hr;
  }
}

CTestPatternSource::~CTestPatternSource() { delete m_pPin; }

STDMETHODIMP CTestPatternSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  HRESULT hr = QueryCommonInterfaces(riid, ppv, this, this, this);
  if (hr != S_FALSE) return hr;
  return CSource::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CTestPatternSource::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_TestPatternSourceProperties); }

void CTestPatternSource::InitParameters() {
  AddParameter("format", &m_sFormat, "RGB24", false, {"RGB24", "RGB32", "ARGB32", "AYUV", "I420", "PCM"});
  AddParameter("width", &m_nWidth, 320u);
  AddParameter("height", &m_nHeight, 240u);
  AddParameter("framerate", &m_sFrameRate, "30");
  AddParameter("frames", &m_nFrames, 300u);
  AddParameter("pattern", &m_sPattern, "bars", false, {"bars", "solid", "noise"});
  AddParameter("colour", &m_sColour, "0080FF");
  AddParameter("seed", &m_nSeed, 1u);
  AddParameter("samplerate", &m_nSampleRate, 44100u);
  AddParameter("channels", &m_nChannels, 2u, false, {1u, 2u});
  AddParameter("bits", &m_nBits, 16u, false, {8u, 16u});
  AddParameter("tone_left", &m_dToneLeft, 440.0);
  AddParameter("tone_right", &m_dToneRight, 880.0);
  AddParameter("samples_per_buffer", &m_nSamplesPerBuffer, 1024u);
}

STDMETHODIMP CTestPatternSource::SetParameter(const char* name, const char* value) {
  CAutoLock lock(&m_csParams);
  HRESULT hr = CUtilitySettings::SetParameter(name, value);
  if (FAILED(hr)) return hr;
  const std::string n = name;
  uint64_t a = 0, b = 0;
  uint8_t rgb[3];
  bool ok = true;
  if (n == "width" || n == "height") ok = InRange(n == "width" ? m_nWidth : m_nHeight, 2, kMaxDimension);
  else if (n == "framerate") ok = ParseFrameRate(m_sFrameRate, &a, &b);
  else if (n == "colour") ok = ParseColour(m_sColour, rgb);
  else if (n == "samplerate") ok = InRange(m_nSampleRate, 1000, 384000);
  else if (n == "samples_per_buffer") ok = InRange(m_nSamplesPerBuffer, 1, 1u << 20);
  else if (n == "tone_left" || n == "tone_right") {
    const double t = n == "tone_left" ? m_dToneLeft : m_dToneRight;
    ok = std::isfinite(t) && t >= 0 && t <= 1e6;
  }
  if (ok) return S_OK;
  RevertParameter(name);
  return E_FAIL;
}

bool CTestPatternSource::BuildConfig(PatternConfig* cfg) {
  CAutoLock lock(&m_csParams);
  PatternConfig c;
  std::string error;
  c.audio = m_sFormat == "PCM";
  for (const FormatName& f : kVideoFormats)
    if (m_sFormat == f.name) c.subtype = *f.subtype;
  c.width = static_cast<int>(std::min(m_nWidth, kMaxDimension));
  c.height = static_cast<int>(std::min(m_nHeight, kMaxDimension));
  c.frames = m_nFrames;
  c.pattern = m_sPattern == "solid" ? PatternKind::Solid : m_sPattern == "noise" ? PatternKind::Noise : PatternKind::Bars;
  c.seed = m_nSeed;
  c.sampleRate = m_nSampleRate;
  c.channels = m_nChannels == 1 ? 1 : 2;
  c.bits = m_nBits == 8 ? 8 : 16;
  c.samplesPerBuffer = m_nSamplesPerBuffer;
  c.tone[0] = m_dToneLeft;
  c.tone[1] = m_dToneRight;
  if (!ParseFrameRate(m_sFrameRate, &c.rateNum, &c.rateDen)) error = "frame rate '" + m_sFrameRate + "' is not usable";
  else if (!ParseColour(m_sColour, c.colour)) error = "colour '" + m_sColour + "' is not RRGGBB";
  else if (!c.audio && (c.width < 2 || c.height < 2)) error = "width and height must be 2 at least";
  else if (!c.audio && c.subtype == MEDIASUBTYPE_I420 && (c.width % 2 || c.height % 2))
    error = "I420 needs an even width and height";
  else if (c.audio && (!InRange(c.sampleRate, 1000, 384000) || !InRange(c.samplesPerBuffer, 1, 1u << 20)))
    error = "sample rate or samples per buffer out of range";
  else if (PatternSampleBytes(c) > kMaxSampleBytes)
    error = "a sample of this size would exceed " + std::to_string(kMaxSampleBytes) + " bytes";
  if (!error.empty()) {
    SetLastErrorText(("Test pattern source: " + error).c_str(), true);
    return false;
  }
  *cfg = c;
  return true;
}

STDMETHODIMP CTestPatternSource::Stop() {
  HRESULT hr = CSource::Stop();
  // The worker thread has ended: nothing reads the position any more.
  if (m_pPin) m_pPin->Rewind();
  return hr;
}

// ---------------------------------------------------------------------------------------------
// The pin

CTestPatternPin::CTestPatternPin(HRESULT* phr, CTestPatternSource* pFilter)
    : CSourceStream(L"Test pattern output", phr, pFilter, L"Out") {}

STDMETHODIMP CTestPatternPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTestPatternPin::GetMediaType(CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  PatternConfig cfg;
  if (!Source()->BuildConfig(&cfg)) return VFW_E_INVALIDMEDIATYPE;
  pmt->InitMediaType();
  const uint32_t bytes = PatternSampleBytes(cfg);
  if (cfg.audio) {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = static_cast<WORD>(cfg.channels);
    wfx.nSamplesPerSec = cfg.sampleRate;
    wfx.wBitsPerSample = static_cast<WORD>(cfg.bits);
    wfx.nBlockAlign = static_cast<WORD>(cfg.channels * cfg.bits / 8);
    wfx.nAvgBytesPerSec = cfg.sampleRate * wfx.nBlockAlign;
    HRESULT hr = CreateAudioMediaType(&wfx, pmt, TRUE);
    if (FAILED(hr)) return hr;
    pmt->SetSampleSize(wfx.nBlockAlign);
    return S_OK;
  }
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(pmt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!vih) return E_OUTOFMEMORY;
  vih->rcSource = {0, 0, cfg.width, cfg.height};
  vih->rcTarget = vih->rcSource;
  vih->AvgTimePerFrame = FrameTime(1, cfg.rateNum, cfg.rateDen);
  const double bitRate = 8.0 * bytes * static_cast<double>(cfg.rateNum) / static_cast<double>(cfg.rateDen);
  vih->dwBitRate = bitRate > 4294967295.0 ? 0xFFFFFFFFu : static_cast<DWORD>(bitRate);
  BITMAPINFOHEADER& bih = vih->bmiHeader;
  bih.biSize = sizeof(BITMAPINFOHEADER);
  bih.biWidth = cfg.width;
  // RGB: positive, bottom-up as a capture source delivers it; YUV: positive is top-down.
  bih.biHeight = cfg.height;
  bih.biPlanes = 1;
  bih.biSizeImage = bytes;
  if (cfg.subtype == MEDIASUBTYPE_RGB24) {
    bih.biBitCount = 24;
    bih.biCompression = BI_RGB;
  } else if (cfg.subtype == MEDIASUBTYPE_I420) {
    bih.biBitCount = 12;
    bih.biCompression = MAKEFOURCC('I', '4', '2', '0');
  } else if (cfg.subtype == MEDIASUBTYPE_AYUV) {
    bih.biBitCount = 32;
    bih.biCompression = MAKEFOURCC('A', 'Y', 'U', 'V');
  } else {
    bih.biBitCount = 32;
    bih.biCompression = BI_RGB;
  }
  pmt->SetType(&MEDIATYPE_Video);
  pmt->SetSubtype(&cfg.subtype);
  pmt->SetFormatType(&FORMAT_VideoInfo);
  pmt->SetTemporalCompression(FALSE);
  pmt->SetSampleSize(bytes);
  return S_OK;
}

HRESULT CTestPatternPin::SetMediaType(const CMediaType* pmt) {
  HRESULT hr = CSourceStream::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  CAutoLock lock(&m_cSharedState);
  PatternConfig cfg;
  if (!Source()->BuildConfig(&cfg)) return VFW_E_INVALIDMEDIATYPE;
  m_cfg = cfg;
  m_bConfigured = true;
  return S_OK;
}

HRESULT CTestPatternPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  if (!pAlloc || !pRequest) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  uint32_t bytes = 0;
  {
    CAutoLock shared(&m_cSharedState);
    if (!m_bConfigured) return E_UNEXPECTED;
    bytes = PatternSampleBytes(m_cfg);
  }
  if (pRequest->cBuffers < 2) pRequest->cBuffers = 2;
  pRequest->cbBuffer = static_cast<LONG>(bytes);
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pRequest->cbBuffer ? E_FAIL : S_OK;
}

// Application thread, under the state lock, before the worker starts.
HRESULT CTestPatternPin::Active() {
  if (IsConnected()) {
    CAutoLock lock(&m_cSharedState);
    // Everything but the layout the connection agreed may have changed since.
    PatternConfig fresh;
    if (Source()->BuildConfig(&fresh)) {
      m_cfg.frames = fresh.frames;
      m_cfg.pattern = fresh.pattern;
      std::memcpy(m_cfg.colour, fresh.colour, sizeof m_cfg.colour);
      m_cfg.seed = fresh.seed;
      m_cfg.tone[0] = fresh.tone[0];
      m_cfg.tone[1] = fresh.tone[1];
    }
    try {
      if (!m_cfg.audio) m_canvas.assign(static_cast<size_t>(m_cfg.width) * PatternCanvasRows(m_cfg) * 4, 0);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  return CSourceStream::Active();
}

HRESULT CTestPatternPin::OnThreadStartPlay() {
  REFERENCE_TIME start = 0, stop = INT64_MAX;
  {
    CAutoLock lock(&m_cSharedState);
    start = UnitTime(m_cfg, m_nStartUnit);
    uint64_t end = EndUnit(m_cfg);
    if (end != UINT64_MAX) stop = UnitTime(m_cfg, end);
  }
  DeliverNewSegment(start, stop, 1.0);
  return S_OK;
}

REFERENCE_TIME CTestPatternPin::UnitTime(const PatternConfig& cfg, uint64_t n) {
  if (cfg.audio) return FrameTime(n * cfg.samplesPerBuffer, cfg.sampleRate, 1);
  return FrameTime(n, cfg.rateNum, cfg.rateDen);
}

uint64_t CTestPatternPin::EndUnit(const PatternConfig& cfg) const {
  uint64_t end = cfg.frames ? cfg.frames : UINT64_MAX;
  if (m_nStopUnit) end = std::min(end, m_nStopUnit);
  return end;
}

// Worker thread.
HRESULT CTestPatternPin::FillBuffer(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  CAutoLock lock(&m_cSharedState);
  if (m_nUnit >= EndUnit(m_cfg)) return S_FALSE;
  BYTE* p = nullptr;
  HRESULT hr = pSample->GetPointer(&p);
  if (FAILED(hr)) return hr;
  const uint32_t bytes = PatternSampleBytes(m_cfg);
  if (pSample->GetSize() < static_cast<LONG>(bytes)) return E_UNEXPECTED;
  if (m_cfg.audio) {
    RenderTone(m_cfg, m_nUnit, p);
  } else {
    RenderPatternFrame(m_cfg, m_nUnit, &m_canvas);
    PackPatternFrame(m_cfg, m_canvas, PatternVaryingColumns(m_cfg, m_nUnit), p);
  }
  pSample->SetActualDataLength(static_cast<LONG>(bytes));
  const REFERENCE_TIME base = UnitTime(m_cfg, m_nStartUnit);
  REFERENCE_TIME start = UnitTime(m_cfg, m_nUnit) - base, stop = UnitTime(m_cfg, m_nUnit + 1) - base;
  pSample->SetTime(&start, &stop);
  LONGLONG mediaStart = static_cast<LONGLONG>(m_cfg.audio ? m_nUnit * m_cfg.samplesPerBuffer : m_nUnit);
  LONGLONG mediaStop = mediaStart + (m_cfg.audio ? m_cfg.samplesPerBuffer : 1);
  pSample->SetMediaTime(&mediaStart, &mediaStop);
  pSample->SetSyncPoint(TRUE);
  pSample->SetDiscontinuity(m_nUnit == m_nStartUnit ? TRUE : FALSE);
  ++m_nUnit;
  return S_OK;
}

void CTestPatternPin::Rewind() {
  CAutoLock lock(&m_cSharedState);
  m_nUnit = m_nStartUnit;
}

bool CTestPatternPin::SeekConfig(PatternConfig* cfg) {
  {
    CAutoLock lock(&m_cSharedState);
    if (m_bConfigured && IsConnected()) {
      *cfg = m_cfg;
      // The frame count may have been changed since the connection.
      CAutoLock params(&Source()->m_csParams);
      cfg->frames = Source()->m_nFrames;
      return true;
    }
  }
  return Source()->BuildConfig(cfg);
}

STDMETHODIMP CTestPatternPin::GetDuration(LONGLONG* pDuration) {
  if (!pDuration) return E_POINTER;
  PatternConfig cfg;
  if (!SeekConfig(&cfg)) return E_FAIL;
  if (!cfg.frames) return E_NOTIMPL;  // endless
  *pDuration = UnitTime(cfg, cfg.frames);
  return S_OK;
}

STDMETHODIMP CTestPatternPin::GetStopPosition(LONGLONG* pStop) {
  if (!pStop) return E_POINTER;
  PatternConfig cfg;
  if (!SeekConfig(&cfg)) return E_FAIL;
  CAutoLock lock(&m_cSharedState);
  const uint64_t end = EndUnit(cfg);
  if (end == UINT64_MAX) return E_NOTIMPL;
  *pStop = UnitTime(cfg, end);
  return S_OK;
}

STDMETHODIMP CTestPatternPin::GetCurrentPosition(LONGLONG* pCurrent) {
  if (!pCurrent) return E_POINTER;
  PatternConfig cfg;
  if (!SeekConfig(&cfg)) return E_FAIL;
  CAutoLock lock(&m_cSharedState);
  *pCurrent = UnitTime(cfg, m_nUnit);
  return S_OK;
}

STDMETHODIMP CTestPatternPin::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                           DWORD dwStopFlags) {
  HRESULT hr = CheckPositionArguments(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
  if (FAILED(hr)) return hr;
  const DWORD how = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
  const DWORD stopHow = dwStopFlags & AM_SEEKING_PositioningBitsMask;
  // Positions change only while nothing streams; a running source would need a flush.
  if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
  PatternConfig cfg;
  if (!SeekConfig(&cfg)) return E_FAIL;
  // The unit (frame or buffer) that contains time t.
  auto unitAt = [&](REFERENCE_TIME t) -> uint64_t {
    if (t <= 0) return 0;
    // The last unit that starts at or before t, by bisection over unit numbers small enough for
    // their sample counts and times not to overflow: a few dozen steps for any t, where counting
    // up from an estimate could take billions.
    uint64_t lo = 0, hi = cfg.audio ? (UINT64_MAX / 4) / cfg.samplesPerBuffer : UINT64_MAX / 4;
    while (lo < hi) {
      const uint64_t mid = lo + (hi - lo + 1) / 2;
      if (UnitTime(cfg, mid) <= t) lo = mid;
      else hi = mid - 1;
    }
    return lo;
  };
  CAutoLock lock(&m_cSharedState);
  if (how == AM_SEEKING_AbsolutePositioning) {
    m_nStartUnit = unitAt(*pCurrent);
  } else if (how == AM_SEEKING_RelativePositioning || how == AM_SEEKING_IncrementalPositioning) {
    m_nStartUnit = unitAt(UnitTime(cfg, m_nStartUnit) + *pCurrent);
  }
  if (stopHow != AM_SEEKING_NoPositioning) {
    REFERENCE_TIME stop = *pStop;
    if (stopHow != AM_SEEKING_AbsolutePositioning) stop += UnitTime(cfg, m_nStartUnit);
    // Every unit that starts before the stop time is delivered.
    const uint64_t n = unitAt(stop);
    m_nStopUnit = UnitTime(cfg, n) < stop ? n + 1 : n;
    if (m_nStopUnit == 0) m_nStopUnit = 1;
  }
  m_nUnit = m_nStartUnit;
  return S_OK;
}

}  // namespace plenor::utilities
