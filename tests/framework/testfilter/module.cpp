// The test module PlenorFrameworkTest.so: the inverter filter and its page.
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"
#include "tests/framework/testfilter/inverter.h"

namespace {
const AMOVIESETUP_MEDIATYPE sudTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
const AMOVIESETUP_PIN sudPins[] = {
    {L"XForm In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudTypes},
    {L"XForm Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudTypes},
};
const AMOVIESETUP_FILTER sudFilter = {&CLSID_TestInverter, L"Plenor Test Inverter", MERIT_DO_NOT_USE, 2, sudPins};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Plenor Test Inverter", &CLSID_TestInverter, CTestInverter::CreateInstance, nullptr, &sudFilter},
    {L"Plenor Test Inverter Properties", &CLSID_TestInverterProperties, CTestInverterProperties::CreateInstance,
     nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
