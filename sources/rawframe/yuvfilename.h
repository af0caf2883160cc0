// What the name of a raw YUV file says about its frames, and the "WxH" text of the source's
// "sourcedimensions" parameter. Pure functions over untrusted text (any bytes, any length):
// digit runs are read with saturation, so no name can overflow an integer.
#pragma once

#include <string>
#include <string_view>

namespace rawframe {

struct YuvNameInfo {
  // The name contains "444": packed 4:4:4 frames; otherwise planar 4:2:0.
  bool is444 = false;
  // A size was found (by "qcif", "cif" or digits-x-digits). Not yet checked for being usable.
  bool hasSize = false;
  int width = 0;
  int height = 0;
  // The size came from digits-x-digits; dimensionsText is the two digit runs as written, joined
  // by a lower-case "x" (it becomes the "sourcedimensions" text). Empty for "qcif" and "cif".
  std::string dimensionsText;
};

// The name rules, applied to the full name as given to Load (directories included):
//  1. "444" anywhere selects 4:4:4 (case does not matter for digits);
//  2. the lower-cased name containing "qcif" gives 176 x 144, else containing "cif" gives 352 x 288;
//  3. otherwise the first "x" (either case) with a run of decimal digits directly before and after
//     it gives width and height; an "x" without digits on both sides is skipped.
YuvNameInfo ParseYuvFileName(std::string_view name);

// "sourcedimensions" text: split at the first lower-case "x"; each side is read as a decimal
// integer (leading blanks and a sign allowed, reading stops at the first non-digit, saturating at
// the int range). False when there is no "x"; the values are not range-checked here.
bool ParseDimensions(std::string_view text, int* width, int* height);

}  // namespace rawframe
