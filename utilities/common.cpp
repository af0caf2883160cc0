#include "utilities/common.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include <fcntl.h>
#include <unistd.h>

#include "platform/com/runtime.h"

namespace plenor::utilities {

STDMETHODIMP CUtilitySettings::GetParameter(const char* name, int bufferSize, char* value, int* length) {
  CAutoLock lock(&m_csParams);
  return CSettingsInterface::GetParameter(name, bufferSize, value, length);
}

STDMETHODIMP CUtilitySettings::SetParameter(const char* name, const char* value) {
  CAutoLock lock(&m_csParams);
  return CSettingsInterface::SetParameter(name, value);
}

STDMETHODIMP CUtilitySettings::GetParameterSettings(char* result, int bufferSize) {
  CAutoLock lock(&m_csParams);
  return CSettingsInterface::GetParameterSettings(result, bufferSize);
}

bool CUtilitySettings::RevertParameter(const char* name) {
  CAutoLock lock(&m_csParams);
  return CSettingsInterface::RevertParameter(name);
}

HRESULT QueryCommonInterfaces(REFIID riid, void** ppv, CSettingsInterface* settings, CStatusInterface* status,
                              ISpecifyPropertyPages* pages) {
  if (riid == IID_ISettingsInterface && settings)
    return GetInterface(static_cast<ISettingsInterface*>(settings), ppv);
  if (riid == IID_IStatusInterface && status) return GetInterface(static_cast<IStatusInterface*>(status), ppv);
  if (riid == IID_ISpecifyPropertyPages && pages) return GetInterface(pages, ppv);
  return S_FALSE;
}

std::string NarrowFileName(LPCOLESTR name) { return name ? WideToUtf8(name) : std::string(); }

LPOLESTR TaskWideString(const std::string& text) {
  std::wstring wide = Utf8ToWide(text);
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(wchar_t)));
  if (out) std::wmemcpy(out, wide.c_str(), wide.size() + 1);
  return out;
}

HRESULT HresultFromErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return STG_E_MEDIUMFULL;
    case EACCES:
    case EPERM:
    case EROFS:
      return E_ACCESSDENIED;
    case ENOENT:
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENOTDIR:
    case ENAMETOOLONG:
      return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case ENOMEM:
      return E_OUTOFMEMORY;
    default:
      return STG_E_WRITEFAULT;
  }
}

OutputFile::~OutputFile() { Abandon(); }

HRESULT OutputFile::Failure(const char* what, int error, std::string* message) {
  if (message) *message = std::string("cannot ") + what + " '" + m_target + "': " + std::strerror(error);
  return HresultFromErrno(error);
}

HRESULT OutputFile::Open(const std::string& target, std::string* error) {
  Abandon();
  m_target = target;
  m_written = 0;
  if (target.empty()) {
    if (error) *error = "no output file name is set";
    return E_INVALIDARG;
  }
  m_temp = target + ".part";
  m_fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (m_fd < 0) return Failure("create", errno, error);
  return S_OK;
}

HRESULT OutputFile::Write(const void* data, size_t n, std::string* error) { return WriteAll(data, n, -1, error); }

HRESULT OutputFile::WriteAt(uint64_t offset, const void* data, size_t n, std::string* error) {
  return WriteAll(data, n, static_cast<int64_t>(offset), error);
}

HRESULT OutputFile::WriteAll(const void* data, size_t n, int64_t offset, std::string* error) {
  if (m_fd < 0) {
    if (error) *error = "'" + m_target + "' is not open for writing";
    return E_UNEXPECTED;
  }
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t done = offset < 0 ? ::write(m_fd, p, n) : ::pwrite(m_fd, p, n, static_cast<off_t>(offset));
    if (done < 0) {
      if (errno == EINTR) continue;
      return Failure("write", errno, error);
    }
    if (done == 0) return Failure("write", ENOSPC, error);
    p += done;
    n -= static_cast<size_t>(done);
    if (offset < 0)
      m_written += static_cast<uint64_t>(done);
    else
      offset += done;
  }
  return S_OK;
}

HRESULT OutputFile::Commit(std::string* error) {
  if (m_fd < 0) {
    if (error) *error = "'" + m_target + "' is not open for writing";
    return E_UNEXPECTED;
  }
  // Late write errors (network file systems) surface at close.
  int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0) {
    int e = errno;
    ::unlink(m_temp.c_str());
    return Failure("write", e, error);
  }
  if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
    int e = errno;
    ::unlink(m_temp.c_str());
    return Failure("rename the finished file to", e, error);
  }
  return S_OK;
}

void OutputFile::Abandon() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
  ::unlink(m_temp.c_str());
}

}  // namespace plenor::utilities
