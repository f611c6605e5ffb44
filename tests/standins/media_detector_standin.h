// A media detector of our own: an in-process COM server implementing
// IMediaDet, served under CLSID_MediaDet once the test registers it (see
// MediaDetRegistration). The test scripts what it answers and reads back
// what it was asked.
#ifndef DOVRIKNA_TESTS_MEDIA_DETECTOR_STANDIN_H
#define DOVRIKNA_TESTS_MEDIA_DETECTOR_STANDIN_H

#include <windows.h>

#ifdef DOVRIKNA_STANDIN_BUILD
#define STANDIN_API extern "C" __declspec(dllexport)
#else
#define STANDIN_API extern "C" __declspec(dllimport)
#endif

// The method whose result a test scripts with standinFail.
enum StandinStep {
    kStepPutFilename,
    kStepOutputStreams,
    kStepStreamType,      // every get_StreamType call
    kStepStreamMediaType, // every get_StreamMediaType call
    kStepSizeQuery,       // GetBitmapBits without a buffer
    kStepFrame,           // GetBitmapBits with a buffer
    kStepUnopened,        // GetBitmapBits before put_Filename succeeded
    kStepCount
};

// Forgets the script and the log: no streams, every step succeeds.
STANDIN_API void standinReset();
// Appends a stream with its major type, its format type and the width and
// (signed) height of its VIDEOINFOHEADER. withUnknown puts a counted object
// into the media type's pUnk.
STANDIN_API void standinAddStream(const GUID* majorType, const GUID* formatType, LONG width, LONG height,
                                  BOOL withUnknown);
// Makes a step answer hr (the count of get_OutputStreams stays as scripted).
STANDIN_API void standinFail(StandinStep step, HRESULT hr);
// Makes get_OutputStreams answer this count instead of the number of streams.
STANDIN_API void standinSetStreamCount(LONG count);
// Makes the frame call raise a structured exception with this code (0: none)
// after it has written the header.
STANDIN_API void standinRaiseInFrame(DWORD code);
// Makes get_StreamMediaType state this cbFormat (the block stays whole).
STANDIN_API void standinSetFormatBytes(ULONG bytes);
// Bytes that the size query adds to 40 + width x height x 3 (may be negative).
STANDIN_API void standinSetExtraBytes(LONG extra);
// Makes the frame call write this width and height into the header instead
// of those it was asked for (the pixel bytes still follow the asked size).
STANDIN_API void standinOverrideHeader(LONG width, LONG height);

// Makes every video stream as large as the "WxH" after the last '-' of the
// file's name (get_StreamMediaType fails for a name without one), and every
// pixel byte of its frame the low byte of W. Detectors on several threads
// at once may then tell their frames apart.
STANDIN_API void standinSizesFromNames(BOOL on);

// The byte at index i of the pixels the frame call writes, counted without
// the padding that the frame's DIB rows carry (bottom row first, each padded
// to 4 bytes; padding bytes are 0xEE).
inline BYTE standinPixel(size_t i)
{
    return static_cast<BYTE>((i * 7 + i / 251 + 3) & 0xFF);
}

// The calls received, one line each (see the tests for their form).
STANDIN_API int standinLogCount();
STANDIN_API const char* standinLogLine(int index);
// The exact code units of the last name put_Filename received.
STANDIN_API const WCHAR* standinLastFileName();
// Detector objects created, detector objects and pUnk objects still alive.
STANDIN_API int standinCreated();
STANDIN_API int standinAlive();
STANDIN_API int standinUnknownsAlive();
// The format blocks handed out by get_StreamMediaType, in order.
STANDIN_API int standinFormatBlockCount();
STANDIN_API const void* standinFormatBlock(int index);
// The buffer the last frame call wrote into.
STANDIN_API const void* standinLastFrameBuffer();

#endif
