// TimeShiftFilter.so: the timestamp skewing filter and its property page.
#include "platform/strmbase/dllentry.h"
#include "timing/timeshift/timeshift.h"

namespace {
const AMOVIESETUP_FILTER sudTimeShift = {&CLSID_TimeShiftFilter, L"Ravik Plenor Skewing Filter", MERIT_DO_NOT_USE, 0,
                                         nullptr};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Ravik Plenor Skewing Filter", &CLSID_TimeShiftFilter, TimeShiftFilter::CreateInstance, nullptr, &sudTimeShift},
    {L"Skewing Properties", &CLSID_SkewingProperties, SkewingProperties::CreateInstance, nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
