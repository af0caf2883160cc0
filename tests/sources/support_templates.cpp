// The test executables link strmbase, whose module entry the linker may pull in; as a module, a
// test binary has no creatable classes.
#include "platform/strmbase/dllentry.h"

CFactoryTemplate g_Templates[1] = {{nullptr, &CLSID_NULL, nullptr, nullptr, nullptr}};
int g_cTemplates = 0;
