// The drawing step the two measurement filters share: one line of text written into the
// picture of the sample in hand, described by the input connection's format block.
#pragma once

#include <span>
#include <string_view>

#include "platform/strmbase/amfilter.h"
#include "platform/text/textdraw.h"

struct OverlayBox {
  unsigned x = 0, y = 0;
  unsigned width = 0, height = 50;
};

// Streaming thread. Reads the picture header of the input pin's connection type (the header of
// a VIDEOINFOHEADER, and of a VIDEOINFOHEADER2 when acceptVideoInfo2 is set) and draws the text
// left-aligned in the box with its top-left corner at (x, y) of the picture, clipped to the box
// and the picture.
//   - input not connected: VFW_E_NOT_CONNECTED; another format type: VFW_E_TYPE_NOT_ACCEPTED;
//     the sample's GetPointer failure: its result.
//   - a header that is not uncompressed 24- or 32-bit RGB, a format block shorter than its
//     structure, a sample whose data is shorter than the picture, or no renderer: nothing drawn,
//     the buffer untouched, S_OK.
HRESULT DrawOverlayText(CBasePin* input, IMediaSample* sample, plenor::text::TextRenderer* renderer,
                        std::wstring_view text, const OverlayBox& box, bool acceptVideoInfo2);

// The narrow text converted by mbstowcs in the current locale into out (without allocating);
// empty when it does not convert or does not fit.
std::wstring_view WidenText(std::string_view text, std::span<wchar_t> out);
