// Streams, persistence and property bags.
#pragma once

#include "platform/com/oleauto.h"

PLENOR_GUID(IID_ISequentialStream, 0x0c733a30, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d);
PLENOR_GUID(IID_IStream, 0x0000000c, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PLENOR_GUID(IID_IPersist, 0x0000010c, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PLENOR_GUID(IID_IPersistStream, 0x00000109, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PLENOR_GUID(IID_IPropertyBag, 0x55272a00, 0x42cb, 0x11ce, 0x81, 0x35, 0x00, 0xaa, 0x00, 0x4b, 0xb8, 0x51);
PLENOR_GUID(IID_IPersistPropertyBag, 0x37d84f60, 0x42cb, 0x11ce, 0x81, 0x35, 0x00, 0xaa, 0x00, 0x4b, 0xb8, 0x51);
PLENOR_GUID(IID_IErrorLog, 0x3127ca40, 0x446e, 0x11ce, 0x81, 0x35, 0x00, 0xaa, 0x00, 0x4b, 0xb8, 0x51);

constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;

constexpr DWORD STATFLAG_DEFAULT = 0;  // Stat fills pwcsName (file streams: the path, task-allocated)
constexpr DWORD STATFLAG_NONAME = 1;
constexpr DWORD STGTY_STREAM = 2;

struct STATSTG {
  LPOLESTR pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
};

struct ISequentialStream : IUnknown {
  static constexpr const IID& iid = IID_ISequentialStream;
  // Reads up to cb bytes; *pcbRead (may be null) gets the count. S_FALSE when fewer were read.
  STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) PURE;
  STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) PURE;

 protected:
  ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
  static constexpr const IID& iid = IID_IStream;
  STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) PURE;
  STDMETHOD(SetSize)(ULARGE_INTEGER newSize) PURE;
  STDMETHOD(CopyTo)(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) PURE;
  STDMETHOD(Commit)(DWORD flags) PURE;
  STDMETHOD(Revert)() PURE;
  STDMETHOD(LockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lockType) PURE;
  STDMETHOD(UnlockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lockType) PURE;
  STDMETHOD(Stat)(STATSTG* pstatstg, DWORD flags) PURE;
  STDMETHOD(Clone)(IStream** ppstm) PURE;

 protected:
  ~IStream() = default;
};
using LPSTREAM = IStream*;

struct IPersist : IUnknown {
  static constexpr const IID& iid = IID_IPersist;
  STDMETHOD(GetClassID)(CLSID* pClassID) PURE;

 protected:
  ~IPersist() = default;
};

struct IPersistStream : IPersist {
  static constexpr const IID& iid = IID_IPersistStream;
  STDMETHOD(IsDirty)() PURE;
  STDMETHOD(Load)(IStream* pStm) PURE;
  STDMETHOD(Save)(IStream* pStm, BOOL fClearDirty) PURE;
  STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pcbSize) PURE;

 protected:
  ~IPersistStream() = default;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  SCODE scode;
};

struct IErrorLog : IUnknown {
  static constexpr const IID& iid = IID_IErrorLog;
  STDMETHOD(AddError)(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) PURE;

 protected:
  ~IErrorLog() = default;
};

struct IPropertyBag : IUnknown {
  static constexpr const IID& iid = IID_IPropertyBag;
  STDMETHOD(Read)(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) PURE;
  STDMETHOD(Write)(LPCOLESTR pszPropName, VARIANT* pVar) PURE;

 protected:
  ~IPropertyBag() = default;
};

struct IPersistPropertyBag : IPersist {
  static constexpr const IID& iid = IID_IPersistPropertyBag;
  STDMETHOD(InitNew)() PURE;
  STDMETHOD(Load)(IPropertyBag* pPropBag, IErrorLog* pErrorLog) PURE;
  STDMETHOD(Save)(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) PURE;

 protected:
  ~IPersistPropertyBag() = default;
};

// Stream implementations of the runtime. A memory stream grows as it is written; a file stream
// reads and writes a file (mode "r": existing file, read only; "w": created or truncated, write
// only; "rw": read and write, created if missing, never truncated). Both start at position 0, take
// 64-bit positions, and their clones share the data (or file) with a position of their own.
// Reads past the end return what there is and S_FALSE; file write failures are STG_E_MEDIUMFULL
// (no space) or STG_E_WRITEFAULT.
PLENOR_EXPORT HRESULT CreateStreamOnMemory(const void* initial, ULONG cb, IStream** ppstm);
PLENOR_EXPORT HRESULT CreateStreamOnFile(const char* path, const char* mode, IStream** ppstm);
// Copies a memory stream's whole contents (any IStream: read from position 0, position kept).
PLENOR_EXPORT HRESULT GetStreamBytes(IStream* pstm, std::string* out);
// A host-side property bag held in memory; names compare without regard to (ASCII) case.
// Write stores a copy of the variant. Read (E_INVALIDARG for a name never written) clears the
// caller's variant and copies the stored one into it with the stored type, whatever type the
// caller's variant had: the bag does not convert.
PLENOR_EXPORT HRESULT CreateMemoryPropertyBag(IPropertyBag** ppBag);
