// Reference kernels: the conversion arithmetic written out plainly, one block at a time. They fix
// the output bytes; every other kernel is tested against them.
#include "kernels/kernels.h"

namespace colour {
namespace {

template <int Bpp>
void RgbToYuvRowPairC(const BYTE* srcA, const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u, BYTE* v,
                      int blocks, int offset) {
  for (int j = 0; j < blocks; ++j)
    RefRgbBlock<Bpp>(srcA, srcB, yA, yB, u, v, j, offset);
}

void YuvToRgb24RowPairC(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v, BYTE* outA,
                        BYTE* outB, int blocks, int offset) {
  for (int j = 0; j < blocks; ++j)
    RefYuvBlock(yA, yB, u, v, outA, outB, j, offset);
}

// Whether channel(Y) = clamp(Y + offset - (Y < t)) equals the reference channel of `term` for all
// 256 Y.
bool FitsThreshold(int offset, double term, int t) {
  for (int y = 0; y < 256; ++y) {
    int n = y + offset - (y < t ? 1 : 0);
    n = n > 255 ? 255 : (n < 0 ? 0 : n);
    if (RefChannel(static_cast<BYTE>(y), term) != n)
      return false;
  }
  return true;
}

// The smallest threshold that fits (FitsThreshold), or -1 when none does.
int FindThreshold(int offset, double term) {
  for (int t = 0; t < 256; ++t)
    if (FitsThreshold(offset, term, t))
      return t;
  return -1;
}

// Finds, for every chroma value whose term is an exact integer, the threshold t with
// channel(Y) = clamp(Y + offset - (Y < t)) for all 256 Y, and checks that every other chroma value
// gives clamp(Y + offset) exactly. Returns false if some value fits neither form or two exact
// values share an index.
template <typename OffsetFn, typename ExactFn, typename TermFn>
bool DeriveThresholds(BYTE (&table)[16], OffsetFn offsetOf, ExactFn exactOf, TermFn termOf) {
  bool used[16] = {};
  for (int i = 0; i < 16; ++i)
    table[i] = 0;
  for (int c = -128; c <= 127; ++c) {
    const int o = offsetOf(c);
    const double term = termOf(c);
    if (!exactOf(c)) {
      if (!FitsThreshold(o, term, 0))
        return false;
      continue;
    }
    const int found = FindThreshold(o, term);
    const int index = ((c + 128) >> 4) & 15;
    if (found < 0 || used[index])
      return false;
    used[index] = true;
    table[index] = static_cast<BYTE>(found);
  }
  return true;
}

// The G thresholds: for each Cb at most one Cr in -128..127 makes the G term an exact integer
// (581 is prime to 1000), so one threshold per Cb, indexed by the Cb byte (cb & 255). The
// non-exact pairs are clamp(Y + offset), as the tests check over every pair.
bool DeriveGThresholds(BYTE (&table)[256]) {
  for (int cb = -128; cb <= 127; ++cb) {
    BYTE& entry = table[cb & 255];
    entry = 0;
    bool seen = false;
    for (int cr = -128; cr <= 127; ++cr) {
      if (!OffsetGExact(cb, cr))
        continue;
      if (seen)
        return false;
      seen = true;
      const int found = FindThreshold(OffsetG(cb, cr), RefTerms(cb, cr).tg);
      if (found < 0)
        return false;
      entry = static_cast<BYTE>(found);
    }
  }
  return true;
}

ExactTermThresholds Derive() {
  ExactTermThresholds t{};
  const bool b = DeriveThresholds(
      t.tB, OffsetB, OffsetBExact, [](int cb) { return RefTerms(cb, 0).tb; });
  const bool r = DeriveThresholds(
      t.tR, OffsetR, OffsetRExact, [](int cr) { return RefTerms(0, cr).tr; });
  const bool g = DeriveGThresholds(t.tG);
  t.valid = b && r && g;
  return t;
}

}  // namespace

const RgbToYuvKernels kRgb24ToYuvC = {"C", RgbToYuvRowPairC<3>};
const RgbToYuvKernels kRgb32ToYuvC = {"C", RgbToYuvRowPairC<4>};
const YuvToRgbKernels kYuvToRgb24C = {"C", YuvToRgb24RowPairC};

const ExactTermThresholds& GetExactTermThresholds() {
  static const ExactTermThresholds thresholds = Derive();
  return thresholds;
}

}  // namespace colour
