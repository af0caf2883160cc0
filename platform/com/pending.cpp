// Temporary entry points for the parts of the runtime still being written (streams and
// property bags). Each answers "not implemented" so that dependants can link meanwhile.
#include "platform/com/objidl.h"
#include "platform/com/runtime.h"

HRESULT CreateStreamOnMemory(const void*, ULONG, IStream** ppstm) {
  if (ppstm) *ppstm = nullptr;
  return E_NOTIMPL;
}
HRESULT CreateStreamOnFile(const char*, const char*, IStream** ppstm) {
  if (ppstm) *ppstm = nullptr;
  return E_NOTIMPL;
}
HRESULT GetStreamBytes(IStream*, std::string*) { return E_NOTIMPL; }
HRESULT CreateMemoryPropertyBag(IPropertyBag** ppBag) {
  if (ppBag) *ppBag = nullptr;
  return E_NOTIMPL;
}
