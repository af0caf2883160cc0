// The test executables link strmbase, whose module entry the linker may pull in (it also provides
// template instantiations other objects need); as a module, a test binary has no creatable
// classes of its own: the timing filters come from their modules.
#include "platform/strmbase/dllentry.h"

__attribute__((weak)) CFactoryTemplate g_Templates[1] = {{nullptr, &CLSID_NULL, nullptr, nullptr, nullptr}};
__attribute__((weak)) int g_cTemplates = 0;
