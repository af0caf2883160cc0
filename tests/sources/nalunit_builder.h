// NAL units built by the H.264 source tests.
#pragma once

#include <random>
#include <vector>

#include "platform/com/wintypes.h"

namespace avctest {

using Bytes = std::vector<BYTE>;

// A NAL unit led by a start code of codeLength (3 or 4) bytes: the header byte, then payload
// bytes that never hold two zeros in a row (as emulation prevention guarantees) and do not end
// in 0.
inline Bytes MakeUnit(BYTE header, size_t payload, int codeLength = 4, unsigned seed = 1) {
  Bytes u = codeLength == 4 ? Bytes{0, 0, 0, 1, header} : Bytes{0, 0, 1, header};
  u.reserve(u.size() + payload);
  std::minstd_rand rng(seed);
  for (size_t i = 0; i < payload; ++i) {
    BYTE b = static_cast<BYTE>(rng() % 256);
    if (b == 0 && (u.back() == 0 || i + 1 == payload)) b = 0x80;
    u.push_back(b);
  }
  return u;
}

inline Bytes Join(const std::vector<Bytes>& units) {
  Bytes all;
  for (const Bytes& u : units) all.insert(all.end(), u.begin(), u.end());
  return all;
}

}  // namespace avctest
