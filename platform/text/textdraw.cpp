#include "platform/text/textdraw.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace plenor::text {

namespace {

std::string PatternString(FcPattern* pattern, const char* object, int n = 0) {
  FcChar8* value = nullptr;
  if (FcPatternGetString(pattern, object, n, &value) != FcResultMatch || !value) return {};
  return reinterpret_cast<const char*>(value);
}

// The face fontconfig matches for a family, with the names that stand for the family itself.
bool Match(const std::string& family, std::vector<std::string>* candidates, ResolvedFont* out) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return false;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  if (candidates) {
    // The family and the replacements fontconfig's rules bind to it as the same family (its
    // metric-compatible aliases) lead the list with a strong binding; the preferences its rules
    // add for any family follow weakly bound.
    FcPatternIter it;
    if (FcPatternFindIter(pattern, &it, FC_FAMILY)) {
      const int count = FcPatternIterValueCount(pattern, &it);
      for (int n = 0; n < count; ++n) {
        FcValue value;
        FcValueBinding binding = FcValueBindingWeak;
        if (FcPatternIterGetValue(pattern, &it, n, &value, &binding) != FcResultMatch) break;
        if (binding == FcValueBindingWeak || value.type != FcTypeString) break;
        candidates->push_back(reinterpret_cast<const char*>(value.u.s));
      }
    }
  }
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return false;
  out->family = PatternString(match, FC_FAMILY);
  out->file = PatternString(match, FC_FILE);
  int index = 0;
  if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
  out->index = index;
  FcPatternDestroy(match);
  return !out->file.empty();
}

// Resolutions are made once per family and process: fontconfig's matching reads its whole
// configuration.
std::mutex g_resolveLock;
std::unordered_map<std::string, ResolvedFont>& Resolved() {
  static auto* map = new std::unordered_map<std::string, ResolvedFont>;  // kept for the process
  return *map;
}

struct Glyph {
  std::vector<uint8_t> coverage;  // rows x width grey levels, top row first
  int width = 0, rows = 0;
  int left = 0, top = 0;  // bitmap origin relative to the pen on the baseline
  FT_Pos advance = 0;     // 26.6 pixels
};

uint8_t Blend(uint8_t dst, uint8_t src, unsigned a) {
  // dst + (src - dst) * a / 255, rounded.
  const int d = dst, s = src;
  return static_cast<uint8_t>(d + ((s - d) * static_cast<int>(a) + (s >= d ? 127 : -127)) / 255);
}

}  // namespace

bool ResolveFamily(const std::string& family, ResolvedFont* out) {
  if (!out) return false;
  std::lock_guard<std::mutex> lock(g_resolveLock);
  auto found = Resolved().find(family);
  if (found != Resolved().end()) {
    *out = found->second;
    return true;
  }
  if (!FcInit()) return false;
  ResolvedFont font;
  font.requestedFamily = family;
  std::vector<std::string> candidates;
  bool ok = Match(family, &candidates, &font);
  const bool accepted =
      ok && std::any_of(candidates.begin(), candidates.end(), [&](const std::string& c) {
        return FcStrCmpIgnoreCase(reinterpret_cast<const FcChar8*>(c.c_str()),
                                  reinterpret_cast<const FcChar8*>(font.family.c_str())) == 0;
      });
  if (!accepted) {
    font = ResolvedFont{};
    font.requestedFamily = family;
    font.generic = true;
    ok = Match("sans-serif", nullptr, &font);
  }
  if (!ok) return false;
  Resolved().emplace(family, font);
  *out = font;
  return true;
}

uint64_t PictureBytes(const PictureFormat& format) {
  if (format.compression != 0 || (format.bitCount != 24 && format.bitCount != 32)) return 0;
  if (format.width <= 0 || format.height == 0) return 0;
  const uint64_t rows = format.height < 0 ? -static_cast<int64_t>(format.height) : format.height;
  const uint64_t stride = ((static_cast<uint64_t>(format.width) * (format.bitCount / 8)) + 3) & ~uint64_t{3};
  return stride * rows;  // at most about 2^31 * 4 * 2^31: fits in 64 bits
}

struct TextRenderer::Impl {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  ResolvedFont font;
  int ascender = 0, lineHeight = 0;
  std::array<std::unique_ptr<Glyph>, 256> latin{};
  std::unordered_map<char32_t, std::unique_ptr<Glyph>> others;
  size_t cached = 0;

  ~Impl() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }

  // The glyph of one character, rasterised on first use.
  const Glyph* Get(char32_t c) {
    std::unique_ptr<Glyph>* slot = nullptr;
    if (c < latin.size()) {
      slot = &latin[c];
    } else {
      auto it = others.find(c);
      if (it != others.end()) return it->second.get();
      slot = &others[c];
    }
    if (*slot) return slot->get();
    auto glyph = std::make_unique<Glyph>();
    if (FT_Load_Char(face, c, FT_LOAD_DEFAULT | FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) == 0) {
      const FT_GlyphSlot g = face->glyph;
      const FT_Bitmap& bitmap = g->bitmap;
      glyph->advance = g->advance.x;
      if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.buffer) {
        glyph->width = static_cast<int>(bitmap.width);
        glyph->rows = static_cast<int>(bitmap.rows);
        glyph->left = g->bitmap_left;
        glyph->top = g->bitmap_top;
        glyph->coverage.resize(static_cast<size_t>(glyph->width) * glyph->rows);
        for (int r = 0; r < glyph->rows; ++r)
          std::copy_n(bitmap.buffer + static_cast<ptrdiff_t>(r) * bitmap.pitch, glyph->width,
                      glyph->coverage.begin() + static_cast<ptrdiff_t>(r) * glyph->width);
      }
    }
    *slot = std::move(glyph);
    ++cached;
    return slot->get();
  }
};

std::unique_ptr<TextRenderer> TextRenderer::Create(const FontRequest& request) {
  auto impl = std::make_unique<Impl>();
  if (!ResolveFamily(request.family, &impl->font)) return nullptr;
  if (FT_Init_FreeType(&impl->library) != 0) return nullptr;
  if (FT_New_Face(impl->library, impl->font.file.c_str(), impl->font.index, &impl->face) != 0) return nullptr;
  const FT_F26Dot6 size = static_cast<FT_F26Dot6>(std::lround(request.points * 64.0));
  if (FT_Set_Char_Size(impl->face, 0, size, request.dpi, request.dpi) != 0) return nullptr;
  const FT_Size_Metrics& m = impl->face->size->metrics;
  impl->ascender = static_cast<int>((m.ascender + 32) >> 6);
  impl->lineHeight = static_cast<int>((m.ascender - m.descender + 32) >> 6);
  return std::unique_ptr<TextRenderer>(new TextRenderer(std::move(impl)));
}

TextRenderer::TextRenderer(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
TextRenderer::~TextRenderer() = default;

const ResolvedFont& TextRenderer::Font() const { return m_impl->font; }
int TextRenderer::LineHeight() const { return m_impl->lineHeight; }
size_t TextRenderer::CachedGlyphs() const { return m_impl->cached; }

bool TextRenderer::Draw(std::span<uint8_t> buffer, const PictureFormat& format, std::wstring_view text,
                        const Box& box) {
  const uint64_t bytes = PictureBytes(format);
  if (bytes == 0 || buffer.size() < bytes) return false;
  const int64_t width = format.width;
  const int64_t rows = format.height < 0 ? -static_cast<int64_t>(format.height) : format.height;
  const int64_t pixelBytes = format.bitCount / 8;
  const int64_t stride = (width * pixelBytes + 3) & ~int64_t{3};
  const bool bottomUp = format.height > 0;

  // The part of the box inside the picture: [x0, x1) x [y0, y1).
  const int64_t x0 = box.x, y0 = box.y;
  const int64_t x1 = std::min<int64_t>(x0 + box.width, width);
  const int64_t y1 = std::min<int64_t>(y0 + box.height, rows);
  if (x0 >= x1 || y0 >= y1) return true;

  const int64_t baseline = y0 + m_impl->ascender;
  int64_t pen = x0 * 64;  // 26.6
  for (wchar_t wc : text) {
    const int64_t penX = (pen + 32) >> 6;
    if (penX >= x1) break;
    const Glyph* g = m_impl->Get(static_cast<char32_t>(wc));
    pen += g->advance;
    const int64_t gx = penX + g->left, gy = baseline - g->top;
    const int64_t c0 = std::max<int64_t>(0, x0 - gx), c1 = std::min<int64_t>(g->width, x1 - gx);
    const int64_t r0 = std::max<int64_t>(0, y0 - gy), r1 = std::min<int64_t>(g->rows, y1 - gy);
    for (int64_t r = r0; r < r1; ++r) {
      const int64_t py = gy + r;
      uint8_t* row = buffer.data() + (bottomUp ? rows - 1 - py : py) * stride;
      const uint8_t* cov = g->coverage.data() + r * g->width;
      for (int64_t c = c0; c < c1; ++c) {
        const unsigned a = cov[c];
        if (a == 0) continue;
        uint8_t* p = row + (gx + c) * pixelBytes;  // blue, green, red
        if (a == 255) {
          p[0] = 0;
          p[1] = 255;
          p[2] = 0;
        } else {
          p[0] = Blend(p[0], 0, a);
          p[1] = Blend(p[1], 255, a);
          p[2] = Blend(p[2], 0, a);
        }
      }
    }
  }
  return true;
}

}  // namespace plenor::text
