// Named, typed filter parameters read and written as text.
//
// A filter binds each of its tunable values to a parameter name in InitParameters (AddParameter);
// hosts, property pages and the persistence code then read and write them by name through
// ISettingsInterface. Five types exist: signed and unsigned 32-bit integers, flags, real numbers
// and text. Values cross the interface as narrow text: integers in decimal, flags as "1"/"0"
// (GetParameterSettings shows "true"/"false"), real numbers in fixed notation with two decimals.
//
// Threads: no lock is taken. Calls come from the host's or the page's thread while the streaming
// thread may read the bound variables; each filter decides how it takes a changed value.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "framework/guids.h"
#include "platform/com/unknown.h"
#include "platform/strmbase/wxutil.h"

struct ISettingsInterface : IUnknown {
  static constexpr const IID& iid = IID_ISettingsInterface;

  // Writes the parameter's current value and a terminating zero into value (bufferSize bytes) and
  // its length without the terminator into *length. E_FAIL for an unknown name, E_OUTOFMEMORY
  // (nothing written) when the text does not fit with its terminator.
  STDMETHOD(GetParameter)(const char* name, int bufferSize, char* value, int* length) PURE;
  // Parses value by the parameter's type and stores it. E_FAIL for an unknown name, a read-only
  // parameter, a value outside the allowed list or a flag text other than 1/0/TRUE/FALSE/true/false.
  STDMETHOD(SetParameter)(const char* name, const char* value) PURE;
  // One line "Parameter name: <name> Value: <value>\r\n" per parameter, grouped by type (signed,
  // unsigned, text, flag, real) and sorted by name within a group. E_FAIL (nothing written) when
  // the text does not fit with its terminator.
  STDMETHOD(GetParameterSettings)(char* result, int bufferSize) PURE;

 protected:
  ~ISettingsInterface() = default;
};

// The settings object mixed into every filter class. It supplies ISettingsInterface as a separate
// subobject whose IUnknown operations forward to the filter's controlling IUnknown, so the filter
// keeps one identity and one reference count. The filter's NonDelegatingQueryInterface hands out
// static_cast<ISettingsInterface*>(this) for IID_ISettingsInterface.
//
// The bound variables belong to the filter and must outlive every use of this object.
class CSettingsInterface : public ISettingsInterface {
 public:
  // pOwner: the filter's controlling IUnknown (CUnknown::GetOwner()); not reference-counted.
  explicit CSettingsInterface(IUnknown* pOwner);
  CSettingsInterface(const CSettingsInterface&) = delete;
  CSettingsInterface& operator=(const CSettingsInterface&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetParameter(const char* name, int bufferSize, char* value, int* length) override;
  STDMETHODIMP SetParameter(const char* name, const char* value) override;
  STDMETHODIMP GetParameterSettings(char* result, int bufferSize) override;

  virtual ~CSettingsInterface();

  // Writes the value the parameter held before its last successful SetParameter back into the
  // bound variable. False for an unknown name or when no set has happened yet. The previous value
  // stays recorded, so reverting twice writes the same value twice.
  virtual bool RevertParameter(const char* name);

  // Registers every parameter of the filter. The concrete filter's constructor calls it once,
  // after all base classes are constructed.
  virtual void InitParameters() = 0;

 protected:
  // The text GetParameterSettings writes, for a filter that appends to it. Its length is the
  // text's own: a text value may hold zero bytes, so the first zero is not where the text ends.
  HRESULT ParameterListing(std::string* text) const;

  // Registration. The name's type becomes the overload's type even when the name exists; a name
  // already registered with this type keeps its variable and value (the default is not applied).
  // Otherwise the variable is bound, the default assigned, and the read-only flag and allowed
  // values (empty: any value) recorded. A null variable registers nothing.
  virtual void AddParameter(const std::string& name, double* variable, double defaultValue, bool readOnly = false,
                            std::vector<double> allowed = {});
  virtual void AddParameter(const std::string& name, bool* variable, bool defaultValue, bool readOnly = false,
                            std::vector<bool> allowed = {});
  virtual void AddParameter(const std::string& name, std::string* variable, std::string defaultValue,
                            bool readOnly = false, std::vector<std::string> allowed = {});
  virtual void AddParameter(const std::string& name, unsigned int* variable, unsigned int defaultValue,
                            bool readOnly = false, std::vector<unsigned int> allowed = {});
  virtual void AddParameter(const std::string& name, int* variable, int defaultValue, bool readOnly = false,
                            std::vector<int> allowed = {});

 private:
  enum class ParamType { Text = 0, Int = 1, UInt = 2, Flag = 3, Real = 4 };

  template <class T>
  struct Store {
    std::map<std::string, T*> variables;
    std::map<std::string, T> previous;
    std::map<std::string, bool> readOnly;
    std::map<std::string, std::vector<T>> allowed;
  };

  template <class T>
  void Register(ParamType type, Store<T>& store, const std::string& name, T* variable, T defaultValue, bool readOnly,
                std::vector<T>&& allowed);
  template <class T>
  static HRESULT StoreValue(Store<T>& store, const std::string& name, const T& value);
  template <class T>
  static bool Revert(Store<T>& store, const std::string& name);
  // The current value as text; false when the name has no entry in its type's store.
  bool FormatValue(const std::string& name, ParamType type, bool flagWords, std::string* text) const;

  IUnknown* const m_pOwner;
  std::map<std::string, ParamType> m_types;
  Store<std::string> m_text;
  Store<int> m_int;
  Store<unsigned int> m_uint;
  Store<bool> m_flag;
  Store<double> m_real;
};

// The settings object of a filter whose interface calls must not race its own use of the bound
// variables: every ISettingsInterface call and RevertParameter runs under a lock the filter owns
// (its state lock, which its streaming thread takes too). The lock is recursive, so a filter's
// own override may hold it and call these. pLock must outlive this object; it is only used after
// construction, so a member of the filter declared after this base may be passed.
class CLockedSettings : public CSettingsInterface {
 public:
  CLockedSettings(IUnknown* pOwner, CCritSec* pLock) : CSettingsInterface(pOwner), m_pSettingsLock(pLock) {}

  STDMETHODIMP GetParameter(const char* name, int bufferSize, char* value, int* length) override;
  STDMETHODIMP SetParameter(const char* name, const char* value) override;
  STDMETHODIMP GetParameterSettings(char* result, int bufferSize) override;
  bool RevertParameter(const char* name) override;

 private:
  CCritSec* const m_pSettingsLock;
};

// Copies text and its terminator into a narrow buffer of bufferSize bytes when it fits; false
// (buffer untouched) when text.size() is not smaller than bufferSize. Shared by the settings and
// status objects, whose buffers follow this one rule.
bool CopyTextToBuffer(const std::string& text, char* buffer, int bufferSize);
