// PlenorUtilities.so: the filters a user needs around the suite - sources to feed a graph,
// renderers and writers to take its output, and a sample grabber for tests and hosts.
//
// Short names (used by the CLI), class ids and display names:
//
//   TestPatternSource  CLSID_TestPatternSource  "Plenor Test Pattern Source"  video or audio test signal
//   WavSource          CLSID_WavSource          "Plenor WAV Source"           RIFF/WAVE PCM file (IFileSourceFilter)
//   NullRenderer       CLSID_NullRenderer       "Plenor Null Renderer"        discards samples
//   SampleGrabber      CLSID_SampleGrabber      "Plenor Sample Grabber"       records samples (IPlenorSampleGrabber)
//   FileWriter         CLSID_FileWriter         "Plenor File Writer"          payloads to a file (IFileSinkFilter)
//   ImageWriter        CLSID_ImageWriter        "Plenor Image Writer"         RGB24/RGB32/I420 frames as PNG files
//   WavWriter          CLSID_WavWriter          "Plenor WAV Writer"           PCM audio as a RIFF/WAVE file
//   Queue              CLSID_Queue              "Plenor Queue"                hands samples to a thread of its own
//
// kUtilityFilters lists them for hosts that map short names to class ids. Every filter takes its
// parameters through ISettingsInterface and reports failures through IStatusInterface (last error
// text, naming the file where one is involved).
//
// A test or host reads what a SampleGrabber received through IPlenorSampleGrabber:
//
//   ComPtr<IPlenorSampleGrabber> grabber = filter.As<IPlenorSampleGrabber>();
//   grabber->WaitForSamples(10, 5000);
//   GRABBED_SAMPLE_INFO info{};
//   grabber->GetSampleInfo(0, &info);
//   std::vector<BYTE> bytes(info.lActualLength);
//   grabber->GetSampleData(0, bytes.data(), info.lActualLength, nullptr);
#pragma once

#include "platform/strmbase/strmif.h"

// {FA2FAD18-03E5-4A8B-9462-D45AE1582868}
PLENOR_GUID(CLSID_TestPatternSource, 0xfa2fad18, 0x03e5, 0x4a8b, 0x94, 0x62, 0xd4, 0x5a, 0xe1, 0x58, 0x28, 0x68);
// {DB52E74F-4259-4D41-BD7D-36464E3D1E53}
PLENOR_GUID(CLSID_WavSource, 0xdb52e74f, 0x4259, 0x4d41, 0xbd, 0x7d, 0x36, 0x46, 0x4e, 0x3d, 0x1e, 0x53);
// {AF23C393-E8E3-49BD-A0ED-45F47963C0E6}
PLENOR_GUID(CLSID_NullRenderer, 0xaf23c393, 0xe8e3, 0x49bd, 0xa0, 0xed, 0x45, 0xf4, 0x79, 0x63, 0xc0, 0xe6);
// {04EEE039-5DF6-4101-893E-72F0ED56AAEA}
PLENOR_GUID(CLSID_SampleGrabber, 0x04eee039, 0x5df6, 0x4101, 0x89, 0x3e, 0x72, 0xf0, 0xed, 0x56, 0xaa, 0xea);
// {A45BCC8C-CCC4-4EAA-80D0-8DCE8FF567D5}
PLENOR_GUID(CLSID_FileWriter, 0xa45bcc8c, 0xccc4, 0x4eaa, 0x80, 0xd0, 0x8d, 0xce, 0x8f, 0xf5, 0x67, 0xd5);
// {3468A427-F6C5-41A4-8349-66B5528FF760}
PLENOR_GUID(CLSID_ImageWriter, 0x3468a427, 0xf6c5, 0x41a4, 0x83, 0x49, 0x66, 0xb5, 0x52, 0x8f, 0xf7, 0x60);
// {F6FC1BD6-D7C3-416A-9568-7512CF4EF8EC}
PLENOR_GUID(CLSID_WavWriter, 0xf6fc1bd6, 0xd7c3, 0x416a, 0x95, 0x68, 0x75, 0x12, 0xcf, 0x4e, 0xf8, 0xec);
// {8C9F65C2-C040-4761-8062-F14EA7F87662}
PLENOR_GUID(CLSID_Queue, 0x8c9f65c2, 0xc040, 0x4761, 0x80, 0x62, 0xf1, 0x4e, 0xa7, 0xf8, 0x76, 0x62);

// Property pages (one per filter).
// {2D2DE703-FC3B-47E6-8A07-F968A3ADC721}
PLENOR_GUID(CLSID_TestPatternSourceProperties, 0x2d2de703, 0xfc3b, 0x47e6, 0x8a, 0x07, 0xf9, 0x68, 0xa3, 0xad, 0xc7, 0x21);
// {EB274431-3BD0-4A4C-80C0-0AFFBF70C146}
PLENOR_GUID(CLSID_WavSourceProperties, 0xeb274431, 0x3bd0, 0x4a4c, 0x80, 0xc0, 0x0a, 0xff, 0xbf, 0x70, 0xc1, 0x46);
// {0C62A338-C8A7-4627-9785-5CA877F28290}
PLENOR_GUID(CLSID_NullRendererProperties, 0x0c62a338, 0xc8a7, 0x4627, 0x97, 0x85, 0x5c, 0xa8, 0x77, 0xf2, 0x82, 0x90);
// {C9FAC3DE-85A3-4D56-9469-3AB6E4C28647}
PLENOR_GUID(CLSID_SampleGrabberProperties, 0xc9fac3de, 0x85a3, 0x4d56, 0x94, 0x69, 0x3a, 0xb6, 0xe4, 0xc2, 0x86, 0x47);
// {1A80F313-2BE6-4425-BBBC-5CEFBE29E8E1}
PLENOR_GUID(CLSID_FileWriterProperties, 0x1a80f313, 0x2be6, 0x4425, 0xbb, 0xbc, 0x5c, 0xef, 0xbe, 0x29, 0xe8, 0xe1);
// {A2044F68-4332-4D1C-85CF-85F7F9653353}
PLENOR_GUID(CLSID_ImageWriterProperties, 0xa2044f68, 0x4332, 0x4d1c, 0x85, 0xcf, 0x85, 0xf7, 0xf9, 0x65, 0x33, 0x53);
// {D69D2757-5B54-481E-A17A-D37003A2A87D}
PLENOR_GUID(CLSID_WavWriterProperties, 0xd69d2757, 0x5b54, 0x481e, 0xa1, 0x7a, 0xd3, 0x70, 0x03, 0xa2, 0xa8, 0x7d);
// {636AF98F-1B80-4F6D-B217-61C7833B38F3}
PLENOR_GUID(CLSID_QueueProperties, 0x636af98f, 0x1b80, 0x4f6d, 0xb2, 0x17, 0x61, 0xc7, 0x83, 0x3b, 0x38, 0xf3);

// {7C9053A8-022D-430E-9161-B982ECF7EF73}
PLENOR_GUID(IID_IPlenorSampleGrabber, 0x7c9053a8, 0x022d, 0x430e, 0x91, 0x61, 0xb9, 0x82, 0xec, 0xf7, 0xef, 0x73);
// {3CACEDBD-A9DD-453D-8FAF-5279CB60DE9F}
PLENOR_GUID(IID_IPlenorSampleGrabberCallback, 0x3cacedbd, 0xa9dd, 0x453d, 0x8f, 0xaf, 0x52, 0x79, 0xcb, 0x60, 0xde,
            0x9f);

// One utility filter: the short name the CLI uses, its class id and its registered display name.
struct UtilityFilterName {
  const char* shortName;
  const CLSID* clsid;
  const wchar_t* displayName;
};
inline constexpr UtilityFilterName kUtilityFilters[] = {
    {"TestPatternSource", &CLSID_TestPatternSource, L"Plenor Test Pattern Source"},
    {"WavSource", &CLSID_WavSource, L"Plenor WAV Source"},
    {"NullRenderer", &CLSID_NullRenderer, L"Plenor Null Renderer"},
    {"SampleGrabber", &CLSID_SampleGrabber, L"Plenor Sample Grabber"},
    {"FileWriter", &CLSID_FileWriter, L"Plenor File Writer"},
    {"ImageWriter", &CLSID_ImageWriter, L"Plenor Image Writer"},
    {"WavWriter", &CLSID_WavWriter, L"Plenor WAV Writer"},
    {"Queue", &CLSID_Queue, L"Plenor Queue"},
};

// What the grabber recorded about one sample. Times are those of the sample (valid only where the
// flags say so); lTypeIndex names the media type that applied to it (GetMediaType): 0 is the
// connection type, each type change carried by a sample adds one.
struct GRABBED_SAMPLE_INFO {
  REFERENCE_TIME tStart;
  REFERENCE_TIME tStop;
  LONGLONG tMediaStart;
  LONGLONG tMediaStop;
  BOOL bTimeValid;       // GetTime gave a start time
  BOOL bStopValid;       // ... and a stop time
  BOOL bMediaTimeValid;  // GetMediaTime succeeded
  BOOL bSyncPoint;
  BOOL bPreroll;
  BOOL bDiscontinuity;
  BOOL bTypeChanged;     // the sample carried a new media type
  LONG lActualLength;    // payload bytes (all recorded)
  LONG lTypeIndex;
  LONG lSequence;        // 0-based number of the sample since the last Clear or run start
};

// Optional callback, called on the streaming thread for every sample before it is recorded. The
// sample is borrowed for the call. A failure result is returned to the upstream filter.
struct IPlenorSampleGrabberCallback : IUnknown {
  static constexpr const IID& iid = IID_IPlenorSampleGrabberCallback;
  STDMETHOD(SampleReceived)(IMediaSample* pSample, const AM_MEDIA_TYPE* pType) PURE;

 protected:
  ~IPlenorSampleGrabberCallback() = default;
};

// The grabber's queue. Thread-safe: the streaming thread records while the test or host reads.
struct IPlenorSampleGrabber : IUnknown {
  static constexpr const IID& iid = IID_IPlenorSampleGrabber;
  // Samples recorded so far.
  STDMETHOD(GetSampleCount)(LONG* pCount) PURE;
  // E_INVALIDARG for an index not recorded.
  STDMETHOD(GetSampleInfo)(LONG index, GRABBED_SAMPLE_INFO* pInfo) PURE;
  // Copies min(size, payload) bytes; *pCopied (optional) receives the count.
  STDMETHOD(GetSampleData)(LONG index, BYTE* pBuffer, LONG size, LONG* pCopied) PURE;
  // A deep copy of type number typeIndex into *pmt (free it with FreeMediaType). E_INVALIDARG
  // when there is no such type.
  STDMETHOD(GetMediaType)(LONG typeIndex, AM_MEDIA_TYPE* pmt) PURE;
  // Number of end-of-stream notifications received since the last Clear or run start.
  STDMETHOD(GetEndOfStreamCount)(LONG* pCount) PURE;
  // Waits until at least count samples are recorded: S_OK, or S_FALSE after timeoutMs.
  STDMETHOD(WaitForSamples)(LONG count, DWORD timeoutMs) PURE;
  // Waits for end of stream: S_OK, or S_FALSE after timeoutMs.
  STDMETHOD(WaitForEndOfStream)(DWORD timeoutMs) PURE;
  // Forgets every recorded sample (the connection type stays type 0).
  STDMETHOD(Clear)() PURE;
  // Sets (or with null removes) the callback; the grabber holds a reference.
  STDMETHOD(SetCallback)(IPlenorSampleGrabberCallback* pCallback) PURE;

 protected:
  ~IPlenorSampleGrabber() = default;
};
