#include "desktop/media_foundation.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <mftransform.h>

#include <atomic>
#include <cstdint>
#include <cstring>

#include "frame/critical_section.h"
#include "desktop/dib_frame.h"
#include "desktop/track_turn.h"
#include "frame/win_handles.h"

namespace dovrikna {

namespace {

// The platform's converters, tried in this order when the reader gives no
// RGB: the video processor (Windows 8 and later, Wine) and the colour
// converter (Windows 7 and later, Wine), both used as IMFTransform.
// {88753B26-5B24-49BD-B2E7-0C445C78C982}
constexpr GUID kClsidVideoProcessorMft = {0x88753b26, 0x5b24, 0x49bd, {0xb2, 0xe7, 0x0c, 0x44, 0x5c, 0x78, 0xc9, 0x82}};
// {98230571-0087-4204-B020-3282538E57D3}
constexpr GUID kClsidColorConverter = {0x98230571, 0x0087, 0x4204, {0xb0, 0x20, 0x32, 0x82, 0x53, 0x8e, 0x57, 0xd3}};

// How many reads may pass without a sample (stream ticks, type changes)
// before the file counts as having no first frame.
constexpr int kMaxEmptyReads = 32;

const DWORD kVideoStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

// MF_MT_VIDEO_ROTATION, declared by the SDK for Windows 8 and later only.
// {C380465D-2271-428C-9B83-ECEA3B4A85C1}
constexpr GUID kVideoRotation = {0xc380465d, 0x2271, 0x428c, {0x9b, 0x83, 0xec, 0xea, 0x3b, 0x4a, 0x85, 0xc1}};

struct MediaFoundationApi {
    unique_module platform;
    unique_module readWrite;
    HRESULT(WINAPI* startup)(ULONG, DWORD) = nullptr;
    MfShutdownFn shutdown = nullptr;
    HRESULT(WINAPI* createAttributes)(IMFAttributes**, UINT32) = nullptr;
    HRESULT(WINAPI* createMediaType)(IMFMediaType**) = nullptr;
    HRESULT(WINAPI* createSample)(IMFSample**) = nullptr;
    HRESULT(WINAPI* createMemoryBuffer)(DWORD, IMFMediaBuffer**) = nullptr;
    HRESULT(WINAPI* strideForBitmapInfoHeader)(DWORD, DWORD, LONG*) = nullptr;
    HRESULT(WINAPI* createSourceReaderFromURL)(LPCWSTR, IMFAttributes*, IMFSourceReader**) = nullptr;
    unique_mf_platform started; // declared last: shut down before the modules go
};

// Loaded and started once, on first need; overlapping first grabs wait for
// the one that starts it.
enum class MfState { NotTried, Ready, Unavailable };
MfState mfState = MfState::NotTried;
MediaFoundationApi mf;

template <typename Fn>
bool resolve(HMODULE module, const char* name, Fn& fn)
{
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return fn != nullptr;
}

CriticalSection startLock;

MediaFoundationApi* mediaFoundation()
{
    const CriticalSection::Hold hold(startLock);
    if (mfState != MfState::NotTried) return mfState == MfState::Ready ? &mf : nullptr;
    mfState = MfState::Unavailable;
    mf.platform.reset(LoadLibraryA("mfplat.dll"));
    mf.readWrite.reset(LoadLibraryA("mfreadwrite.dll"));
    const HMODULE platform = mf.platform.get();
    const bool found = platform && mf.readWrite && resolve(platform, "MFStartup", mf.startup)
                       && resolve(platform, "MFShutdown", mf.shutdown)
                       && resolve(platform, "MFCreateAttributes", mf.createAttributes)
                       && resolve(platform, "MFCreateMediaType", mf.createMediaType)
                       && resolve(platform, "MFCreateSample", mf.createSample)
                       && resolve(platform, "MFCreateMemoryBuffer", mf.createMemoryBuffer)
                       && resolve(platform, "MFGetStrideForBitmapInfoHeader", mf.strideForBitmapInfoHeader)
                       && resolve(mf.readWrite.get(), "MFCreateSourceReaderFromURL", mf.createSourceReaderFromURL);
    if (found && SUCCEEDED(mf.startup(MF_VERSION, MFSTARTUP_FULL))) {
        mf.started.reset(mf.shutdown);
        mfState = MfState::Ready;
        return &mf;
    }
    mf.readWrite.reset();
    mf.platform.reset();
    return nullptr;
}

HRESULT frameSize(IMFMediaType* type, std::int32_t& width, std::int32_t& height)
{
    UINT64 packed = 0;
    const HRESULT hr = type->GetUINT64(MF_MT_FRAME_SIZE, &packed);
    if (FAILED(hr)) return hr;
    const UINT32 high = static_cast<UINT32>(packed >> 32), low = static_cast<UINT32>(packed);
    if (high == 0 || low == 0 || high > kMaxFrameSide || low > kMaxFrameSide) return MF_E_INVALIDMEDIATYPE;
    width = static_cast<std::int32_t>(high);
    height = static_cast<std::int32_t>(low);
    return S_OK;
}

unsigned rgbBytesPerPixel(const GUID& subtype)
{
    if (IsEqualGUID(subtype, MFVideoFormat_RGB24)) return 3;
    if (IsEqualGUID(subtype, MFVideoFormat_RGB32)) return 4;
    return 0;
}

// The sample's pixels, in an RGB type, as a frame in the detector's layout.
// Without a stride in the type, defaultTopDown tells the rows' order.
HRESULT packSample(IMFSample* sample, IMFMediaType* type, bool defaultTopDown, GrabbedFrame& grabbed)
{
    GUID subtype = GUID_NULL;
    HRESULT hr = type->GetGUID(MF_MT_SUBTYPE, &subtype);
    if (FAILED(hr)) return hr;
    const unsigned bytesPerPixel = rgbBytesPerPixel(subtype);
    if (bytesPerPixel == 0) return MF_E_INVALIDMEDIATYPE;
    std::int32_t width = 0, height = 0;
    hr = frameSize(type, width, height);
    if (FAILED(hr)) return hr;
    UINT32 stride = 0;
    if (FAILED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride))) stride = 0;

    com_ptr<IMFMediaBuffer> buffer;
    hr = sample->ConvertToContiguousBuffer(buffer.put());
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    DWORD length = 0;
    hr = buffer.get()->Lock(&data, nullptr, &length);
    if (FAILED(hr)) return hr;
    unique_media_buffer_lock locked(buffer.get());

    const RgbLayout layout =
        planRgbLayout(width, height, bytesPerPixel, length, static_cast<std::int32_t>(stride), defaultTopDown);
    if (!layout.usable || !data) return MF_E_BUFFERTOOSMALL;
    const std::size_t bytes = dibFrameBytes(width, height);
    unique_heap_block frame(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (!frame) return E_OUTOFMEMORY;
    packDibFrame(data, layout, width, height, bytesPerPixel, static_cast<unsigned char*>(frame.get()));
    grabbed.buffer = std::move(frame);
    grabbed.bytes = bytes;
    return S_OK;
}

// Native subtypes (their FOURCC) that the reader would not give as RGB32:
// it is not asked again for them. Under Wine, which decodes to YUV and
// converts nothing, each refused ask costs 3 to 11 ms of pipeline rebuilding.
constexpr int kRefusalSlots = 8;
std::atomic<std::uint32_t> refusedSubtypes[kRefusalSlots];

bool isFourCcSubtype(const GUID& subtype)
{
    static const unsigned char base[8] = {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
    return subtype.Data1 != 0 && subtype.Data2 == 0 && subtype.Data3 == 0x0010
           && std::memcmp(subtype.Data4, base, sizeof base) == 0;
}

bool refusedBefore(const GUID& subtype)
{
    if (!isFourCcSubtype(subtype)) return false;
    for (const auto& slot : refusedSubtypes)
        if (slot.load() == subtype.Data1) return true;
    return false;
}

void rememberRefusal(const GUID& subtype)
{
    if (!isFourCcSubtype(subtype)) return;
    for (auto& slot : refusedSubtypes) {
        std::uint32_t empty = 0;
        if (slot.compare_exchange_strong(empty, subtype.Data1) || empty == subtype.Data1) return;
    }
}

// Asks the reader for RGB32 when the stream is not RGB already: video
// processing, enabled on the reader, converts YUV to RGB32 (to no other RGB).
void askForRgb(MediaFoundationApi& api, IMFSourceReader* reader, const GUID& nativeSubtype)
{
    if (rgbBytesPerPixel(nativeSubtype) != 0 || refusedBefore(nativeSubtype)) return;
    com_ptr<IMFMediaType> type;
    if (FAILED(api.createMediaType(type.put()))) return;
    type.get()->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type.get()->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
    if (FAILED(reader->SetCurrentMediaType(kVideoStream, nullptr, type.get()))) rememberRefusal(nativeSubtype);
}

// The first sample of the first video stream; its time stamp is not looked
// at (an H.264 stream with B-frames starts later than 0, and it is still the
// first frame).
HRESULT readFirstSample(IMFSourceReader* reader, com_ptr<IMFSample>& sample)
{
    for (int read = 0; read < kMaxEmptyReads; ++read) {
        DWORD stream = 0, flags = 0;
        LONGLONG time = 0;
        const HRESULT hr = reader->ReadSample(kVideoStream, 0, &stream, &flags, &time, sample.put());
        if (FAILED(hr)) return hr;
        if (flags & MF_SOURCE_READERF_ERROR) return E_FAIL;
        if (sample) return S_OK;
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM) return MF_E_END_OF_STREAM;
    }
    return MF_E_END_OF_STREAM;
}

// The sample converted to RGB24 or RGB32 by one of the platform's transforms.
HRESULT convertWith(MediaFoundationApi& api, const GUID& clsid, IMFMediaType* inputType, IMFSample* input,
                    com_ptr<IMFSample>& output, com_ptr<IMFMediaType>& outputType)
{
    com_ptr<IMFTransform> transform;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMFTransform,
                                  reinterpret_cast<void**>(transform.put()));
    if (FAILED(hr)) return hr;
    if (!transform) return E_NOINTERFACE;
    IMFTransform* converter = transform.get();
    hr = converter->SetInputType(0, inputType, 0);
    if (FAILED(hr)) return hr;

    std::int32_t width = 0, height = 0;
    hr = frameSize(inputType, width, height);
    if (FAILED(hr)) return hr;
    for (const GUID* subtype : {&MFVideoFormat_RGB24, &MFVideoFormat_RGB32}) {
        com_ptr<IMFMediaType> type;
        hr = api.createMediaType(type.put());
        if (FAILED(hr)) return hr;
        inputType->CopyAllItems(type.get());
        type.get()->SetGUID(MF_MT_SUBTYPE, *subtype);
        // Top-down asked for outright: Wine's converters write top-down
        // whatever stride the type states, Windows' follow the stated one.
        const UINT32 rowBytes = (static_cast<UINT32>(width) * rgbBytesPerPixel(*subtype) + 3u) & ~3u;
        type.get()->SetUINT32(MF_MT_DEFAULT_STRIDE, rowBytes);
        hr = converter->SetOutputType(0, type.get(), 0);
        if (SUCCEEDED(hr)) break;
    }
    if (FAILED(hr)) return hr;
    hr = converter->GetOutputCurrentType(0, outputType.put());
    if (FAILED(hr)) return hr;

    converter->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
    hr = converter->ProcessInput(0, input, 0);
    if (FAILED(hr)) return hr;

    MFT_OUTPUT_STREAM_INFO info = {};
    hr = converter->GetOutputStreamInfo(0, &info);
    if (FAILED(hr)) return hr;
    com_ptr<IMFSample> provided;
    if (!(info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES)) {
        const DWORD bytes = info.cbSize ? info.cbSize : static_cast<DWORD>(width) * 4u * static_cast<DWORD>(height);
        com_ptr<IMFMediaBuffer> buffer;
        hr = api.createSample(provided.put());
        if (SUCCEEDED(hr)) hr = api.createMemoryBuffer(bytes, buffer.put());
        if (SUCCEEDED(hr)) hr = provided.get()->AddBuffer(buffer.get());
        if (FAILED(hr)) return hr;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        MFT_OUTPUT_DATA_BUFFER out = {};
        out.pSample = provided.get();
        DWORD status = 0;
        hr = converter->ProcessOutput(0, 1, &out, &status);
        com_ptr<IMFCollection> events(out.pEvents);
        com_ptr<IMFSample> made(out.pSample != provided.get() ? out.pSample : nullptr);
        if (SUCCEEDED(hr)) {
            output = made ? std::move(made) : std::move(provided);
            return S_OK;
        }
        // A converter that holds the frame back gives it up when drained.
        if (hr != MF_E_TRANSFORM_NEED_MORE_INPUT) return hr;
        converter->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0);
    }
    return hr;
}

// The track parser's reads, through a file handle.
std::size_t readFileAt(void* context, std::uint64_t offset, unsigned char* to, std::size_t bytes)
{
    HANDLE file = static_cast<HANDLE>(context);
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    if (SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER
        && GetLastError() != NO_ERROR)
        return 0;
    DWORD read = 0;
    return ReadFile(file, to, static_cast<DWORD>(bytes), &read, nullptr) ? read : 0;
}

// The turn the file's own track header asks for; 0 when it cannot be read.
int fileQuarterTurns(const wchar_t* path)
{
    unique_file_handle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(file.get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    return firstVideoTrackQuarterTurns({&readFileAt, file.get(), (std::uint64_t{high} << 32) | low});
}

// The frame turned clockwise by quarterTurns, when it is a frame in the
// detector's layout; any other buffer is left for the caller's own check.
HRESULT turnFrame(GrabbedFrame& grabbed, int quarterTurns)
{
    if (quarterTurns <= 0 || quarterTurns > 3 || !grabbed.buffer || grabbed.bytes < sizeof(BITMAPINFOHEADER))
        return S_OK;
    BITMAPINFOHEADER header;
    std::memcpy(&header, grabbed.buffer.get(), sizeof header);
    const std::size_t bytes = dibFrameBytes(header.biWidth, header.biHeight);
    if (header.biBitCount != 24 || bytes == 0 || grabbed.bytes < bytes) return S_OK;
    const std::size_t turnedBytes = turnedFrameBytes(header.biWidth, header.biHeight, quarterTurns);
    unique_heap_block turned(HeapAlloc(GetProcessHeap(), 0, turnedBytes));
    if (!turned) return E_OUTOFMEMORY;
    turnDibFrame(static_cast<const unsigned char*>(grabbed.buffer.get()), header.biWidth, header.biHeight,
                 quarterTurns, static_cast<unsigned char*>(turned.get()));
    grabbed.buffer = std::move(turned);
    grabbed.bytes = turnedBytes;
    return S_OK;
}

// The turn Media Foundation tells for the stream where it tells one (Wine
// tells 0 for every file), otherwise the one of the file's track header.
int shownQuarterTurns(IMFMediaType* native, const wchar_t* path)
{
    UINT32 degrees = 0;
    if (native && SUCCEEDED(native->GetUINT32(kVideoRotation, &degrees))) {
        const int turns = quarterTurnsOfRotation(degrees);
        if (turns > 0) return turns;
    }
    return fileQuarterTurns(path);
}

} // namespace

HRESULT turnAsShown(const wchar_t* path, GrabbedFrame& grabbed)
{
    return path ? turnFrame(grabbed, fileQuarterTurns(path)) : S_OK;
}

// At most two grabs at a time; the others wait their turn. Wine's source
// reader waits, inside MFCreateSourceReaderFromURL, for work that Media
// Foundation's own threads do, and those wait for more of it: with four
// grabs at once, the first of the process (a Java thread pool of four),
// every one of them waited for ever
// (MediaFoundationTest.FourThreadsAtOnceFirstThingInTheProcessEachGetTheirFrame).
// A count and a short sleep: no handle to make or close, and a waiting
// caller waits for a decode anyway.
namespace {

const int kGrabsAtOnce = 2;
std::atomic<int> grabsUnderWay{0};

class GrabTurn {
public:
    GrabTurn()
    {
        for (int running = grabsUnderWay.load();;) {
            if (running < kGrabsAtOnce && grabsUnderWay.compare_exchange_weak(running, running + 1)) return;
            if (running >= kGrabsAtOnce) {
                Sleep(5);
                running = grabsUnderWay.load();
            }
        }
    }
    ~GrabTurn() { --grabsUnderWay; }
    GrabTurn(const GrabTurn&) = delete;
    GrabTurn& operator=(const GrabTurn&) = delete;
};

} // namespace

HRESULT grabFirstFrameWithMediaFoundation(const wchar_t* path, GrabbedFrame& grabbed)
{
    MediaFoundationApi* api = mediaFoundation();
    if (!api) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    if (!path) return E_POINTER;
    const GrabTurn turn;

    com_ptr<IMFAttributes> attributes;
    HRESULT hr = api->createAttributes(attributes.put(), 1);
    if (FAILED(hr)) return hr;
    attributes.get()->SetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, TRUE);
    com_ptr<IMFSourceReader> reader;
    hr = api->createSourceReaderFromURL(path, attributes.get(), reader.put());
    if (FAILED(hr)) return hr;
    if (!reader) return E_POINTER;
    reader.get()->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
    hr = reader.get()->SetStreamSelection(kVideoStream, TRUE);
    if (FAILED(hr)) return hr; // no video stream
    com_ptr<IMFMediaType> native;
    GUID nativeSubtype = GUID_NULL;
    if (SUCCEEDED(reader.get()->GetNativeMediaType(kVideoStream, 0, native.put())))
        native.get()->GetGUID(MF_MT_SUBTYPE, &nativeSubtype);
    askForRgb(*api, reader.get(), nativeSubtype);

    com_ptr<IMFSample> sample;
    hr = readFirstSample(reader.get(), sample);
    if (FAILED(hr)) return hr;
    com_ptr<IMFMediaType> type;
    hr = reader.get()->GetCurrentMediaType(kVideoStream, type.put());
    if (FAILED(hr)) return hr;

    GrabbedFrame frame;
    GUID subtype = GUID_NULL;
    type.get()->GetGUID(MF_MT_SUBTYPE, &subtype);
    if (rgbBytesPerPixel(subtype) != 0) {
        // No stride in the type: the platform's default for the format
        // (bottom-up for RGB, as a DIB).
        LONG stride = 0;
        const bool topDown = SUCCEEDED(api->strideForBitmapInfoHeader(subtype.Data1, 1, &stride)) && stride > 0;
        hr = packSample(sample.get(), type.get(), topDown, frame);
    } else {
        for (const GUID* clsid : {&kClsidVideoProcessorMft, &kClsidColorConverter}) {
            com_ptr<IMFSample> converted;
            com_ptr<IMFMediaType> convertedType;
            hr = convertWith(*api, *clsid, type.get(), sample.get(), converted, convertedType);
            if (SUCCEEDED(hr)) {
                hr = packSample(converted.get(), convertedType.get(), true, frame);
                break;
            }
        }
    }
    if (SUCCEEDED(hr)) hr = turnFrame(frame, shownQuarterTurns(native.get(), path));
    if (SUCCEEDED(hr)) grabbed = std::move(frame);
    return hr;
}

void releaseMediaFoundation(bool processTerminating)
{
    if (mfState != MfState::Ready) return;
    if (processTerminating) {
        // Nothing may wait now; the system takes it all back.
        mf.started.release();
        mf.readWrite.release();
        mf.platform.release();
    } else {
        mf.started.reset();
        mf.readWrite.reset();
        mf.platform.reset();
    }
    mfState = MfState::NotTried;
}

} // namespace dovrikna
