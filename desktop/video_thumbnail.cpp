// getVideoThumbnail0: the first frame of a video through the media detector,
// or through Media Foundation where the detector gives none, and the
// one-entry cache of the last frame grabbed.
#include "com_quenlark_ui_awt_AwtUtil.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "desktop/com_handles.h"
#include "frame/critical_section.h"
#include "frame/failure_log.h"
#include "desktop/guarded_call.h"
#include "desktop/media_detector.h"
#include "desktop/media_foundation.h"
#include "desktop/thumbnail_cache.h"
#include "desktop/thumbnail_fit.h"
#include "frame/java_strings.h"
#include "frame/java_text.h"
#include "frame/jni_scoped.h"

namespace dovrikna {

namespace {

// The last frame grabbed: a 40-byte BITMAPINFOHEADER, then its rows without
// padding (bottom row first, width x 3 bytes each), and the key it came from
// (the caller's path and its file's stamp). The frame and its key change
// together, and only after a grab succeeded. Calls may come from any thread
// and overlap: the lock guards the record and the copy out of it, never a
// decode.
struct ThumbnailCache {
    CriticalSection lock;
    unique_heap_block frameBuffer;
    ThumbnailKey key;
} thumbnailCache;

// COM as the load initialised it, and the thread it was initialised on.
unique_com_apartment comApartment;
DWORD comThread = 0;

void readFrameSize(const void* buffer, std::int32_t& width, std::int32_t& height)
{
    BITMAPINFOHEADER header;
    std::memcpy(&header, buffer, sizeof header);
    width = header.biWidth;
    height = header.biHeight;
}

// --- The code page of the path's wide conversion ---

using CodePageMethodFn = UINT (*)();

UINT threadAnsiCodePage()
{
    return CP_THREAD_ACP;
}

UINT threadLocaleAnsiCodePage()
{
    char text[7] = {};
    const int length = GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text);
    const unsigned codePage = length > 0 ? parseAnsiCodePage(text, sizeof text) : 0;
    return codePage != 0 ? codePage : GetACP();
}

std::atomic<CodePageMethodFn> codePageMethod{nullptr};

} // namespace

UINT conversionCodePage()
{
    CodePageMethodFn method = codePageMethod.load();
    if (!method) {
        OSVERSIONINFOA version;
        ZeroMemory(&version, sizeof version);
        version.dwOSVersionInfoSize = sizeof version;
        GetVersionExA(&version);
        method = chooseCodePageMethod(version.dwPlatformId, version.dwMajorVersion) == CodePageMethod::ThreadAcp
                     ? &threadAnsiCodePage
                     : &threadLocaleAnsiCodePage;
        // Threads that choose at the same time choose alike; the last store wins.
        codePageMethod.exchange(method);
    }
    return method();
}

namespace {

// The path as a BSTR: the media detector takes UTF-16 as it is. Windows 9x
// reads it back in conversionCodePage(), so there a path that code page
// cannot hold exactly would name another file, and fails. Out of memory is a
// failing result, never an exception.
HRESULT makePathBstr(const std::u16string& path, unique_bstr& bstr)
{
    bstr.reset();
    std::string ansi;
    if (!platformHasWideApi() && !ansiFromWide(path, conversionCodePage(), ansi))
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    bstr.reset(SysAllocStringLen(wideOf(path), static_cast<UINT>(path.size())));
    return bstr ? S_OK : E_OUTOFMEMORY;
}

struct FrameCall {
    IMediaDet* detector;
    char* buffer;
    LONG width;
    LONG height;
    HRESULT result;
};

void callFrame(void* context)
{
    auto* frame = static_cast<FrameCall*>(context);
    frame->result = frame->detector->GetBitmapBits(0.0, nullptr, frame->buffer, frame->width, frame->height);
}

// Release order on every return: the media type, the BSTR, then the
// detector (destruction runs against declaration order). cannotGrab tells
// whether the early call below found a detector that grabs no frames at all.
HRESULT grabWithDetector(const std::u16string& path, GrabbedFrame& grabbed, bool& cannotGrab)
{
    com_ptr<IMediaDet> detector;
    HRESULT hr = CoCreateInstance(kClsidMediaDet, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                  kIidMediaDet, reinterpret_cast<void**>(detector.put()));
    if (FAILED(hr)) return hr;
    if (!detector) return E_NOINTERFACE;

    // A detector that grabs no frames at all (Wine's) answers E_NOTIMPL to
    // GetBitmapBits even before it has a file; told that now, the grab skips
    // put_Filename, which opens the file at a cost near that of Media
    // Foundation's whole read in a process's first grab. A detector that can
    // grab answers this call with nothing to fill and no file otherwise, and
    // goes on as ever.
    FrameCall early{detector.get(), nullptr, 0, 0, E_UNEXPECTED};
    cannotGrab = callGuarded(&callFrame, &early) && early.result == E_NOTIMPL;
    if (cannotGrab) return E_NOTIMPL;

    unique_bstr fileName;
    hr = makePathBstr(path, fileName);
    if (FAILED(hr)) return hr;

    hr = detector.get()->put_Filename(fileName.get());
    if (FAILED(hr)) return hr;

    LONG streams = 0;
    hr = detector.get()->get_OutputStreams(&streams);
    if (FAILED(hr)) return hr;
    if (streams <= 0) return kInvalidMediaType;

    // The first video stream is taken and stays the current stream.
    bool found = false;
    for (LONG stream = 0; stream < streams && !found; ++stream) {
        detector.get()->put_CurrentStream(stream);
        GUID majorType = GUID_NULL;
        found = SUCCEEDED(detector.get()->get_StreamType(&majorType)) && IsEqualGUID(majorType, kMediaTypeVideo);
    }
    if (!found) return kInvalidMediaType;

    // Only that stream's format is looked at; a later video stream is not tried.
    ScopedMediaType mediaType;
    const bool described = SUCCEEDED(detector.get()->get_StreamMediaType(mediaType.get()))
                           && IsEqualGUID((*mediaType).formattype, kFormatVideoInfo)
                           && (*mediaType).pbFormat && (*mediaType).cbFormat >= sizeof(VIDEOINFOHEADER);
    if (!described) return kInvalidMediaType;

    VIDEOINFOHEADER format;
    std::memcpy(&format, (*mediaType).pbFormat, sizeof format);
    mediaType.free();
    const LONG width = format.bmiHeader.biWidth;
    const std::int64_t signedHeight = format.bmiHeader.biHeight;
    const std::int64_t absoluteHeight = signedHeight < 0 ? -signedHeight : signedHeight;
    if (absoluteHeight > INT32_MAX) return kInvalidMediaType;
    const LONG height = static_cast<LONG>(absoluteHeight); // a top-down format's height is negative

    LONG needed = 0;
    hr = detector.get()->GetBitmapBits(0.0, &needed, nullptr, width, height);
    if (FAILED(hr)) return hr;
    if (needed < static_cast<LONG>(kFrameHeaderBytes)) return E_UNEXPECTED;

    unique_heap_block buffer(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(needed)));
    if (!buffer) return E_OUTOFMEMORY;

    FrameCall frame{detector.get(), static_cast<char*>(buffer.get()), width, height, E_UNEXPECTED};
    if (!callGuarded(&callFrame, &frame)) return E_OUTOFMEMORY;
    if (FAILED(frame.result)) return frame.result;

    grabbed.buffer = std::move(buffer);
    grabbed.bytes = static_cast<std::size_t>(needed);
    return frame.result;
}

// Set once a new detector answered E_NOTIMPL before it had a file (Wine's
// grabs no frames): it is not made again. A file's own E_NOTIMPL, from any
// later step, concerns that file only.
std::atomic<bool> detectorCannotGrab{false};

// The detector first; where it gives no frame (under Wine it never does, and
// on Windows it has no MP4 reader), Media Foundation for the same path.
HRESULT grabFirstFrame(const std::u16string& path, GrabbedFrame& grabbed)
{
    bool cannotGrab = false;
    const HRESULT hr = detectorCannotGrab.load() ? E_NOTIMPL : grabWithDetector(path, grabbed, cannotGrab);
    if (SUCCEEDED(hr)) return turnAsShown(wideOf(path), grabbed);
    if (cannotGrab) detectorCannotGrab.store(true);
    unique_bstr fileName;
    if (FAILED(makePathBstr(path, fileName))) return hr;
    return grabFirstFrameWithMediaFoundation(fileName.get(), grabbed);
}

// The file's size and last write time, by one attribute query that opens
// nothing; false when the file is gone or cannot be asked.
bool readFileStamp(const std::u16string& path, FileStamp& stamp)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::string ansi;
    const BOOL found = platformHasWideApi()
                           ? GetFileAttributesExW(wideOf(path), GetFileExInfoStandard, &data)
                           : ansiFromWide(path, CP_ACP, ansi)
                                 && GetFileAttributesExA(ansi.c_str(), GetFileExInfoStandard, &data);
    if (!found) return false;
    stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.writeTime = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32)
                      | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

// Copies an unpadded frame into the caller's arrays when it fits; the result
// of the call.
jint copyFrame(const void* frame, jint* size, jbyte* pixels, std::size_t pixelBytes)
{
    std::int32_t width = 0, height = 0;
    readFrameSize(frame, width, height);
    const FitDecision fit = fitFrame(width, height, size[0], size[1], pixelBytes);
    if (fit.copy)
        std::memcpy(pixels, static_cast<const char*>(frame) + kFrameHeaderBytes, framePixelBytes(width, height));
    size[0] = width;
    size[1] = height;
    return fit.result;
}

// The cache lookup, the grab on a miss, and the copy when the frame fits.
// The key is the caller's exact string, as its modified UTF-8, and the
// stamp its file has now: a file replaced or rewritten is grabbed anew, and
// one that is gone is no hit (its grab fails). A file that cannot be stamped
// is grabbed every time and never cached.
jint fetchThumbnail(const std::u16string& path, jint* size, jbyte* pixels, std::size_t pixelBytes)
{
    const std::string key = modifiedUtf8(path);
    FileStamp stamp;
    const bool stamped = readFileStamp(path, stamp);
    if (stamped) {
        const CriticalSection::Hold hold(thumbnailCache.lock);
        if (thumbnailCache.frameBuffer && thumbnailCache.key.matches(key.c_str(), stamp))
            return copyFrame(thumbnailCache.frameBuffer.get(), size, pixels, pixelBytes);
    }

    GrabbedFrame grabbed;
    {
        // A thread without COM (a loader thread, a pool's) gets an apartment
        // for this grab only: CoInitialize succeeds (S_OK, or S_FALSE on a
        // thread with a single-threaded apartment already) and is balanced
        // here. A thread in the multithreaded apartment answers
        // RPC_E_CHANGED_MODE and keeps its apartment as it is.
        unique_com_apartment apartment(SUCCEEDED(CoInitialize(nullptr)));
        if (FAILED(logThumbnailResult(path, grabFirstFrame(path, grabbed)))) return -1;
    }
    // A header that announces more rows than the detector's buffer holds
    // (or a negative size) would make the copy read past it.
    std::int32_t width = 0, height = 0;
    readFrameSize(grabbed.buffer.get(), width, height);
    if (!frameIsReadable(grabbed.bytes, width, height)) return logThumbnailResult(path, E_UNEXPECTED), -1;
    unpadFrameRows(static_cast<unsigned char*>(grabbed.buffer.get()) + kFrameHeaderBytes, width, height);
    const jint result = copyFrame(grabbed.buffer.get(), size, pixels, pixelBytes);

    if (stamped) {
        unique_heap_block previous; // freed after the lock is left
        const CriticalSection::Hold hold(thumbnailCache.lock);
        previous = std::move(thumbnailCache.frameBuffer);
        thumbnailCache.frameBuffer = std::move(grabbed.buffer);
        thumbnailCache.key.assign(key.c_str(), stamp); // a key of 260 bytes or more is not kept
    }
    return result;
}

} // namespace

void initThumbnailCache()
{
    comApartment.reset(SUCCEEDED(CoInitialize(nullptr)));
    comThread = GetCurrentThreadId();
    thumbnailCache.frameBuffer.reset();
    thumbnailCache.key.clear();
}

void releaseThumbnailCache(bool processTerminating)
{
    thumbnailCache.frameBuffer.reset();
    thumbnailCache.key.clear();
    releaseMediaFoundation(processTerminating);
    // CoUninitialize acts on its calling thread. An unload on another thread
    // than the load (a thread that ends the process, a collector's thread)
    // would end a COM use that belongs to that thread's owner, not ours.
    // When the process ends, CoUninitialize destroys COM's apartment window,
    // which waits for ever on a window manager lock that a killed thread
    // held; nor may the owner do it later, among the static destructors.
    if (!processTerminating && GetCurrentThreadId() == comThread)
        comApartment.reset();
    else
        comApartment.release();
}

} // namespace dovrikna

extern "C" JNIEXPORT jint JNICALL Java_com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(
    JNIEnv* env, jclass, jstring path, jintArray size, jbyteArray pixels)
{
    using namespace dovrikna;
    if (!path || !size || !pixels) return logFailure("getVideoThumbnail0", nullptr, "a null argument"), -1;
    // The arrays' real lengths bound what is written: the stated width and
    // height are not trusted as the pixel array's capacity.
    if (env->GetArrayLength(size) < 2) return logFailure("getVideoThumbnail0", nullptr, "a short size"), -1;
    const jsize pixelLength = env->GetArrayLength(pixels);

    ScopedJavaString pathText(env, path);
    ScopedIntArrayElements sizeElements(env, size);
    ScopedByteArrayElements pixelElements(env, pixels);
    jint result = -1;
    if (pathText.ok() && sizeElements.get() && pixelElements.get()) {
        try {
            result = fetchThumbnail(pathText.text(), sizeElements.get(), pixelElements.get(),
                                    pixelLength > 0 ? static_cast<std::size_t>(pixelLength) : 0);
        } catch (...) {
            result = -1; // nothing may unwind into the VM
            logFailure("getVideoThumbnail0", nullptr, "out of memory");
        }
    } else {
        logFailure("getVideoThumbnail0", nullptr,
                   pathText.ok() ? "the VM gave no array elements" : "a path that holds U+0000 or could not be read");
    }
    pixelElements.release();
    sizeElements.release();
    pathText.release();
    return result;
}
