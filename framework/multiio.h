// CMultiIOBaseFilter: the suite's base for filters with more than one input or output pin. It
// owns and numbers the pins ("Input 0", "Input 1", ..., "Output 0", ...), routes every pin event
// to one filter-level hook carrying the pin's index, keeps the accepted type lists, stamps output
// samples from input samples (InitializeOutputSample) and passes end of stream and flushes
// downstream through a COutputQueue, which has its own thread only when the downstream pin can
// block.
//
// A concrete filter fills the type lists and calls CreatePins() at the end of its constructor:
//
//   class CTwoIn : public CMultiIOBaseFilter {
//    public:
//     CTwoIn() : CMultiIOBaseFilter(L"two in", CLSID_TwoIn) { CreatePins(); InitParameters(); }
//     int InitialInputPinCount() override { return 2; }
//     void InitialiseInputTypes() override { AddAcceptedType(m_acceptedInputTypes, &MEDIATYPE_Video, nullptr, nullptr); }
//     ...
//   };
//
// Locks: m_csFilter is the lock of CBaseFilter and of every pin (connections, state changes);
// m_csReceive is held by each input pin's Receive for the whole processing of a sample, so the
// inputs are served strictly one at a time. Where both are taken, m_csFilter comes first.
// EndOfStream takes no lock.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "framework/settings.h"
#include "framework/status.h"
#include "platform/strmbase/amfilter.h"
#include "platform/strmbase/outputq.h"

// One row of an accepted-type list; a null pointer matches any value.
struct AcceptedMediaType {
  const GUID* majorType;
  const GUID* subType;
  const GUID* formatType;
};

// True when a row of the list matches the type's major type, subtype and format type.
bool MatchesAcceptedType(const std::vector<AcceptedMediaType*>& list, const AM_MEDIA_TYPE& mt);

class CMultiIOBaseFilter;

class CMultiIOInputPin : public CBaseInputPin {
 public:
  CMultiIOInputPin(CMultiIOBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName, int nIndex);

  // The pin counts its own references (it does not forward them to the filter).
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override { return CUnknown::NonDelegatingAddRef(); }
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override { return CUnknown::NonDelegatingRelease(); }

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  HRESULT BreakConnect() override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
  // Upstream streaming thread: takes the receive lock, runs the framework checks, then the
  // filter's ReceiveSample.
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

  int Index() const { return m_nPinIndex; }

 protected:
  CMultiIOBaseFilter* m_pMultiIOFilter;
  int m_nPinIndex;
};

class CMultiIOOutputPin : public CBaseOutputPin {
 public:
  CMultiIOOutputPin(CMultiIOBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName, int nIndex);
  ~CMultiIOOutputPin() override;

  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override { return CUnknown::NonDelegatingAddRef(); }
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override { return CUnknown::NonDelegatingRelease(); }

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  // The filter's GetOutputMediaType once input 0 or input 1 is connected; VFW_S_NO_MORE_ITEMS before.
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;

  // Create / delete the output queue (under the pin's lock).
  HRESULT Active() override;
  HRESULT Inactive() override;

  // Through the queue; S_OK and nothing sent while there is none.
  HRESULT Deliver(IMediaSample* pSample) override;
  HRESULT DeliverEndOfStream() override;
  HRESULT DeliverBeginFlush() override;
  HRESULT DeliverEndFlush() override;
  HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

  int Index() const { return m_nPinIndex; }
  // True while a queue exists (for tests and diagnostics).
  bool HasQueue() const { return m_pOutputQueue != nullptr; }
  bool QueueHasThread() const { return m_pOutputQueue && m_pOutputQueue->HasThread(); }

 protected:
  CMultiIOBaseFilter* m_pMultiIOFilter;
  int m_nPinIndex;
  std::unique_ptr<COutputQueue> m_pOutputQueue;
};

class CMultiIOBaseFilter : public CBaseFilter, public CSettingsInterface, public CStatusInterface {
 public:
  CMultiIOBaseFilter(const wchar_t* pName, REFCLSID clsid);
  ~CMultiIOBaseFilter() override;

  DECLARE_IUNKNOWN
  // ISettingsInterface, IStatusInterface, then CBaseFilter's interfaces.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Inputs first, then outputs; null outside.
  int GetPinCount() override;
  CBasePin* GetPin(int n) override;
  // "Input N" / "Output N" (the number read after one separator character): VFW_E_NOT_FOUND for
  // another prefix or no number, E_OUTOFMEMORY for a number that selects no pin.
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
  const AMOVIESETUP_FILTER* GetSetupData() override { return nullptr; }

  // Hooks, each with the pin's index among the pins of its direction.
  virtual HRESULT CheckInputType(const CMediaType* pmt);
  virtual void PinConnected(int index, PIN_DIRECTION direction);
  virtual void InputDisconnected(int index);
  virtual HRESULT ReceiveSample(IMediaSample* pSample, int inputIndex) = 0;
  // An empty output sample from output pin outputIndex's allocator carrying the stamps of the
  // sample being received on inputIndex. *ppOut receives the sample (the caller's reference).
  virtual HRESULT InitializeOutputSample(IMediaSample* pIn, IMediaSample** ppOut, int inputIndex, int outputIndex);
  virtual int InitialInputPinCount() { return 1; }
  virtual int InitialOutputPinCount() { return 1; }
  virtual bool CanAddInputPin() { return false; }
  virtual bool CanAddOutputPin() { return false; }
  virtual void InitialiseInputTypes() = 0;
  virtual void InitialiseOutputTypes() = 0;
  virtual HRESULT DecideOutputBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp, int outputIndex) = 0;
  virtual HRESULT CheckOutputType(const CMediaType* pmt);
  virtual HRESULT GetOutputMediaType(int position, CMediaType* pmt, int outputIndex) = 0;
  virtual HRESULT SetPinMediaType(PIN_DIRECTION direction, const CMediaType* pmt, int index);
  virtual HRESULT InputEndOfStream(int index);
  virtual HRESULT InputBeginFlush(int index);
  virtual HRESULT InputEndFlush(int index);
  virtual HRESULT InputNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate, int index);

  int InputPinCount() const { return static_cast<int>(m_inputPins.size()); }
  int OutputPinCount() const { return static_cast<int>(m_outputPins.size()); }
  CMultiIOInputPin* InputPin(int i) const { return i >= 0 && i < InputPinCount() ? m_inputPins[i] : nullptr; }
  CMultiIOOutputPin* OutputPin(int i) const { return i >= 0 && i < OutputPinCount() ? m_outputPins[i] : nullptr; }
  CCritSec* ReceiveLock() { return &m_csReceive; }

 protected:
  void CreatePins();
  void AddInputPin();
  void AddOutputPin();
  // Appends a row to an accepted-type list (the GUIDs must be static constants).
  static void AddAcceptedType(std::vector<AcceptedMediaType*>& list, const GUID* major, const GUID* sub,
                              const GUID* format);
  bool InputConnected(int i) const { return InputPin(i) && InputPin(i)->IsConnected(); }
  bool OutputConnected(int i) const { return OutputPin(i) && OutputPin(i)->IsConnected(); }

  std::vector<CMultiIOInputPin*> m_inputPins;
  std::vector<CMultiIOOutputPin*> m_outputPins;
  std::map<int, CMediaType> m_inputMediaTypes;
  CCritSec m_csFilter;
  CCritSec m_csReceive;
  bool m_bPinsCreated = false;
  std::vector<AcceptedMediaType*> m_acceptedInputTypes;
  std::vector<AcceptedMediaType*> m_acceptedOutputTypes;
};
