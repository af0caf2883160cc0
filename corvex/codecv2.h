// The Corvex H.264 codec library (libcorvex.so): the one header the suite includes.
//
// Modules using it link the CMake target corvex (include "corvex/codecv2.h"); they never see the
// encoder and decoder underneath (OpenH264).
//
// A CorvexFactory, made on the stack around each use, hands out codec instances answering
// ICodecv2 and takes them back. One instance either encodes or decodes (see Open). Instances are
// not thread-safe: the owner serialises its calls on one instance; separate instances may be used
// from separate threads.
//
// Calls return int: nonzero is success, 0 failure; after a failure GetErrorText() names what was
// refused (the parameter, the value, the size, the limit) and what to do. Texts end in NUL.
// No exception leaves the library.
//
// Byte streams: every NAL unit written by Code starts with the 4-byte start code 00 00 00 01, the
// first one at offset 0; Decode takes NAL units each led by a 3- or 4-byte start code.
//
// Pictures ("incolour" for Code, "outcolour" for Decode):
//   0   RGB24: width x height pixels of 3 bytes (blue, green, red), rows of exactly 3 x width
//       bytes; with "flip" 1 the first row in memory is the bottom row of the picture (bitmap
//       order), with "flip" 0 the top row. The colour arithmetic is the suite's own (kernels/):
//       RGB24 to 4:2:0 and 4:2:0 to RGB24 with chroma offset 128, so a decoded RGB24 picture is
//       byte for byte what the suite's I420-to-RGB24 converter makes of the decoded 4:2:0 planes.
//   16  planar YUV 4:2:0 (I420): the Y plane (width x height), then U, then V (width/2 x height/2
//       each), top row first, no padding: width x height x 3 / 2 bytes. "flip" does not apply.
//
// Parameters (SetParameter takes decimal text, flags also "true"/"false"; GetParameter writes
// decimal text of fewer than 256 bytes, terminating zero included, so a 256-byte value buffer
// always suffices). An unknown name, a read-only name, a value that is not a whole decimal number
// or one outside the range is refused (0) and GetErrorText() names the parameter and the range.
// Changes to encoder parameters take effect at the next Open.
//
// | Name                       | Range    | Default | Meaning                                       |
// |----------------------------|----------|---------|-----------------------------------------------|
// | "width", "height"          | 0..4096  | 0       | picture size in pixels: even, at least 16, at |
// |                            |          |         | most 9437184 pixels (4096x2304) when opened.  |
// |                            |          |         | Decoder: the size of the                      |
// |                            |          |         | pictures Decode writes; left at 0 it is taken |
// |                            |          |         | from the first sequence parameter set, and a  |
// |                            |          |         | set of another size than the one given is     |
// |                            |          |         | refused (the caller's buffers are that size). |
// | "incolour"                 | 0, 16    | 0       | picture form given to Code (above)            |
// | "outcolour"                | 0, 16    | 0       | picture form written by Decode (above)        |
// | "flip"                     | 0..1     | 0       | 1: RGB24 pictures are bottom-up rows          |
// | "quality"                  | 0..51    | 26      | H.264 quantiser; lower is better and larger.  |
// |                            |          |         | Mode 0: the quantiser of every picture;       |
// |                            |          |         | mode 2: the lowest quantiser rate control may |
// |                            |          |         | use; mode 1: not used                         |
// | "mode of operation"        | 0..2     | 1       | 0 constant quantiser ("quality");             |
// |                            |          |         | 1 bit-rate control: "max bits per frame" on   |
// |                            |          |         | average over every "num rate control frames"  |
// |                            |          |         | pictures, quantiser within the limits below;  |
// |                            |          |         | 2 quality-capped bit rate: as 1, but never a  |
// |                            |          |         | quantiser below "quality", so easy pictures   |
// |                            |          |         | spend fewer bits than the target              |
// | "max bits per frame"       | 1..      | 1000000 | modes 1 and 2: target bits per picture        |
// |                            | 2^31-1   |         | (average; the bit limit of Code is the hard   |
// |                            |          |         | cap)                                          |
// | "num rate control frames"  | 1..1000  | 25      | modes 1 and 2: the rate-control window in     |
// |                            |          |         | pictures; also the nominal picture rate       |
// |                            |          |         | (pictures per second) written to the stream's |
// |                            |          |         | rate control, so the target bit rate is       |
// |                            |          |         | max bits per frame x this per second          |
// | "minimum intra qp"         | 0..51    | 0       | modes 1 and 2: lowest quantiser of any        |
// | "minimum inter qp"         | 0..51    | 0       | picture is the larger of these two (the       |
// |                            |          |         | underlying encoder has one lower bound for    |
// |                            |          |         | all pictures, so both limits are kept)        |
// | "rate overshoot percent"   | 0..1000  | 100     | modes 1 and 2: the peak bit rate may exceed   |
// |                            |          |         | the target by this many percent               |
// | "switchframeperiod"        | 0..65535 | 0       | intra period: an intra picture every          |
// | "ipicturemultiplier"       | 0..65535 | 1       | switchframeperiod x ipicturemultiplier        |
// |                            |          |         | pictures; 0 in either: only the first picture |
// |                            |          |         | (and Restart) is intra                        |
// | "autoipicture"             | 0..1     | 0       | 1: a scene change is coded as intra picture   |
// | "ipicturefraction"         | 0..100   | 0       | intra pictures' bit budget in modes 1 and 2,  |
// |                            |          |         | in percent more than an inter picture's       |
// |                            |          |         | (0: the encoder's own choice)                 |
// | "seq param set"            | 0        | 0       | identifier of the sequence parameter set the  |
// | "pic param set"            | 0        | 0       | stream uses / of the picture parameter set;   |
// |                            |          |         | the encoder writes identifier 0 only          |
// | "generate param set on     | 0..1     | 0       | 1: Code writes the SPS and the PPS in band    |
// |  open"                     |          |         | before every intra picture, so that a         |
// |                            |          |         | start-code stream is playable on its own;     |
// |                            |          |         | 0: pictures only                              |
// | "picture coding type"      | 0, 2, 3  | 0       | what Code writes: 0 a picture; 2 the sequence |
// |                            |          |         | parameter set; 3 the picture parameter set (2 |
// |                            |          |         | and 3 need no picture and no Open; they write |
// |                            |          |         | the sets the next Open will use)              |
// | "last pic coding type"     | read     | 1       | type of the last picture Code wrote: 0 intra, |
// |                            | only     |         | 1 inter                                       |
// | "parameters"               | read     |         | number of names GetParameterName lists        |
// |                            | only     |         |                                               |
// | "usems264", "max           | any text |         | kept only for compatibility: accepted and     |
// |  distortion", "ipicture    |          |         | stored; no effect on the stream               |
// |  dmax multiplier",         |          |         |                                               |
// |  "ipicture dmax fraction", |          |         |                                               |
// |  "unrestrictedmotion",     |          |         |                                               |
// |  "extendedpicturetype",    |          |         |                                               |
// |  "advancedintracoding",    |          |         |                                               |
// |  "alternativeintervlc",    |          |         |                                               |
// |  "modifiedquant"           |          |         |                                               |
//
// Streams are H.264 constrained baseline (CAVLC, no B pictures, one slice per picture, one
// reference picture), so every picture comes out of Decode as soon as its data goes in.
#pragma once

#if defined(CORVEX_BUILD)
#define CORVEX_API __attribute__((visibility("default")))
#else
#define CORVEX_API
#endif

// Decode results: both are successes.
constexpr int CORVEX_PICTURE = 1;     // a picture was completed and written to the output
constexpr int CORVEX_NO_PICTURE = 2;  // units were taken (SPS, PPS, SEI, ...), nothing written

// Longest value text GetParameter writes, terminating zero included.
constexpr int CORVEX_MAX_VALUE = 256;

class ICodecv2 {
 public:
  // Never called; holds the first table slot.
  virtual int Reserved1() = 0;
  // Writes the value of a parameter as text into pValue (room for CORVEX_MAX_VALUE bytes) and its
  // length, without the terminating zero, into *pnLength.
  virtual int GetParameter(const char* pszName, int* pnLength, char* pValue) = 0;
  // Name number nIndex (0 to the value of "parameters" - 1); the text stays owned by the codec.
  virtual int GetParameterName(int nIndex, const char** ppszName, int* pnLength) = 0;
  virtual int SetParameter(const char* pszName, const char* pszValue) = 0;
  // Text of the last failure, owned by the codec (empty before any).
  virtual const char* GetErrorText() = 0;
  // Nonzero once Open succeeded (until Close).
  virtual int IsReady() = 0;
  // Never called; holds the slot after IsReady.
  virtual int Reserved2() = 0;
  // Bytes written by the last Code (0 after a failure).
  virtual int GetCompressedLength() = 0;
  // Never called; holds the slot after GetCompressedLength.
  virtual int Reserved3() = 0;
  // The next picture Code writes is an intra picture.
  virtual int Restart() = 0;
  // Starts with the parameters set so far. An instance that has taken parameter sets through
  // Decode since it was made (or closed) opens as a decoder; any other opens as an encoder.
  // Opening an open instance opens it again with the current parameters.
  virtual int Open() = 0;
  virtual int Close() = 0;
  // Writes at most nBitLimit bits (nBitLimit / 8 bytes) of byte stream to pOut: a picture coded
  // from pPicture ("picture coding type" 0, needs Open), or the SPS or PPS (types 2 and 3,
  // pPicture may be null). When the coded picture does not fit the limit nothing is written, the
  // call fails and the next picture is intra (so that a decoder never misses a reference).
  virtual int Code(const unsigned char* pPicture, unsigned char* pOut, int nBitLimit) = 0;
  // Decodes nBitLength / 8 bytes of start-code-led NAL units. Parameter sets are absorbed; a
  // completed picture is written to pPicture in the "outcolour" form at the output size and
  // CORVEX_PICTURE returned; CORVEX_NO_PICTURE when nothing was written; 0 on failure (broken
  // data, a picture of another size than the output size).
  virtual int Decode(const unsigned char* pData, int nBitLength, unsigned char* pPicture) = 0;

 protected:
  // Instances are destroyed only by CorvexFactory::ReleaseCodecInstance.
  ~ICodecv2() = default;
};

class CORVEX_API CorvexFactory {
 public:
  // A new codec instance, or null when it cannot be made.
  ICodecv2* GetCodecInstance();
  // Frees an instance from GetCodecInstance (null is ignored).
  void ReleaseCodecInstance(ICodecv2* pCodec);
};
