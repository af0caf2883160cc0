#include "platform/graph/pinutil.h"

namespace plenor::graph {

std::vector<ComPtr<IPin>> FilterPins(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> e;
  if (!filter || FAILED(filter->EnumPins(&e)) || !e) return pins;
  for (;;) {
    IPin* p = nullptr;
    ULONG got = 0;
    if (e->Next(1, &p, &got) != S_OK || got != 1 || !p) {
      if (p) p->Release();
      break;
    }
    pins.push_back(ComPtr<IPin>::Attach(p));
  }
  return pins;
}

ComPtr<IPin> ConnectedPeer(IPin* pin) {
  ComPtr<IPin> peer;
  if (pin && FAILED(pin->ConnectedTo(&peer))) peer = nullptr;
  return peer;
}

ComPtr<IBaseFilter> PinFilter(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info))) return nullptr;
  return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

bool PinDirection(IPin* pin, PIN_DIRECTION* dir) { return pin && SUCCEEDED(pin->QueryDirection(dir)); }

std::wstring PinName(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info))) return L"?";
  if (info.pFilter) info.pFilter->Release();
  info.achName[MAX_PIN_NAME - 1] = L'\0';
  return info.achName;
}

std::wstring FilterName(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (!filter || FAILED(filter->QueryFilterInfo(&info))) return L"?";
  if (info.pGraph) info.pGraph->Release();
  info.achName[MAX_FILTER_NAME - 1] = L'\0';
  return info.achName;
}

std::vector<TaskMediaType> OfferedTypes(IPin* pin, HRESULT* hr) {
  std::vector<TaskMediaType> types;
  ComPtr<IEnumMediaTypes> e;
  HRESULT h = pin ? pin->EnumMediaTypes(&e) : E_POINTER;
  if (SUCCEEDED(h) && !e) h = E_POINTER;
  if (SUCCEEDED(h)) {
    h = S_OK;
    // A pin offering an endless list is cut off rather than hanging the caller.
    for (int i = 0; i < 256; ++i) {
      AM_MEDIA_TYPE* mt = nullptr;
      ULONG got = 0;
      HRESULT n = e->Next(1, &mt, &got);
      if (n != S_OK || got != 1 || !mt) {
        DeleteMediaType(mt);
        if (FAILED(n)) h = n;
        break;
      }
      types.emplace_back(mt);
    }
  }
  if (hr) *hr = h;
  return types;
}

ComPtr<IUnknown> Identity(IUnknown* p) {
  ComPtr<IUnknown> id;
  if (p) p->QueryInterface(IID_IUnknown, id.AsOut());
  return id;
}

}  // namespace plenor::graph
