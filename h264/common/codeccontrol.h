// ICodecControlInterface: the H.264 encoder's run-time controls for hosts (frame bit limit, an
// intra picture on demand). Declared here so that hosts and tests reach it by its interface id.
#pragma once

#include "platform/com/unknown.h"

// {5C0F9D1E-8A47-4E63-9B2D-3F61C0A4E7B8}
PLENOR_GUID(IID_ICodecControlInterface, 0x5c0f9d1e, 0x8a47, 0x4e63, 0x9b, 0x2d, 0x3f, 0x61, 0xc0, 0xa4, 0xe7, 0xb8);

struct ICodecControlInterface : IUnknown {
  static constexpr const IID& iid = IID_ICodecControlInterface;

  // The value of "framebitlimit". S_OK (E_POINTER for null).
  STDMETHOD(GetFrameBitLimit)(int* pLimit) PURE;
  // Stores a limit above 0 (S_OK); anything else changes nothing (E_FAIL).
  STDMETHOD(SetFrameBitLimit)(int limit) PURE;
  // Two reserved slots: E_NOTIMPL.
  STDMETHOD(Reserved1)() PURE;
  STDMETHOD(Reserved2)() PURE;
  // The next frame is coded as an intra picture. S_OK.
  STDMETHOD(GenerateIFrame)() PURE;
  // Two reserved slots: E_FAIL.
  STDMETHOD(Reserved3)() PURE;
  STDMETHOD(Reserved4)() PURE;

 protected:
  ~ICodecControlInterface() = default;
};
