// Small helpers over filters and pins used by the graph manager and the diagnostics.
#pragma once

#include <string>
#include <vector>

#include "platform/graph/mtholder.h"
#include "platform/strmbase/strmif.h"

namespace plenor::graph {

// Every pin of a filter, in the filter's order.
std::vector<ComPtr<IPin>> FilterPins(IBaseFilter* filter);
// The pin a pin is connected to, or null.
ComPtr<IPin> ConnectedPeer(IPin* pin);
// The filter that owns a pin (null when the pin does not say).
ComPtr<IBaseFilter> PinFilter(IPin* pin);
bool PinDirection(IPin* pin, PIN_DIRECTION* dir);
std::wstring PinName(IPin* pin);
std::wstring FilterName(IBaseFilter* filter);
// The types a pin offers; *hr receives the enumeration's result (S_OK when it worked, also for
// an empty list).
std::vector<TaskMediaType> OfferedTypes(IPin* pin, HRESULT* hr);
// The object's IUnknown, for identity comparisons.
ComPtr<IUnknown> Identity(IUnknown* p);

}  // namespace plenor::graph
