// Memory and file streams.
//
// Clones share the data (a memory buffer, or an open file) and keep a position of their own.
// Positions are 64-bit; a file stream reads and writes at its position with pread/pwrite, so
// clones on several threads never disturb each other's positions.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/objidl.h"
#include "platform/com/refcounted.h"
#include "platform/com/runtime.h"

namespace {

constexpr ULONGLONG kMaxPosition = static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max());
constexpr ULONG kCopyChunk = 64 * 1024;

// New position for a Seek, or false when it would be negative or beyond 64-bit offsets.
bool SeekTarget(ULONGLONG current, ULONGLONG size, LARGE_INTEGER move, DWORD origin, ULONGLONG* out) {
  ULONGLONG base;
  switch (origin) {
    case STREAM_SEEK_SET:
      base = 0;
      break;
    case STREAM_SEEK_CUR:
      base = current;
      break;
    case STREAM_SEEK_END:
      base = size;
      break;
    default:
      return false;
  }
  std::int64_t delta = move.QuadPart;
  if (delta < 0) {
    auto back = static_cast<ULONGLONG>(-(delta + 1)) + 1;  // no overflow for INT64_MIN
    if (back > base) return false;
    *out = base - back;
  } else {
    auto forward = static_cast<ULONGLONG>(delta);
    if (base > kMaxPosition || forward > kMaxPosition - base) return false;
    *out = base + forward;
  }
  return true;
}

// Creates a stream object into *ppstm (the caller's reference).
template <class Stream, class... Args>
HRESULT NewStream(IStream** ppstm, Args&&... args) {
  if (!ppstm) return E_POINTER;
  *ppstm = nullptr;
  try {
    *ppstm = new Stream(std::forward<Args>(args)...);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// The parts every runtime stream shares: copying, and the operations without meaning here.
class StreamBase : public plenor::RefCounted<IStream> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return QueryChain(riid, ppv, IID_ISequentialStream, IID_IStream);
  }

  STDMETHODIMP CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                      ULARGE_INTEGER* pcbWritten) override {
    if (pcbRead) pcbRead->QuadPart = 0;
    if (pcbWritten) pcbWritten->QuadPart = 0;
    if (!pstm) return E_POINTER;
    try {
      std::vector<BYTE> buffer(static_cast<size_t>(std::min<ULONGLONG>(cb.QuadPart, kCopyChunk)));
      ULONGLONG remaining = cb.QuadPart, totalRead = 0, totalWritten = 0;
      HRESULT hr = S_OK;
      while (remaining > 0) {
        auto chunk = static_cast<ULONG>(std::min<ULONGLONG>(remaining, buffer.size()));
        ULONG got = 0;
        hr = Read(buffer.data(), chunk, &got);
        if (FAILED(hr)) break;
        totalRead += got;
        ULONG put = 0;
        if (got > 0) {
          hr = pstm->Write(buffer.data(), got, &put);
          totalWritten += put;
          if (FAILED(hr)) break;
        }
        remaining -= got;
        if (got < chunk) break;  // end of this stream
      }
      if (pcbRead) pcbRead->QuadPart = totalRead;
      if (pcbWritten) pcbWritten->QuadPart = totalWritten;
      return FAILED(hr) ? hr : S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return S_OK; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
};

// ---- memory streams ---------------------------------------------------------------------------

struct MemoryBuffer {
  std::mutex lock;
  std::vector<BYTE> bytes;
};

class MemoryStream final : public StreamBase {
 public:
  MemoryStream(std::shared_ptr<MemoryBuffer> buffer, ULONGLONG position)
      : m_buffer(std::move(buffer)), m_position(position) {}

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pcbRead) *pcbRead = 0;
    if (!pv && cb) return E_POINTER;
    std::lock_guard lock(m_buffer->lock);
    const auto& bytes = m_buffer->bytes;
    ULONG n = 0;
    if (m_position < bytes.size()) n = static_cast<ULONG>(std::min<ULONGLONG>(cb, bytes.size() - m_position));
    if (n) std::memcpy(pv, bytes.data() + m_position, n);
    m_position += n;
    if (pcbRead) *pcbRead = n;
    return n < cb ? S_FALSE : S_OK;
  }

  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv && cb) return E_POINTER;
    if (cb == 0) return S_OK;
    std::lock_guard lock(m_buffer->lock);
    auto& bytes = m_buffer->bytes;
    if (m_position > kMaxPosition - cb || m_position + cb > bytes.max_size()) return STG_E_MEDIUMFULL;
    auto end = static_cast<size_t>(m_position + cb);
    try {
      if (end > bytes.size()) bytes.resize(end);  // a gap before the position reads as zeros
    } catch (const std::bad_alloc&) {
      return STG_E_MEDIUMFULL;
    } catch (const std::length_error&) {
      return STG_E_MEDIUMFULL;
    }
    std::memcpy(bytes.data() + m_position, pv, cb);
    m_position = end;
    if (pcbWritten) *pcbWritten = cb;
    return S_OK;
  }

  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    std::lock_guard lock(m_buffer->lock);
    ULONGLONG target;
    if (!SeekTarget(m_position, m_buffer->bytes.size(), move, origin, &target)) return STG_E_INVALIDFUNCTION;
    m_position = target;
    if (newPosition) newPosition->QuadPart = target;
    return S_OK;
  }

  STDMETHODIMP SetSize(ULARGE_INTEGER newSize) override {
    std::lock_guard lock(m_buffer->lock);
    if (newSize.QuadPart > m_buffer->bytes.max_size()) return STG_E_MEDIUMFULL;
    try {
      m_buffer->bytes.resize(static_cast<size_t>(newSize.QuadPart));
    } catch (const std::bad_alloc&) {
      return STG_E_MEDIUMFULL;
    } catch (const std::length_error&) {
      return STG_E_MEDIUMFULL;
    }
    return S_OK;
  }

  STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
    if (!stat) return E_POINTER;
    std::lock_guard lock(m_buffer->lock);
    std::memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = m_buffer->bytes.size();
    return S_OK;
  }

  STDMETHODIMP Clone(IStream** ppstm) override {
    std::lock_guard lock(m_buffer->lock);
    return NewStream<MemoryStream>(ppstm, m_buffer, m_position);
  }

 private:
  std::shared_ptr<MemoryBuffer> m_buffer;
  ULONGLONG m_position;  // guarded by m_buffer->lock
};

// ---- file streams -----------------------------------------------------------------------------

struct OpenFile {
  int fd = -1;
  std::string path;
  bool canRead = false;
  bool canWrite = false;
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
};

HRESULT WriteError(int err) {
  return err == ENOSPC || err == EDQUOT || err == EFBIG ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
}

class FileStream final : public StreamBase {
 public:
  FileStream(std::shared_ptr<OpenFile> file, ULONGLONG position) : m_file(std::move(file)), m_position(position) {}

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pcbRead) *pcbRead = 0;
    if (!pv && cb) return E_POINTER;
    if (!m_file->canRead) return STG_E_ACCESSDENIED;
    std::lock_guard lock(m_lock);
    ULONG done = 0;
    HRESULT hr = S_OK;
    while (done < cb) {
      if (m_position + done > kMaxPosition) break;
      ssize_t n = ::pread(m_file->fd, static_cast<BYTE*>(pv) + done, cb - done,
                          static_cast<off_t>(m_position + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        hr = STG_E_READFAULT;
        break;
      }
      if (n == 0) break;  // end of file
      done += static_cast<ULONG>(n);
    }
    m_position += done;
    if (pcbRead) *pcbRead = done;
    if (FAILED(hr)) return hr;
    return done < cb ? S_FALSE : S_OK;
  }

  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv && cb) return E_POINTER;
    if (!m_file->canWrite) return STG_E_ACCESSDENIED;
    std::lock_guard lock(m_lock);
    if (m_position > kMaxPosition - cb) return STG_E_MEDIUMFULL;
    ULONG done = 0;
    HRESULT hr = S_OK;
    while (done < cb) {
      ssize_t n = ::pwrite(m_file->fd, static_cast<const BYTE*>(pv) + done, cb - done,
                           static_cast<off_t>(m_position + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        hr = WriteError(errno);
        break;
      }
      if (n == 0) {
        hr = STG_E_WRITEFAULT;
        break;
      }
      done += static_cast<ULONG>(n);
    }
    m_position += done;
    if (pcbWritten) *pcbWritten = done;
    return hr;
  }

  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    std::lock_guard lock(m_lock);
    ULONGLONG size = 0;
    if (origin == STREAM_SEEK_END) {
      struct stat st{};
      if (::fstat(m_file->fd, &st) != 0) return STG_E_READFAULT;
      size = static_cast<ULONGLONG>(st.st_size);
    }
    ULONGLONG target;
    if (!SeekTarget(m_position, size, move, origin, &target)) return STG_E_INVALIDFUNCTION;
    m_position = target;
    if (newPosition) newPosition->QuadPart = target;
    return S_OK;
  }

  STDMETHODIMP SetSize(ULARGE_INTEGER newSize) override {
    if (!m_file->canWrite) return STG_E_ACCESSDENIED;
    if (newSize.QuadPart > kMaxPosition) return STG_E_MEDIUMFULL;
    while (::ftruncate(m_file->fd, static_cast<off_t>(newSize.QuadPart)) != 0) {
      if (errno != EINTR) return WriteError(errno);
    }
    return S_OK;
  }

  // Makes what was written durable.
  STDMETHODIMP Commit(DWORD) override {
    if (!m_file->canWrite) return S_OK;
    if (::fdatasync(m_file->fd) != 0 && errno != EINVAL && errno != EROFS) return WriteError(errno);
    return S_OK;
  }

  STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override {
    if (!stat) return E_POINTER;
    std::memset(stat, 0, sizeof *stat);
    struct stat st{};
    if (::fstat(m_file->fd, &st) != 0) return STG_E_READFAULT;
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = static_cast<ULONGLONG>(st.st_size);
    if (!(flags & STATFLAG_NONAME)) {
      stat->pwcsName = TaskMemWideString(m_file->path);
      if (!stat->pwcsName) return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  STDMETHODIMP Clone(IStream** ppstm) override {
    std::lock_guard lock(m_lock);
    return NewStream<FileStream>(ppstm, m_file, m_position);
  }

 private:
  std::shared_ptr<OpenFile> m_file;
  std::mutex m_lock;
  ULONGLONG m_position;  // guarded by m_lock
};

HRESULT OpenError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return STG_E_FILENOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return STG_E_ACCESSDENIED;
    case ENOSPC:
    case EDQUOT:
      return STG_E_MEDIUMFULL;
    default:
      return E_FAIL;
  }
}

}  // namespace

HRESULT CreateStreamOnMemory(const void* initial, ULONG cb, IStream** ppstm) {
  if (!ppstm) return E_POINTER;
  *ppstm = nullptr;
  if (!initial && cb) return E_POINTER;
  try {
    auto buffer = std::make_shared<MemoryBuffer>();
    if (cb) buffer->bytes.assign(static_cast<const BYTE*>(initial), static_cast<const BYTE*>(initial) + cb);
    return NewStream<MemoryStream>(ppstm, std::move(buffer), 0ULL);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CreateStreamOnFile(const char* path, const char* mode, IStream** ppstm) {
  if (!ppstm) return E_POINTER;
  *ppstm = nullptr;
  if (!path || !mode || !*path) return E_INVALIDARG;
  std::string m(mode);
  int flags;
  bool canRead = false, canWrite = false;
  if (m == "r") {
    flags = O_RDONLY;
    canRead = true;
  } else if (m == "w") {
    flags = O_WRONLY | O_CREAT | O_TRUNC;
    canWrite = true;
  } else if (m == "rw") {
    flags = O_RDWR | O_CREAT;
    canRead = canWrite = true;
  } else {
    return E_INVALIDARG;
  }
  try {
    auto file = std::make_shared<OpenFile>();
    do {
      file->fd = ::open(path, flags | O_CLOEXEC, 0666);
    } while (file->fd < 0 && errno == EINTR);
    if (file->fd < 0) return OpenError(errno);
    struct stat st{};
    if (::fstat(file->fd, &st) != 0) return OpenError(errno);
    if (S_ISDIR(st.st_mode)) return STG_E_ACCESSDENIED;
    file->path = path;
    file->canRead = canRead;
    file->canWrite = canWrite;
    return NewStream<FileStream>(ppstm, std::move(file), 0ULL);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT GetStreamBytes(IStream* pstm, std::string* out) {
  if (!pstm || !out) return E_POINTER;
  try {
    ULARGE_INTEGER saved{};
    LARGE_INTEGER zero{};
    HRESULT hr = pstm->Seek(zero, STREAM_SEEK_CUR, &saved);
    if (FAILED(hr)) return hr;
    hr = pstm->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    std::string bytes;
    char chunk[16 * 1024];
    for (;;) {
      ULONG got = 0;
      hr = pstm->Read(chunk, sizeof chunk, &got);
      if (FAILED(hr)) break;
      bytes.append(chunk, got);
      if (got < sizeof chunk) break;
    }
    LARGE_INTEGER back{};
    back.QuadPart = static_cast<LONGLONG>(saved.QuadPart);
    HRESULT restored = pstm->Seek(back, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    if (FAILED(restored)) return restored;
    *out = std::move(bytes);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
