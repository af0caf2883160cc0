// H264EncoderProperties: the property page of AvcEncodeFilter ("Ravik H264 Encoder
// Properties"). It edits the encoder's own parameters and, through the encoder's pass-through,
// the codec's rate-control parameters; values travel as text through ISettingsInterface.
//
// Reading fills the "Mode of operation:" list with "0", "1", "2" (selects the value's item, "0"
// when the value is none of them), sets the spin ranges and shows every value; a failed read of
// any but "mode of operation" and "notifyoniframe" ends it with E_FAIL. The I-picture
// multiplier is shown and never written back. Applying writes, in order, "mode of operation",
// "framebitlimit", "quality", "iframeperiod", "notifyoniframe" ("true"/"false"), "usems264"
// "false" (result ignored), the seven rate-control fields and "h264_output_type" (the index of
// the first checked radio button; nothing when none is checked); the first failure ends it.
// User-interface thread.
#pragma once

#include "framework/propbase.h"
#include "platform/ui/dialogres.h"

constexpr int IDD_H264_ENCODER = 101;
constexpr int IDS_H264_ENCODER_TITLE = 102;
constexpr int IDC_H264_MODE = 1001;
constexpr int IDC_H264_FRAMEBITLIMIT = 1002;
constexpr int IDC_H264_FRAMEBITLIMIT_SPIN = 1003;
constexpr int IDC_H264_QUALITY = 1004;
constexpr int IDC_H264_QUALITY_SPIN = 1005;
constexpr int IDC_H264_IFRAMEPERIOD = 1006;
constexpr int IDC_H264_IFRAMEPERIOD_SPIN = 1007;
constexpr int IDC_H264_IPICMULT = 1008;
constexpr int IDC_H264_IPICMULT_SPIN = 1009;
constexpr int IDC_H264_MAXBITS = 1010;
constexpr int IDC_H264_MAXBITS_SPIN = 1011;
constexpr int IDC_H264_RCFRAMES = 1012;
constexpr int IDC_H264_RCFRAMES_SPIN = 1013;
constexpr int IDC_H264_MAXDIST = 1014;
constexpr int IDC_H264_MAXDIST_SPIN = 1015;
constexpr int IDC_H264_DMAXMULT = 1016;
constexpr int IDC_H264_DMAXMULT_SPIN = 1017;
constexpr int IDC_H264_DMAXFRAC = 1018;
constexpr int IDC_H264_DMAXFRAC_SPIN = 1019;
constexpr int IDC_H264_MININTRAQP = 1020;
constexpr int IDC_H264_MININTRAQP_SPIN = 1021;
constexpr int IDC_H264_MININTERQP = 1022;
constexpr int IDC_H264_MININTERQP_SPIN = 1023;
constexpr int IDC_H264_OVERSHOOT = 1024;
constexpr int IDC_H264_OVERSHOOT_SPIN = 1025;
constexpr int IDC_H264_NOTIFY = 1026;
constexpr int IDC_H264_TYPE_PLENOR = 1027;  // "h264_output_type" 0; 1028 and 1029 follow
constexpr int IDC_H264_TYPE_H264 = 1028;
constexpr int IDC_H264_TYPE_AVC1 = 1029;

class H264EncoderProperties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit H264EncoderProperties(LPUNKNOWN pUnk);

  HRESULT ReadSettings() override;
  HRESULT OnApplyChanges() override;

 private:
  void PrepareControls();
};
