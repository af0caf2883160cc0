#include "overlay/common/overlaydraw.h"

#include <cstdlib>
#include <cwchar>

#include "platform/strmbase/uuids.h"

HRESULT DrawOverlayText(CBasePin* input, IMediaSample* sample, plenor::text::TextRenderer* renderer,
                        std::wstring_view text, const OverlayBox& box, bool acceptVideoInfo2) {
  if (!input || !input->IsConnected()) return VFW_E_NOT_CONNECTED;
  const CMediaType& mt = input->CurrentMediaType();
  const BITMAPINFOHEADER* header = nullptr;
  if (*mt.FormatType() == FORMAT_VideoInfo) {
    if (mt.FormatLength() >= sizeof(VIDEOINFOHEADER) && mt.Format())
      header = &reinterpret_cast<const VIDEOINFOHEADER*>(mt.Format())->bmiHeader;
  } else if (acceptVideoInfo2 && *mt.FormatType() == FORMAT_VideoInfo2) {
    if (mt.FormatLength() >= sizeof(VIDEOINFOHEADER2) && mt.Format())
      header = &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.Format())->bmiHeader;
  } else {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  BYTE* buffer = nullptr;
  HRESULT hr = sample->GetPointer(&buffer);
  if (FAILED(hr)) return hr;
  if (!header || !renderer || !buffer) return S_OK;

  const plenor::text::PictureFormat format{header->biWidth, header->biHeight, header->biBitCount,
                                           header->biCompression};
  const LONG length = sample->GetActualDataLength();
  if (length <= 0) return S_OK;
  renderer->Draw(std::span<uint8_t>(buffer, static_cast<size_t>(length)), format, text,
                 {box.x, box.y, box.width, box.height});
  return S_OK;
}

std::wstring_view WidenText(std::string_view text, std::span<wchar_t> out) {
  if (out.empty()) return {};
  // mbsrtowcs stops at a terminating zero: convert from a bounded copy of the narrow text.
  char narrow[512];
  if (text.size() >= sizeof narrow) return {};
  text.copy(narrow, text.size());
  narrow[text.size()] = '\0';
  const char* src = narrow;
  std::mbstate_t state{};
  const size_t n = std::mbsrtowcs(out.data(), &src, out.size(), &state);
  if (n == static_cast<size_t>(-1) || src != nullptr) return {};  // invalid, or did not fit
  return std::wstring_view(out.data(), n);
}
