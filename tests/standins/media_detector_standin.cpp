// The scripted media detector: an in-process COM server whose one class
// answers IMediaDet as the test's script says and logs every call.
#define DOVRIKNA_STANDIN_BUILD
#include "standins/media_detector_standin.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/media_detector.h"

using dovrikna::IMediaDet;

namespace {

struct Stream {
    GUID majorType;
    GUID formatType;
    LONG width;
    LONG height;
    bool withUnknown;
};

struct Script {
    std::vector<Stream> streams;
    HRESULT results[kStepCount] = {};
    bool countSet = false; // otherwise the number of streams
    LONG streamCount = 0;
    DWORD raiseCode = 0;
    LONG extraBytes = 0;
    bool formatBytesSet = false;
    ULONG formatBytes = 0;
    bool overrideHeader = false;
    LONG headerWidth = 0, headerHeight = 0;
    bool sizesFromNames = false;
} script;

// Detectors on several threads at once share the log and the records.
std::mutex records;
std::vector<std::string> callLog;
std::wstring lastFileName;
std::vector<const void*> formatBlocks;
const void* lastFrameBuffer = nullptr;
std::atomic<int> created{0}, alive{0}, unknownsAlive{0};

void log(const std::string& line)
{
    std::lock_guard<std::mutex> hold(records);
    callLog.push_back(line);
}

// The "WxH" of a name such as L"C:\\v\\clip-64x48.avi"; false when it has none.
bool sizeInName(const std::wstring& name, LONG& width, LONG& height)
{
    const size_t dash = name.rfind(L'-');
    return dash != std::wstring::npos && std::swscanf(name.c_str() + dash + 1, L"%ldx%ld", &width, &height) == 2;
}

std::string quoted(const WCHAR* text)
{
    if (!text) return "null";
    std::string out = "L\"";
    for (const WCHAR* c = text; *c; ++c) {
        char unit[16];
        if (*c >= 0x20 && *c < 0x7F && *c != '"')
            std::snprintf(unit, sizeof unit, "%c", static_cast<char>(*c));
        else
            std::snprintf(unit, sizeof unit, "\\u%04x", static_cast<unsigned>(*c));
        out += unit;
    }
    return out + "\"";
}

// The object a media type's pUnk holds; counted so that the test sees its release.
class CountedUnknown : public IUnknown {
public:
    CountedUnknown() { ++unknownsAlive; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --refs_;
        if (left == 0) {
            --unknownsAlive;
            delete this;
        }
        return left;
    }

private:
    ULONG refs_ = 1;
};

class Detector : public IMediaDet {
public:
    Detector()
    {
        ++created;
        ++alive;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, dovrikna::kIidMediaDet)) return E_NOINTERFACE;
        *out = static_cast<IMediaDet*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --refs_;
        if (left == 0) {
            log("destroyed");
            --alive;
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE put_Filename(BSTR name) override
    {
        name_ = name ? name : L"";
        {
            std::lock_guard<std::mutex> hold(records);
            lastFileName = name_;
        }
        log("put_Filename(" + quoted(name) + ")");
        if (FAILED(script.results[kStepPutFilename])) return script.results[kStepPutFilename];
        opened_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_OutputStreams(LONG* count) override
    {
        log("get_OutputStreams");
        if (!count) return E_POINTER;
        if (FAILED(script.results[kStepOutputStreams])) return script.results[kStepOutputStreams];
        *count = script.countSet ? script.streamCount : static_cast<LONG>(script.streams.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_CurrentStream(LONG stream) override
    {
        log("put_CurrentStream(" + std::to_string(stream) + ")");
        if (stream < 0 || stream >= static_cast<LONG>(script.streams.size())) return E_INVALIDARG;
        current_ = stream;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_StreamType(GUID* type) override
    {
        log("get_StreamType");
        if (!type) return E_POINTER;
        if (FAILED(script.results[kStepStreamType])) return script.results[kStepStreamType];
        if (!opened_ || current_ < 0) return E_INVALIDARG;
        *type = script.streams[current_].majorType;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_StreamMediaType(AM_MEDIA_TYPE* type) override
    {
        log("get_StreamMediaType");
        if (!type) return E_POINTER;
        if (FAILED(script.results[kStepStreamMediaType])) return script.results[kStepStreamMediaType];
        if (!opened_ || current_ < 0) return E_INVALIDARG;
        Stream stream = script.streams[current_];
        if (script.sizesFromNames && !sizeInName(name_, stream.width, stream.height)) return E_FAIL;
        ZeroMemory(type, sizeof *type);
        type->majortype = stream.majorType;
        type->formattype = stream.formatType;
        type->bFixedSizeSamples = TRUE;
        const ULONG bytes = sizeof(VIDEOINFOHEADER);
        auto* format = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(bytes));
        if (!format) return E_OUTOFMEMORY;
        ZeroMemory(format, bytes);
        format->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        format->bmiHeader.biWidth = stream.width;
        format->bmiHeader.biHeight = stream.height;
        format->bmiHeader.biPlanes = 1;
        format->bmiHeader.biBitCount = 24;
        type->cbFormat = script.formatBytesSet ? script.formatBytes : bytes;
        type->pbFormat = reinterpret_cast<BYTE*>(format);
        {
            std::lock_guard<std::mutex> hold(records);
            formatBlocks.push_back(format);
        }
        if (stream.withUnknown) type->pUnk = new CountedUnknown;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBitmapBits(double time, LONG* size, char* buffer, LONG width, LONG height) override
    {
        char line[160];
        std::snprintf(line, sizeof line, "GetBitmapBits(%g, %s, %s, %ld, %ld)", time, size ? "size" : "null",
                      buffer ? "buffer" : "null", static_cast<long>(width), static_cast<long>(height));
        log(line);
        if (!opened_ && FAILED(script.results[kStepUnopened])) return script.results[kStepUnopened];
        if (width < 0 || height < 0) return E_INVALIDARG;
        // A DIB's rows: bottom row first, each padded to 4 bytes.
        const size_t rowBytes = 3u * static_cast<size_t>(width), stride = (rowBytes + 3) & ~size_t{3};
        const size_t pixels = stride * static_cast<size_t>(height);
        if (!buffer) {
            if (!size) return E_POINTER;
            if (FAILED(script.results[kStepSizeQuery])) return script.results[kStepSizeQuery];
            *size = static_cast<LONG>(sizeof(BITMAPINFOHEADER) + pixels + script.extraBytes);
            return S_OK;
        }
        {
            std::lock_guard<std::mutex> hold(records);
            lastFrameBuffer = buffer;
        }
        if (FAILED(script.results[kStepFrame])) return script.results[kStepFrame];
        BITMAPINFOHEADER header;
        ZeroMemory(&header, sizeof header);
        header.biSize = sizeof header;
        header.biWidth = script.overrideHeader ? script.headerWidth : width;
        header.biHeight = script.overrideHeader ? script.headerHeight : height;
        header.biPlanes = 1;
        header.biBitCount = 24;
        header.biSizeImage = static_cast<DWORD>(pixels);
        std::memcpy(buffer, &header, sizeof header);
        if (script.raiseCode) RaiseException(script.raiseCode, 0, 0, nullptr);
        char* rows = buffer + sizeof header;
        std::memset(rows, 0xEE, pixels + static_cast<size_t>(script.extraBytes)); // padding and extra bytes
        for (size_t i = 0; i < rowBytes * static_cast<size_t>(height); ++i)
            rows[i / rowBytes * stride + i % rowBytes] =
                static_cast<char>(script.sizesFromNames ? width & 0xFF : standinPixel(i));
        return S_OK;
    }

    // Not part of what the library may use: logged as unexpected.
    HRESULT STDMETHODCALLTYPE get_Filter(IUnknown**) override { return unexpected("get_Filter"); }
    HRESULT STDMETHODCALLTYPE put_Filter(IUnknown*) override { return unexpected("put_Filter"); }
    HRESULT STDMETHODCALLTYPE get_CurrentStream(LONG*) override { return unexpected("get_CurrentStream"); }
    HRESULT STDMETHODCALLTYPE get_StreamTypeB(BSTR*) override { return unexpected("get_StreamTypeB"); }
    HRESULT STDMETHODCALLTYPE get_StreamLength(double*) override { return unexpected("get_StreamLength"); }
    HRESULT STDMETHODCALLTYPE get_Filename(BSTR*) override { return unexpected("get_Filename"); }
    HRESULT STDMETHODCALLTYPE WriteBitmapBits(double, LONG, LONG, BSTR) override
    {
        return unexpected("WriteBitmapBits");
    }
    HRESULT STDMETHODCALLTYPE GetSampleGrabber(IUnknown**) override { return unexpected("GetSampleGrabber"); }
    HRESULT STDMETHODCALLTYPE get_FrameRate(double*) override { return unexpected("get_FrameRate"); }
    HRESULT STDMETHODCALLTYPE EnterBitmapGrabMode(double) override { return unexpected("EnterBitmapGrabMode"); }

private:
    HRESULT unexpected(const char* method)
    {
        log(std::string("UNEXPECTED ") + method);
        return E_NOTIMPL;
    }

    ULONG refs_ = 1;
    bool opened_ = false;
    LONG current_ = -1;
    std::wstring name_;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* detector = new Detector;
        const HRESULT hr = detector->QueryInterface(iid, out);
        detector->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

// A process that cannot script the stand-in (a program the test starts) gets
// one video stream of the size DOVRIKNA_STANDIN_VIDEO names, as "320x240".
void scriptFromEnvironment()
{
    static bool read = false;
    if (read) return;
    read = true;
    char text[32];
    const DWORD length = GetEnvironmentVariableA("DOVRIKNA_STANDIN_VIDEO", text, sizeof text);
    long width = 0, height = 0;
    if (length > 0 && length < sizeof text && std::sscanf(text, "%ldx%ld", &width, &height) == 2 &&
        script.streams.empty())
        script.streams.push_back(Stream{dovrikna::kMediaTypeVideo, dovrikna::kFormatVideoInfo, width, height, false});
}

} // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, dovrikna::kClsidMediaDet)) return CLASS_E_CLASSNOTAVAILABLE;
    scriptFromEnvironment();
    return factory.QueryInterface(iid, out);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return S_FALSE; // the test program links the scripting functions: it stays loaded anyway
}

STANDIN_API void standinReset()
{
    script = Script();
    callLog.clear();
    lastFileName.clear();
    formatBlocks.clear();
    lastFrameBuffer = nullptr;
}

STANDIN_API void standinAddStream(const GUID* majorType, const GUID* formatType, LONG width, LONG height,
                                  BOOL withUnknown)
{
    script.streams.push_back(Stream{*majorType, *formatType, width, height, withUnknown != FALSE});
}

STANDIN_API void standinFail(StandinStep step, HRESULT hr)
{
    if (step >= 0 && step < kStepCount) script.results[step] = hr;
}

STANDIN_API void standinSetStreamCount(LONG count)
{
    script.countSet = true;
    script.streamCount = count;
}
STANDIN_API void standinRaiseInFrame(DWORD code) { script.raiseCode = code; }
STANDIN_API void standinSizesFromNames(BOOL on) { script.sizesFromNames = on != FALSE; }
STANDIN_API void standinSetExtraBytes(LONG extra) { script.extraBytes = extra; }

STANDIN_API void standinSetFormatBytes(ULONG bytes)
{
    script.formatBytesSet = true;
    script.formatBytes = bytes;
}

STANDIN_API void standinOverrideHeader(LONG width, LONG height)
{
    script.overrideHeader = true;
    script.headerWidth = width;
    script.headerHeight = height;
}

STANDIN_API int standinLogCount() { return static_cast<int>(callLog.size()); }
STANDIN_API const char* standinLogLine(int index) { return callLog.at(static_cast<size_t>(index)).c_str(); }
STANDIN_API const WCHAR* standinLastFileName() { return lastFileName.c_str(); }
STANDIN_API int standinCreated() { return created; }
STANDIN_API int standinAlive() { return alive; }
STANDIN_API int standinUnknownsAlive() { return unknownsAlive; }
STANDIN_API int standinFormatBlockCount() { return static_cast<int>(formatBlocks.size()); }
STANDIN_API const void* standinFormatBlock(int index) { return formatBlocks.at(static_cast<size_t>(index)); }
STANDIN_API const void* standinLastFrameBuffer() { return lastFrameBuffer; }
