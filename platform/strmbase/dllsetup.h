// Registration of a module's classes: class keys under HKEY_CLASSES_ROOT and filter entries in the
// filter mapper. DllRegisterServer and DllUnregisterServer (dllentry.h) call
// AMovieDllRegisterServer2 with TRUE and FALSE.
#pragma once

#include "platform/strmbase/dllentry.h"

// Registers (TRUE) or unregisters (FALSE) every template of g_Templates, in this order:
//  1. the module's own path (GetModuleFileName, at most MAX_PATH characters; a longer path fails
//     with HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) instead of registering a cut-off path);
//  2. registering only: per template, "CLSID\{clsid}" (default value: the name) with the subkey
//     "InprocServer32" (default value: the path; "ThreadingModel" = "Both");
//  3. the filter mapper (CLSID_FilterMapper2 / IFilterMapper2, else CLSID_FilterMapper /
//     IFilterMapper): every template with filter setup data is unregistered from the mapper and,
//     when registering, registered again; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) counts as success;
//  4. unregistering only, when all went well: every class key is deleted with its subtree; a key
//     that cannot be deleted does not keep the others, and the first such failure is returned.
// Otherwise the first failure stops the work and is returned; what was written before it stays.
// All registry writes of one call form one transaction, so other processes see all of it or none
// of it.
HRESULT AMovieDllRegisterServer2(BOOL bRegister);

// Step 3 for one filter through either mapper interface.
HRESULT AMovieSetupRegisterFilter2(const AMOVIESETUP_FILTER* psetupdata, IFilterMapper2* pIFM2, BOOL bRegister);
HRESULT AMovieSetupRegisterFilter(const AMOVIESETUP_FILTER* psetupdata, IFilterMapper* pIFM, BOOL bRegister);

// Step 2 for one class: writes "CLSID\{clsServer}" with its server subkey. Returns
// HRESULT_FROM_WIN32 of the first registry error.
HRESULT AMovieSetupRegisterServer(REFCLSID clsServer, LPCWSTR szDescription, LPCWSTR szFileName,
                                  LPCWSTR szThreadingModel = L"Both", LPCWSTR szServerType = L"InprocServer32");
// Step 4 for one class: deletes "CLSID\{clsServer}" and everything under it, subkeys first. A key
// that does not exist is not an error.
HRESULT AMovieSetupUnregisterServer(REFCLSID clsServer);
