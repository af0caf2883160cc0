// TileMixFilter: joins two videos into one picture without resampling, side by side ("orientation"
// 0: first input on the left) or stacked (any other value: first input above the second in a
// bottom-up picture). While only one input is connected its samples pass through unchanged.
//
// The output is cleared wherever neither picture lands (the band beside a shorter or narrower
// picture, or more when the orientation changed after the size was fixed), with or without flip,
// so no byte of an earlier frame is left in it.
//
// Threads: "orientation" is read when a frame is drawn, under m_csDraw; SetParameter takes the
// same lock.
#pragma once

#include <memory>

#include "composition/common/joiner.h"
#include "composition/common/mixbase.h"
#include "framework/persist.h"

// {D81C5A27-3B64-4F9E-B0A2-6C57E1F8D493}
PLENOR_GUID(CLSID_TileMixFilter, 0xd81c5a27, 0x3b64, 0x4f9e, 0xb0, 0xa2, 0x6c, 0x57, 0xe1, 0xf8, 0xd4, 0x93);
// {5E0B9F3C-C27A-4D81-95E6-2A4B7D03C18F}
PLENOR_GUID(CLSID_VideoMixingProperties, 0x5e0b9f3c, 0xc27a, 0x4d81, 0x95, 0xe6, 0x2a, 0x4b, 0x7d, 0x03, 0xc1, 0x8f);

class TileMixFilter : public VideoMixingBase, public ISpecifyPropertyPages, public CPersistSettings {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  TileMixFilter();
  ~TileMixFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  void InitParameters() override;
  STDMETHODIMP SetParameter(const char* name, const char* value) override;
  STDMETHODIMP GetParameter(const char* name, int bufferSize, char* value, int* length) override;

  // A sample of one input while the other is not connected passes through to the downstream pin.
  HRESULT ReceiveFirst(IMediaSample* pSample) override;
  HRESULT ReceiveSecond(IMediaSample* pSample) override;
  HRESULT ComputeOutputSize(const BITMAPINFOHEADER* first, const BITMAPINFOHEADER* second, int* width, int* height,
                            int* frameSize) override;
  void InputDisconnected(int index) override;
  HRESULT CheckOutputType(const CMediaType* pmt) override;

  const PicConcatBase* Joiner() const { return m_pJoiner.get(); }

 protected:
  void PrepareWorker(int bits) override;
  void FillOutput(BYTE* out, long long size) override;

 private:
  HRESULT ReceiveOrPass(IMediaSample* pSample, int index);

  int m_nOrientation = 0;
  std::unique_ptr<PicConcatBase> m_pJoiner;
};
