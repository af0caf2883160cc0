// Pieces shared by the utility filters: the interfaces every one of them hands out, property-page
// lists, file-name conversion, and the output file the writers use.
#pragma once

#include <cstdint>
#include <string>

#include "framework/settings.h"
#include "framework/status.h"
#include "platform/com/safefile.h"
#include "platform/strmbase/combase.h"
#include "platform/strmbase/strmif.h"
#include "platform/strmbase/wxutil.h"

namespace plenor::utilities {

// The settings object of the utility filters. Reads and writes of parameters through the
// interface are serialised with the filter's own copies of them (taken under m_csParams, on the
// application thread, when it connects or starts streaming), so a host changing a value on one
// thread never tears a text the filter copies on another. The streaming threads only ever see
// those copies.
class CUtilitySettings : public CLockedSettings {
 public:
  explicit CUtilitySettings(IUnknown* pOwner) : CLockedSettings(pOwner, &m_csParams) {}

 protected:
  CCritSec m_csParams;
};

// ISettingsInterface, IStatusInterface and ISpecifyPropertyPages of a utility filter; S_FALSE
// (nothing written) for any other interface id, so the caller goes on with its base class.
HRESULT QueryCommonInterfaces(REFIID riid, void** ppv, CSettingsInterface* settings, CStatusInterface* status,
                              ISpecifyPropertyPages* pages);

// A wide file name as UTF-8 (TaskMemWideString, platform/com/runtime.h, turns it back).
std::string NarrowFileName(LPCOLESTR name);

// The writers' output files (see platform/com/safefile.h): never destroy what is at the path.
using OutputFile = plenor::SafeFileWriter;
using plenor::HresultFromErrno;

}  // namespace plenor::utilities
