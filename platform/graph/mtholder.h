// Owning holders for media types handed out by pins: a task-allocated AM_MEDIA_TYPE from an
// enumerator, or a record filled by ConnectionMediaType.
#pragma once

#include <memory>

#include "platform/strmbase/mtype.h"

namespace plenor::graph {

struct TaskMediaTypeDeleter {
  void operator()(AM_MEDIA_TYPE* p) const { DeleteMediaType(p); }
};
// A media type allocated with CoTaskMemAlloc (IEnumMediaTypes::Next).
using TaskMediaType = std::unique_ptr<AM_MEDIA_TYPE, TaskMediaTypeDeleter>;

// An AM_MEDIA_TYPE record whose format block this holder frees.
class HeldMediaType {
 public:
  HeldMediaType() = default;
  ~HeldMediaType() { FreeMediaType(m_mt); }
  HeldMediaType(const HeldMediaType&) = delete;
  HeldMediaType& operator=(const HeldMediaType&) = delete;
  AM_MEDIA_TYPE* operator&() { return &m_mt; }
  const AM_MEDIA_TYPE& operator*() const { return m_mt; }
  const AM_MEDIA_TYPE* Get() const { return &m_mt; }

 private:
  AM_MEDIA_TYPE m_mt{};
};

}  // namespace plenor::graph
