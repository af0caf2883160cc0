// CMediaType: an AM_MEDIA_TYPE that owns its format block (allocated with CoTaskMemAlloc) and its
// pUnk reference, with deep copy and comparison; plus the free functions that create, copy and
// free media type records handed across interfaces.
#pragma once

#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/uuids.h"

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID* majortype);
  // Deep copies; *phr (when given) gets E_OUTOFMEMORY if the format block could not be copied.
  CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr = nullptr);
  CMediaType(const CMediaType& rt, HRESULT* phr = nullptr);
  CMediaType(CMediaType&& rt) noexcept;
  ~CMediaType();

  CMediaType& operator=(const AM_MEDIA_TYPE& rt);
  CMediaType& operator=(const CMediaType& rt);
  CMediaType& operator=(CMediaType&& rt) noexcept;

  // Equal when major type, subtype, format type and the format block bytes are equal.
  bool operator==(const CMediaType& rt) const;
  bool operator!=(const CMediaType& rt) const { return !(*this == rt); }

  // Deep copy; E_OUTOFMEMORY when the format block cannot be allocated (this type is then reset).
  HRESULT Set(const CMediaType& rt);
  HRESULT Set(const AM_MEDIA_TYPE& rt);

  // A type is valid once its major type is set (not GUID_NULL).
  BOOL IsValid() const;

  const GUID* Type() const { return &majortype; }
  void SetType(const GUID* ptype) { majortype = *ptype; }
  const GUID* Subtype() const { return &subtype; }
  void SetSubtype(const GUID* ptype) { subtype = *ptype; }
  const GUID* FormatType() const { return &formattype; }
  void SetFormatType(const GUID* pformattype) { formattype = *pformattype; }

  BOOL IsFixedSize() const { return bFixedSizeSamples; }
  BOOL IsTemporalCompressed() const { return bTemporalCompression; }
  ULONG GetSampleSize() const;
  // A nonzero size marks the samples fixed-size; 0 marks them variable-size.
  void SetSampleSize(ULONG sz);
  void SetVariableSize();
  void SetTemporalCompression(BOOL bCompressed) { bTemporalCompression = bCompressed; }

  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }
  // Copies length bytes into a new format block; FALSE when out of memory.
  BOOL SetFormat(const BYTE* pFormat, ULONG length);
  // Frees the format block (cbFormat 0, pbFormat null).
  void ResetFormatBuffer();
  // A zero-filled format block of length bytes replacing the current one (null on failure).
  BYTE* AllocFormatBuffer(ULONG length);
  // Resizes the format block keeping min(old, new) bytes; new bytes are zero. Null on failure
  // (the old block is kept).
  BYTE* ReallocFormatBuffer(ULONG length);

  // Frees everything and sets the initial values: all GUIDs null, fixed-size samples of 1 byte.
  void InitMediaType();

  // TRUE when every GUID of ppartial that is not GUID_NULL equals ours and, when ppartial has a
  // format type, the format blocks are equal.
  BOOL MatchesPartial(const CMediaType* ppartial) const;
  // TRUE when the major type or format type is GUID_NULL (the subtype may legitimately be null
  // only together with those).
  BOOL IsPartiallySpecified() const;
};

// Allocates a copy of *pSrc with CoTaskMemAlloc (null when out of memory or pSrc is null).
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc);
// Deep copy into *pmtTarget, which must not own a format block. E_OUTOFMEMORY on failure
// (*pmtTarget is then left without a format block).
HRESULT CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource);
// Frees the format block and pUnk of mt (the record itself stays).
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a record made by CreateMediaType (or an enumerator) and its format block. Null is ignored.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// Fills *pmt as MEDIATYPE_Audio / PCM (wave tag) with a WAVEFORMATEX format block (when bSetFormat).
HRESULT CreateAudioMediaType(const WAVEFORMATEX* pwfx, AM_MEDIA_TYPE* pmt, BOOL bSetFormat);
