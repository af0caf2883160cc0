#include "tests/platform/strmbase/support_filters.h"

#include <algorithm>

namespace plenor::test {

void InvertBytes(const BYTE* src, BYTE* dst, LONG len) {
  for (LONG i = 0; i < len; i++) dst[i] = static_cast<BYTE>(~src[i]);
}

std::vector<BYTE> Inverted(const std::vector<BYTE>& v) {
  std::vector<BYTE> r(v.size());
  InvertBytes(v.data(), r.data(), static_cast<LONG>(v.size()));
  return r;
}

namespace {
bool Contains(const std::vector<CMediaType>& list, const CMediaType* mt) {
  return std::any_of(list.begin(), list.end(), [mt](const CMediaType& t) { return t == *mt; });
}
const char* Dir(PIN_DIRECTION d) { return d == PINDIR_INPUT ? "in" : "out"; }
}  // namespace

HRESULT RecordingTransform::CheckInputType(const CMediaType* mtIn) {
  m_log.Add("CheckInputType");
  return Contains(m_inputTypes, mtIn) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT RecordingTransform::CheckTransform(const CMediaType*, const CMediaType* mtOut) {
  m_log.Add("CheckTransform");
  return Contains(m_acceptedOutputs, mtOut) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT RecordingTransform::GetMediaType(int iPosition, CMediaType* pMediaType) {
  if (iPosition < 0) return E_INVALIDARG;
  if (static_cast<size_t>(iPosition) >= m_outputTypes.size()) return VFW_S_NO_MORE_ITEMS;
  *pMediaType = m_outputTypes[static_cast<size_t>(iPosition)];
  return S_OK;
}

HRESULT RecordingTransform::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
  m_log.Add(std::string("SetMediaType(") + Dir(direction) + ")");
  if (direction == PINDIR_OUTPUT) m_lastOutputType = *pmt;
  return S_OK;
}

HRESULT RecordingTransform::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  m_log.Add("DecideBufferSize");
  pProp->cBuffers = std::max<LONG>(pProp->cBuffers, 2);
  pProp->cbBuffer = m_outputBufferSize;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAlloc->SetProperties(pProp, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < m_outputBufferSize ? E_FAIL : S_OK;
}

HRESULT RecordingTransform::CheckConnect(PIN_DIRECTION dir, IPin*) {
  m_log.Add(std::string("CheckConnect(") + Dir(dir) + ")");
  return S_OK;
}

HRESULT RecordingTransform::BreakConnect(PIN_DIRECTION dir) {
  m_log.Add(std::string("BreakConnect(") + Dir(dir) + ")");
  return S_OK;
}

HRESULT RecordingTransform::CompleteConnect(PIN_DIRECTION dir, IPin*) {
  m_log.Add(std::string("CompleteConnect(") + Dir(dir) + ")");
  return S_OK;
}

HRESULT RecordingTransform::StartStreaming() {
  m_log.Add("StartStreaming");
  return S_OK;
}

HRESULT RecordingTransform::StopStreaming() {
  m_log.Add("StopStreaming");
  IMediaSample* probe = nullptr;
  HRESULT hr = m_pOutput->PeekAllocator()->GetBuffer(&probe, nullptr, nullptr, AM_GBF_NOWAIT);
  if (probe) probe->Release();
  m_outputDecommittedAtStop = hr == VFW_E_NOT_COMMITTED ? 1 : 0;
  return S_OK;
}

HRESULT RecordingTransform::Transform(IMediaSample* pIn, IMediaSample* pOut) {
  int n = m_transformCalls++;
  if (m_script) return m_script(n, pIn, pOut);
  BYTE* src = nullptr;
  BYTE* dst = nullptr;
  pIn->GetPointer(&src);
  pOut->GetPointer(&dst);
  LONG len = std::min(pIn->GetActualDataLength(), pOut->GetSize());
  InvertBytes(src, dst, len);
  pOut->SetActualDataLength(len);
  return S_OK;
}

HRESULT RecordingInPlace::CheckInputType(const CMediaType* mtIn) {
  m_checkInputCalls++;
  if (!mtIn) return E_INVALIDARG;
  if (m_inputTypes.empty() || Contains(m_inputTypes, mtIn)) return S_OK;
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT RecordingInPlace::Transform(IMediaSample* pSample) {
  int n = m_transformCalls++;
  if (m_script) return m_script(n, pSample);
  BYTE* p = nullptr;
  pSample->GetPointer(&p);
  InvertBytes(p, p, pSample->GetActualDataLength());
  return S_OK;
}

}  // namespace plenor::test
