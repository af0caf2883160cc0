// PlenorUtilities.so: the factory-template table (filters first, each followed by its page) and
// the filter setup data.
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"
#include "utilities/pages.h"
#include "utilities/queue.h"
#include "utilities/renderers.h"
#include "utilities/testpattern.h"
#include "utilities/utilities.h"
#include "utilities/wavsource.h"
#include "utilities/writers.h"

using namespace plenor::utilities;

namespace {

const AMOVIESETUP_MEDIATYPE sudVideoTypes[] = {
    {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_ARGB32}, {&MEDIATYPE_Video, &MEDIASUBTYPE_AYUV},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_I420}, {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM},
};
const AMOVIESETUP_MEDIATYPE sudPcm[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_MEDIATYPE sudAny[] = {{&GUID_NULL, &GUID_NULL}};
const AMOVIESETUP_MEDIATYPE sudImages[] = {
    {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_I420}};

const AMOVIESETUP_PIN sudPatternPins[] = {{L"Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 6, sudVideoTypes}};
const AMOVIESETUP_PIN sudWavSourcePins[] = {{L"Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudPcm}};
const AMOVIESETUP_PIN sudAnyInput[] = {{L"In", TRUE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudAny}};
const AMOVIESETUP_PIN sudImageInput[] = {{L"In", TRUE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 3, sudImages}};
const AMOVIESETUP_PIN sudPcmInput[] = {{L"In", TRUE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudPcm}};

// Merits: the sources and writers are chosen by hand; the renderers are never inserted by
// intelligent connection either.
const AMOVIESETUP_FILTER sudTestPattern = {&CLSID_TestPatternSource, L"Plenor Test Pattern Source",
                                           MERIT_DO_NOT_USE, 1, sudPatternPins};
const AMOVIESETUP_FILTER sudWavSource = {&CLSID_WavSource, L"Plenor WAV Source", MERIT_DO_NOT_USE, 1,
                                         sudWavSourcePins};
const AMOVIESETUP_FILTER sudNullRenderer = {&CLSID_NullRenderer, L"Plenor Null Renderer", MERIT_DO_NOT_USE, 1,
                                            sudAnyInput};
const AMOVIESETUP_FILTER sudSampleGrabber = {&CLSID_SampleGrabber, L"Plenor Sample Grabber", MERIT_DO_NOT_USE, 1,
                                             sudAnyInput};
const AMOVIESETUP_FILTER sudFileWriter = {&CLSID_FileWriter, L"Plenor File Writer", MERIT_DO_NOT_USE, 1, sudAnyInput};
const AMOVIESETUP_FILTER sudImageWriter = {&CLSID_ImageWriter, L"Plenor Image Writer", MERIT_DO_NOT_USE, 1,
                                           sudImageInput};
const AMOVIESETUP_FILTER sudWavWriter = {&CLSID_WavWriter, L"Plenor WAV Writer", MERIT_DO_NOT_USE, 1, sudPcmInput};
const AMOVIESETUP_PIN sudQueuePins[] = {{L"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudAny},
                                        {L"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudAny}};
const AMOVIESETUP_FILTER sudQueue = {&CLSID_Queue, L"Plenor Queue", MERIT_DO_NOT_USE, 2, sudQueuePins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Plenor Test Pattern Source", &CLSID_TestPatternSource, CTestPatternSource::CreateInstance, nullptr,
     &sudTestPattern},
    {L"Plenor Test Pattern Source Properties", &CLSID_TestPatternSourceProperties,
     CUtilityProperties::CreateInstance<kTestPatternPage>, nullptr, nullptr},
    {L"Plenor WAV Source", &CLSID_WavSource, CWavSource::CreateInstance, nullptr, &sudWavSource},
    {L"Plenor WAV Source Properties", &CLSID_WavSourceProperties, CUtilityProperties::CreateInstance<kWavSourcePage>,
     nullptr, nullptr},
    {L"Plenor Null Renderer", &CLSID_NullRenderer, CNullRenderer::CreateInstance, nullptr, &sudNullRenderer},
    {L"Plenor Null Renderer Properties", &CLSID_NullRendererProperties,
     CUtilityProperties::CreateInstance<kNullRendererPage>, nullptr, nullptr},
    {L"Plenor Sample Grabber", &CLSID_SampleGrabber, CSampleGrabber::CreateInstance, nullptr, &sudSampleGrabber},
    {L"Plenor Sample Grabber Properties", &CLSID_SampleGrabberProperties,
     CUtilityProperties::CreateInstance<kSampleGrabberPage>, nullptr, nullptr},
    {L"Plenor File Writer", &CLSID_FileWriter, CFileWriter::CreateInstance, nullptr, &sudFileWriter},
    {L"Plenor File Writer Properties", &CLSID_FileWriterProperties,
     CUtilityProperties::CreateInstance<kFileWriterPage>, nullptr, nullptr},
    {L"Plenor Image Writer", &CLSID_ImageWriter, CImageWriter::CreateInstance, nullptr, &sudImageWriter},
    {L"Plenor Image Writer Properties", &CLSID_ImageWriterProperties,
     CUtilityProperties::CreateInstance<kImageWriterPage>, nullptr, nullptr},
    {L"Plenor WAV Writer", &CLSID_WavWriter, CWavWriter::CreateInstance, nullptr, &sudWavWriter},
    {L"Plenor WAV Writer Properties", &CLSID_WavWriterProperties, CUtilityProperties::CreateInstance<kWavWriterPage>,
     nullptr, nullptr},
    {L"Plenor Queue", &CLSID_Queue, CQueueFilter::CreateInstance, nullptr, &sudQueue},
    {L"Plenor Queue Properties", &CLSID_QueueProperties, CUtilityProperties::CreateInstance<kQueuePage>, nullptr,
     nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
