// CTransInPlaceFilter: a transform that works on each sample where it lies. The connection type
// passes unchanged from input to output; upstream and downstream share one allocator where they
// can, and a sample is copied into the output allocator's buffer only when they differ. Pins
// "Input" and "Output" are created on the first GetPin.
#pragma once

#include "platform/strmbase/transfrm.h"

class CTransInPlaceFilter;

class CTransInPlaceInputPin : public CTransformInputPin {
 public:
  CTransInPlaceInputPin(const wchar_t* pObjectName, CTransInPlaceFilter* pFilter, HRESULT* phr, LPCWSTR pName);

  // The downstream pin's types while the output is connected; otherwise VFW_E_NOT_CONNECTED.
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  // CheckInputType, and the downstream pin's QueryAccept while the output is connected.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  // The downstream allocator while the output is connected (the output then uses it too);
  // otherwise our own.
  STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
  // Passes the upstream allocator on downstream when the output is connected. A read-only
  // allocator of a filter that modifies data is not passed on: the output gets its own.
  STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
  // The downstream pin's requirements while the output is connected.
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;

 protected:
  CTransInPlaceFilter* m_pTIPFilter;
};

class CTransInPlaceOutputPin : public CTransformOutputPin {
 public:
  CTransInPlaceOutputPin(const wchar_t* pObjectName, CTransInPlaceFilter* pFilter, HRESULT* phr, LPCWSTR pName);

  // The upstream pin's types while the input is connected; otherwise VFW_E_NOT_CONNECTED.
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  // CheckInputType, and the upstream pin's QueryAccept while the input is connected.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  // Offers the input's allocator to the downstream pin first (sharing buffers); falls back to the
  // usual negotiation when the downstream pin refuses it or the buffers may not be modified.
  HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) override;

  // Replaces the output allocator (used when the input pin passes an allocator on).
  void SetAllocator(IMemAllocator* pAllocator);

 protected:
  CTransInPlaceFilter* m_pTIPFilter;
};

class CTransInPlaceFilter : public CTransformFilter {
 public:
  // bModifiesData: the filter writes into the buffers (a read-only upstream allocator is then
  // not shared with downstream).
  CTransInPlaceFilter(const wchar_t* pName, LPUNKNOWN pUnk, REFCLSID clsid, HRESULT* phr, bool bModifiesData = true);

  // Creates both pins on the first call (input, then output; if the output cannot be created the
  // input is deleted again). 0: input, 1: output, otherwise null.
  CBasePin* GetPin(int n) override;

  // The type passes through: every output type the input accepts is fine.
  HRESULT CheckTransform(const CMediaType*, const CMediaType*) override { return S_OK; }
  // Never consulted: the output pin offers the upstream pin's types.
  HRESULT GetMediaType(int, CMediaType*) override { return E_UNEXPECTED; }
  // Asks for the input allocator's count, size and alignment (one buffer of one byte while the
  // input is unconnected; count and size at least 1); E_FAIL when granted less.
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProperties) override;
  // VFW_E_NOT_IN_GRAPH outside a graph; asks the graph to reconnect the other pin when it is
  // connected with a different type.
  HRESULT CompleteConnect(PIN_DIRECTION dir, IPin* pReceivePin) override;

  // Streaming thread, under m_csReceive: non-media stream samples pass unchanged; otherwise the
  // sample (or its copy into the output allocator when the allocators differ; E_UNEXPECTED when
  // no copy can be had) goes through Transform: S_OK delivers, S_FALSE drops (EC_QUALITY_CHANGE
  // once per run), a failure is returned upstream.
  HRESULT Receive(IMediaSample* pSample) override;

  // The per-sample work on the sample itself.
  virtual HRESULT Transform(IMediaSample* pSample) = 0;

  CTransInPlaceInputPin* InputPin() const { return static_cast<CTransInPlaceInputPin*>(m_pInput); }
  CTransInPlaceOutputPin* OutputPin() const { return static_cast<CTransInPlaceOutputPin*>(m_pOutput); }

 protected:
  friend class CTransInPlaceInputPin;
  friend class CTransInPlaceOutputPin;

  // A copy of pSource in a buffer of the output allocator (data, length, times, media times,
  // flags, attached type), or null.
  IMediaSample* Copy(IMediaSample* pSource);
  bool UsingDifferentAllocators() const;
  bool TypesMatch();
  // The standard input pin ("Input"), for GetPin (see GetPinMaking); null when out of memory.
  CTransInPlaceInputPin* MakeInPlaceInputPin(HRESULT* phr);

  // The copy-transform form is not used by in-place filters.
  HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }

  bool m_bModifiesData;
};
