// IFilterInfoSourceInterface: the latest measurement text of a measuring filter, read by another
// filter of the same graph (a second OverlayKitFilter downstream shows what the first measured).
#pragma once

#include "platform/com/guid.h"
#include "platform/com/unknown.h"

// {F458CCE3-5A8D-4EF8-82A9-E59C64C909EA}
PLENOR_GUID(IID_IFilterInfoSourceInterface, 0xf458cce3, 0x5a8d, 0x4ef8, 0x82, 0xa9, 0xe5, 0x9c, 0x64, 0xc9, 0x09, 0xea);

struct IFilterInfoSourceInterface : IUnknown {
  static constexpr const IID& iid = IID_IFilterInfoSourceInterface;
  // *length holds the buffer's size on entry. A text longer than that: E_FAIL, nothing copied.
  // Otherwise the characters are copied without a terminating zero, *length is set to the
  // text's length, S_OK. E_POINTER for a null length, or a null buffer with a size above 0.
  // Callable on any thread.
  STDMETHOD(GetInfoText)(char* buffer, int* length) PURE;

 protected:
  ~IFilterInfoSourceInterface() = default;
};
