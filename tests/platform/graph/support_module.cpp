// Graph test binaries link strmbase for their streaming filters; the linker may pull in its
// module entry, which needs a template table. A test binary creates no classes through it.
#include "platform/strmbase/dllentry.h"

CFactoryTemplate g_Templates[1] = {{nullptr, &CLSID_NULL, nullptr, nullptr, nullptr}};
int g_cTemplates = 0;
