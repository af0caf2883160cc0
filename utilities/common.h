// Pieces shared by the utility filters: the interfaces every one of them hands out, property-page
// lists, file-name conversion, and the output file that writers fill under a temporary name and
// rename into place only once it is complete.
#pragma once

#include <cstdint>
#include <string>

#include "framework/settings.h"
#include "framework/status.h"
#include "platform/strmbase/combase.h"
#include "platform/strmbase/strmif.h"
#include "platform/strmbase/wxutil.h"

namespace plenor::utilities {

// The settings object of the utility filters. Reads and writes of parameters through the
// interface are serialised with the filter's own copies of them (taken under m_csParams, on the
// application thread, when it connects or starts streaming), so a host changing a value on one
// thread never tears a text the filter copies on another. The streaming threads only ever see
// those copies.
class CUtilitySettings : public CSettingsInterface {
 public:
  using CSettingsInterface::CSettingsInterface;

  STDMETHODIMP GetParameter(const char* name, int bufferSize, char* value, int* length) override;
  STDMETHODIMP SetParameter(const char* name, const char* value) override;
  STDMETHODIMP GetParameterSettings(char* result, int bufferSize) override;
  bool RevertParameter(const char* name) override;

 protected:
  CCritSec m_csParams;
};

// ISettingsInterface, IStatusInterface and ISpecifyPropertyPages of a utility filter; S_FALSE
// (nothing written) for any other interface id, so the caller goes on with its base class.
HRESULT QueryCommonInterfaces(REFIID riid, void** ppv, CSettingsInterface* settings, CStatusInterface* status,
                              ISpecifyPropertyPages* pages);

// A wide file name as UTF-8, and back into task memory (null when out of memory).
std::string NarrowFileName(LPCOLESTR name);
LPOLESTR TaskWideString(const std::string& text);

// The HRESULT that best describes a failed file operation's errno value.
HRESULT HresultFromErrno(int error);

// A file written under "<target>.part" and renamed to target by Commit. Anything that fails
// leaves no file behind: Abandon (also run by the destructor while the file is open) closes and
// deletes the temporary file. Messages name the target file.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Creates (truncates) the temporary file.
  HRESULT Open(const std::string& target, std::string* error);
  // Appends all n bytes (short writes are continued).
  HRESULT Write(const void* data, size_t n, std::string* error);
  // Overwrites n bytes at offset (the file position is unchanged).
  HRESULT WriteAt(uint64_t offset, const void* data, size_t n, std::string* error);
  // Closes the file (reporting late write errors) and renames it to the target.
  HRESULT Commit(std::string* error);
  // Closes and deletes the temporary file.
  void Abandon();

  bool IsOpen() const { return m_fd >= 0; }
  uint64_t BytesWritten() const { return m_written; }
  const std::string& Target() const { return m_target; }

 private:
  HRESULT Failure(const char* what, int error, std::string* message);
  // Writes all n bytes, appending (offset < 0) or at offset.
  HRESULT WriteAll(const void* data, size_t n, int64_t offset, std::string* error);

  int m_fd = -1;
  uint64_t m_written = 0;
  std::string m_target;
  std::string m_temp;
};

}  // namespace plenor::utilities
