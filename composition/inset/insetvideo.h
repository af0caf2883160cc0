// InsetVideoFilter: picture in picture. The picture of "Input 0" (the main picture), resampled to
// "target_width" x "target_height" when both are above 0, with a reduced copy of "Input 1" (the
// sub-picture, "sub_pic_width" x "sub_pic_height") copied in at ("offset_x", "offset_y"), the row
// counted in the inputs' row order (from the bottom edge for bottom-up RGB). "border_width" above
// 0 frames the sub-picture of RGB24 pictures with a 5-pixel green band.
//
// The geometry update replaces sub-picture sizes and offsets that do not fit the output (sizes of
// 0 or less or not smaller than the output: the second input's size, or 0.4 of it when it is
// larger than half the output; offsets below 0 or that push the sub-picture past an edge: 10, 10)
// and writes the values in use back into the parameters. Target sizes whose frame would exceed
// 2 GiB are refused when the output size is computed (the connection fails).
//
// Threads: parameter changes (hosts, the page) run the geometry update under m_csDraw, which the
// streaming thread holds only while it draws; neither waits for the downstream filter.
#pragma once

#include <memory>
#include <vector>

#include "composition/common/compositor.h"
#include "composition/common/mixbase.h"
#include "composition/common/scalers.h"
#include "framework/persist.h"

// {4B6F1E52-9D0A-4E3C-8A51-37C2D9B61E05}
PLENOR_GUID(CLSID_InsetVideoFilter, 0x4b6f1e52, 0x9d0a, 0x4e3c, 0x8a, 0x51, 0x37, 0xc2, 0xd9, 0xb6, 0x1e, 0x05);
// {A2E7C913-5F48-4B0D-9C6E-81D3F4A2B760}
PLENOR_GUID(CLSID_PicInPicProperties, 0xa2e7c913, 0x5f48, 0x4b0d, 0x9c, 0x6e, 0x81, 0xd3, 0xf4, 0xa2, 0xb7, 0x60);

class InsetVideoFilter : public VideoMixingBase, public ISpecifyPropertyPages, public CPersistSettings {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  InsetVideoFilter();
  ~InsetVideoFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  void InitParameters() override;
  // Target sizes cannot change while the output is connected (same text: S_FALSE, other: E_FAIL);
  // otherwise the settings object's write, then the geometry update.
  STDMETHODIMP SetParameter(const char* name, const char* value) override;
  STDMETHODIMP GetParameter(const char* name, int bufferSize, char* value, int* length) override;

  HRESULT ComputeOutputSize(const BITMAPINFOHEADER* first, const BITMAPINFOHEADER* second, int* width, int* height,
                            int* frameSize) override;
  HRESULT CheckOutputType(const CMediaType* pmt) override;

  // For tests: the geometry in use.
  bool HasMainScaler() const { return m_pMainScaler != nullptr; }
  bool HasSubScaler() const { return m_pSubScaler != nullptr; }
  const PicInPicBase* Compositor() const { return m_pCompositor.get(); }

 protected:
  void PrepareWorker(int bits) override;
  void FillOutput(BYTE* out, long long size) override;

 private:
  void UpdateGeometry();
  // A scaler of the working depth in *scaler (replacing one of another depth); false for a depth
  // the scalers do not have.
  bool EnsureScaler(std::unique_ptr<PicScalerBase>* scaler);

  int m_nTargetWidth = 0;
  int m_nTargetHeight = 0;
  int m_nSubPicWidth = 0;
  int m_nSubPicHeight = 0;
  int m_nSubPicOffsetX = 0;
  int m_nSubPicOffsetY = 0;
  int m_nBorderWidth = 0;
  std::unique_ptr<PicInPicBase> m_pCompositor;
  std::unique_ptr<PicScalerBase> m_pMainScaler;
  std::unique_ptr<PicScalerBase> m_pSubScaler;
  std::vector<BYTE> m_pSubFrame;
};
