#include "utilities/common.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include <fcntl.h>
#include <unistd.h>

#include "platform/com/runtime.h"

namespace plenor::utilities {

HRESULT QueryCommonInterfaces(REFIID riid, void** ppv, CSettingsInterface* settings, CStatusInterface* status,
                              ISpecifyPropertyPages* pages) {
  if (riid == IID_ISettingsInterface && settings)
    return GetInterface(static_cast<ISettingsInterface*>(settings), ppv);
  if (riid == IID_IStatusInterface && status) return GetInterface(static_cast<IStatusInterface*>(status), ppv);
  if (riid == IID_ISpecifyPropertyPages && pages) return GetInterface(pages, ppv);
  return S_FALSE;
}

std::string NarrowFileName(LPCOLESTR name) { return name ? WideToUtf8(name) : std::string(); }

}  // namespace plenor::utilities
