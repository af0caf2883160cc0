// UTF-8 <-> wide (UTF-32 wchar_t) conversion used inside the runtime. Not exported.
#pragma once

#include <string>
#include <string_view>

namespace plenor {

// Decodes UTF-8 into wide characters. Malformed sequences become U+FFFD, or make the call fail
// (false, out unchanged) when strict is set.
bool DecodeUtf8(std::string_view in, std::wstring* out, bool strict);
// Encodes wide characters as UTF-8; values that are not Unicode scalar values become U+FFFD.
void EncodeUtf8(std::wstring_view in, std::string* out);

}  // namespace plenor
