// Filters used by the strmbase tests: a copy transform and an in-place transform that record the
// hooks the framework calls and run a per-sample script.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/strmbase/transip.h"
#include "tests/support/harness.h"

namespace plenor::test {

PLENOR_GUID(CLSID_RecordingTransform, 0x5b0e1a10, 0x1d2c, 0x4f1e, 0x9a, 0x10, 0x6e, 0x21, 0x33, 0x44, 0x55, 0x01);
PLENOR_GUID(CLSID_RecordingInPlace, 0x5b0e1a10, 0x1d2c, 0x4f1e, 0x9a, 0x10, 0x6e, 0x21, 0x33, 0x44, 0x55, 0x02);

class HookLog {
 public:
  void Add(const std::string& s) {
    std::lock_guard lock(m_Lock);
    m_Calls.push_back(s);
  }
  std::vector<std::string> Calls() {
    std::lock_guard lock(m_Lock);
    return m_Calls;
  }
  void Clear() {
    std::lock_guard lock(m_Lock);
    m_Calls.clear();
  }
  int Count(const std::string& s) {
    std::lock_guard lock(m_Lock);
    int n = 0;
    for (auto& c : m_Calls) n += c == s;
    return n;
  }

 private:
  std::mutex m_Lock;
  std::vector<std::string> m_Calls;
};

// Copy transform: accepts m_inputTypes, offers m_outputTypes from GetMediaType and accepts as
// output only the types in m_acceptedOutputs. Transform copies the input bytes with each byte
// inverted, unless a script is set.
class RecordingTransform : public CTransformFilter {
 public:
  static ComPtr<RecordingTransform> Create() { return ComPtr<RecordingTransform>(new RecordingTransform()); }

  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
  HRESULT CheckConnect(PIN_DIRECTION dir, IPin* pPin) override;
  HRESULT BreakConnect(PIN_DIRECTION dir) override;
  HRESULT CompleteConnect(PIN_DIRECTION dir, IPin* pReceivePin) override;
  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override;
  HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override;

  std::vector<CMediaType> m_inputTypes;
  std::vector<CMediaType> m_outputTypes;
  std::vector<CMediaType> m_acceptedOutputs;
  LONG m_outputBufferSize = 4096;
  std::function<HRESULT(int n, IMediaSample* in, IMediaSample* out)> m_script;
  HookLog m_log;
  std::atomic<int> m_transformCalls{0};
  // Set by StopStreaming: whether the output allocator was already decommitted.
  std::atomic<int> m_outputDecommittedAtStop{-1};
  CMediaType m_lastOutputType;

  bool SampleSkipped() const { return m_bSampleSkipped; }


 private:
  RecordingTransform() : CTransformFilter(L"Recording transform", nullptr, CLSID_RecordingTransform) {}
};

// In-place transform: accepts m_inputTypes (empty: any); Transform inverts every byte unless a
// script is set.
class RecordingInPlace : public CTransInPlaceFilter {
 public:
  static ComPtr<RecordingInPlace> Create(bool modifiesData = false) {
    return ComPtr<RecordingInPlace>(new RecordingInPlace(modifiesData));
  }
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT Transform(IMediaSample* pSample) override;

  std::vector<CMediaType> m_inputTypes;
  std::function<HRESULT(int n, IMediaSample* sample)> m_script;
  std::atomic<int> m_transformCalls{0};
  std::atomic<int> m_checkInputCalls{0};

 private:
  explicit RecordingInPlace(bool modifiesData)
      : CTransInPlaceFilter(L"Recording in-place", nullptr, CLSID_RecordingInPlace, nullptr, modifiesData) {}
};

// Inverts the first len bytes of src into dst.
void InvertBytes(const BYTE* src, BYTE* dst, LONG len);
std::vector<BYTE> Inverted(const std::vector<BYTE>& v);

}  // namespace plenor::test
