// The test executables link strmbase, whose module entry may be pulled in by the linker (it also
// provides template instantiations other objects need); as a module, a test binary has no
// creatable classes.
#include "platform/strmbase/dllentry.h"

CFactoryTemplate g_Templates[1] = {{nullptr, &CLSID_NULL, nullptr, nullptr, nullptr}};
int g_cTemplates = 0;
