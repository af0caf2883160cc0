// The filter mapper: the registry of filters with their merits, pins and pin media types, served
// as the built-in classes CLSID_FilterMapper2 (IFilterMapper2) and CLSID_FilterMapper
// (IFilterMapper), and as plain functions for the graph manager and the command-line host.
//
// Entries live in the registry under HKEY_CLASSES_ROOT, one key per filter class:
//
//   Filter\{CLSID}                          default: filter name (REG_SZ)
//                                           "Merit" (REG_DWORD)
//                                           "Category" (REG_SZ, braced GUID; the default filter
//                                           category when registered without one)
//   Filter\{CLSID}\Pins\NNNN                one key per pin in registration order (NNNN: decimal
//                                           index, four digits); default: pin name (may be empty,
//                                           several pins may share a name)
//                                           "Rendered", "Output", "Zero", "Many" (REG_DWORD 0 or 1)
//                                           "ConnectsToFilter" (REG_SZ, braced GUID)
//                                           "ConnectsToPin" (REG_SZ)
//   Filter\{CLSID}\Pins\NNNN\Types\NNNN     one key per media type: "Major", "Sub" (REG_SZ,
//                                           braced GUIDs; GUID_NULL registers a wildcard)
//
// A class has at most one entry: registering it again replaces the entry. Instance names and
// monikers are not modelled. Every change is written in one registry transaction.
#pragma once

#include <string>
#include <vector>

#include "platform/strmbase/strmif.h"

struct RegisteredMediaType {
  GUID majorType = GUID_NULL;
  GUID subType = GUID_NULL;
};

struct RegisteredPin {
  std::wstring name;
  bool rendered = false;
  bool output = false;
  bool zero = false;
  bool many = false;
  CLSID connectsToFilter = CLSID_NULL;
  std::wstring connectsToPin;
  std::vector<RegisteredMediaType> mediaTypes;
};

struct RegisteredFilter {
  CLSID clsid = CLSID_NULL;
  std::wstring name;
  DWORD merit = 0;
  CLSID category = CLSID_NULL;
  std::vector<RegisteredPin> pins;
};

// What EnumMatchingFilters asks for. A filter matches when its merit is at least minMerit and:
// - input side (checked when inputNeeded, render or inputTypes is set): it has an input pin that is
//   rendered if render is set and, if inputTypes is not empty, carries a media type matching one
//   of inputTypes;
// - output side (checked when outputNeeded or outputTypes is set): likewise for an output pin.
// Types match when major and sub each match: a GUID_NULL in the request matches anything, and a
// registered GUID_NULL matches anything unless exactMatch is set.
struct FilterMatchCriteria {
  DWORD minMerit = 0;
  bool exactMatch = false;
  bool inputNeeded = false;
  bool render = false;
  std::vector<RegisteredMediaType> inputTypes;
  bool outputNeeded = false;
  std::vector<RegisteredMediaType> outputTypes;
};

// Every registered filter, highest merit first (then by name, then by class id). Entries that
// cannot be read completely are left out. Returns S_OK (also when there are none) or the
// HRESULT_FROM_WIN32 of a registry failure.
PLENOR_EXPORT HRESULT MapperGetFilters(std::vector<RegisteredFilter>* filters);
// The filters that satisfy criteria, in the same order.
PLENOR_EXPORT HRESULT MapperFindFilters(const FilterMatchCriteria& criteria, std::vector<RegisteredFilter>* filters);
// One filter's entry; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when the class has none.
PLENOR_EXPORT HRESULT MapperGetFilter(REFCLSID clsid, RegisteredFilter* filter);
// Whether a registered filter satisfies criteria (the rule MapperFindFilters applies).
PLENOR_EXPORT bool MapperFilterMatches(const RegisteredFilter& filter, const FilterMatchCriteria& criteria);

// A new mapper object (what CoCreateInstance of CLSID_FilterMapper2 or CLSID_FilterMapper returns).
PLENOR_EXPORT HRESULT CreateFilterMapper(REFIID riid, void** ppv);
