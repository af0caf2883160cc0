// The test executables link strmbase, whose module entry the linker may pull in (it also provides
// template instantiations other objects need); as a module, a test binary has no creatable
// classes. Weak, so that a test that defines its own table (module entry tests) takes precedence.
#include "platform/strmbase/dllentry.h"

__attribute__((weak)) CFactoryTemplate g_Templates[1] = {{nullptr, &CLSID_NULL, nullptr, nullptr, nullptr}};
__attribute__((weak)) int g_cTemplates = 0;
