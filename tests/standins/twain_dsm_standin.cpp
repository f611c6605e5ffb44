// A scripted TWAIN source manager with one source, exporting DSM_Entry as the
// system's TWAIN_32.DLL does. It keeps the TWAIN state of the conversation and
// flags every call that the state or the data do not allow.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "standins/twain_standin.h"

using namespace standin;

namespace {

CRITICAL_SECTION lock;
Script script;
std::vector<Call> callLog;
std::string problemText;
std::vector<HGLOBAL> containers;
std::vector<HANDLE> images; // native images handed out, to be freed before the next call
HWND sourceUi = nullptr;
HINSTANCE standinInstance = nullptr;

HMODULE sourceModule = nullptr;
int state = 2;            // TWAIN state: 2 loaded, 3 manager open, 4 source open, 5 enabled, 6/7 transfers
int nextTransfer = 0;
std::string lastSetName;  // the file name of the latest MSG_SET
TW_UINT16 mechanism = TWSX_NATIVE; // ICAP_XFERMECH's current value
int memoryTransfer = -1;  // the transfer whose strips are under way
long memoryRow = 0;       // its next row
int memoryStrip = 0;      // strips it has sent

void problem(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    EnterCriticalSection(&lock);
    problemText += text;
    problemText += '\n';
    LeaveCriticalSection(&lock);
}

void setDefaults()
{
    std::memset(&script, 0, sizeof script);
    std::strcpy(script.userSourceName, "Standin Scanner");
    std::strcpy(script.defaultSourceName, "Standin Default");
    script.xferMech = {TWRC_SUCCESS, TWON_ENUMERATION, 3, 3, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}};
    script.fileFormat = {TWRC_SUCCESS, TWON_ENUMERATION, 2, 2, {TWFF_TIFF, TWFF_BMP}};
    script.pixelFlavor = {TWRC_SUCCESS, TWON_ONEVALUE, 1, 1, {TWPF_CHOCOLATE}};
    script.memLimits = {16, 1u << 20, 200};
    // Every code defaults to TWRC_SUCCESS (0); one completed transfer.
    script.transferCount = 1;
    script.transfers[0].rc = TWRC_XFERDONE;
    script.transfers[0].write = 1;
    // A program that a test starts (the try tool) is told through its environment.
    if (GetEnvironmentVariableA("DOVRIKNA_STANDIN_OPENDSM_FAILS", nullptr, 0) > 0) script.openDsm = TWRC_FAILURE;
}

LRESULT CALLBACK sourceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

HGLOBAL makeContainer(const Capability& capability, TW_UINT16* conType)
{
    std::vector<unsigned char> bytes;
    auto put16 = [&](TW_UINT16 value) {
        bytes.push_back(value & 0xFF);
        bytes.push_back(value >> 8);
    };
    auto put32 = [&](TW_UINT32 value) {
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back((value >> shift) & 0xFF);
    };
    put16(TWTY_UINT16);
    if (capability.conType == TWON_ONEVALUE) {
        put32(capability.itemCount > 0 ? capability.items[0] : 0);
    } else {
        put32(capability.numItems);
        if (capability.conType != TWON_ARRAY) {
            put32(0);
            put32(0);
        }
        for (int i = 0; i < capability.itemCount; ++i) put16(capability.items[i]);
    }
    HGLOBAL handle = GlobalAlloc(GHND, bytes.size());
    if (!handle) return nullptr;
    void* memory = GlobalLock(handle);
    std::memcpy(memory, bytes.data(), bytes.size());
    GlobalUnlock(handle);
    *conType = capability.conType;
    containers.push_back(handle);
    return handle;
}

void writeFile(const std::string& path, int page)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem("could not write the image file '%s'", path.c_str());
        return;
    }
    char text[64];
    int length = std::snprintf(text, sizeof text, "standin page %d\n", page);
    DWORD written = 0;
    WriteFile(file, text, length, &written, nullptr);
    CloseHandle(file);
}

// The page's image as the transfer's script shapes it, in a handle of its
// kind, made where it stays: the source's own memory is the image once.
HANDLE makeImage(const NativeImage& image, int page)
{
    const NativeDibShape shape(image);
    if (image.kind == 2) {
        std::vector<unsigned char> header(shape.headerBytes());
        writeNativeHeader(image, header.data());
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(header.data()), DIB_RGB_COLORS,
                                          &bits, nullptr, 0);
        if (!bitmap) return nullptr;
        writeNativePixels(image, page, static_cast<unsigned char*>(bits));
        return bitmap;
    }
    const std::size_t size = shape.size() + image.sizeChange;
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!handle) return nullptr;
    auto* block = static_cast<unsigned char*>(GlobalLock(handle));
    if (image.sizeChange < 0) {
        // A block cut short: as much of the DIB as it holds.
        const std::vector<unsigned char> dib = nativeDib(image, page);
        std::memcpy(block, dib.data(), size);
    } else {
        writeNativeHeader(image, block);
        writeNativePixels(image, page, block + shape.headerBytes());
    }
    GlobalUnlock(handle);
    return handle;
}

// A modal loop of the source's own, as a progress or settings window runs.
void pumpMessages(int ms)
{
    for (DWORD start = GetTickCount(); ms > 0 && GetTickCount() - start < DWORD(ms);) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(1);
    }
}

const Transfer* currentTransfer()
{
    if (nextTransfer < script.transferCount) return &script.transfers[nextTransfer];
    return nullptr;
}

// A strict source refuses a transfer of another mechanism than the set one.
bool refusedByStrictness(TW_UINT16 asked)
{
    if (!script.strict || mechanism == asked) return false;
    script.conditionCode = TWCC_SEQERROR;
    return true;
}

int memoryBits(const MemoryImage& image)
{
    return image.pixelType == TWPT_BW ? 1 : image.pixelType == TWPT_RGB ? 24 : 8;
}

// Rows [first, first + rows) of a memory image, each padded to 4 bytes.
// One copy of the loop, for the transfers and for a benchmark's floor alike.
__attribute__((noinline)) void fillStrip(const MemoryImage& image, long first, long rows, int page, unsigned char* bytes)
{
    const long rowBytes = (long(image.width) * memoryBits(image) + 7) / 8;
    const long bytesPerRow = (rowBytes + 3) / 4 * 4;
    for (long r = 0; r < rows; ++r)
        for (long k = 0; k < bytesPerRow; ++k)
            bytes[r * bytesPerRow + k] = k < rowBytes ? memoryByte(first + r, k, page) : 0;
}

// One strip of the current transfer's memory image into the caller's buffer.
TW_UINT16 memoryStripOf(const MemoryImage& image, TW_IMAGEMEMXFER& strip)
{
    if (memoryTransfer != nextTransfer) {
        memoryTransfer = nextTransfer;
        memoryRow = 0;
        memoryStrip = 0;
    }
    const int page = nextTransfer + 1;
    const long rowBytes = (long(image.width) * memoryBits(image) + 7) / 8;
    const long bytesPerRow = (rowBytes + 3) / 4 * 4;
    if (!(strip.Memory.Flags & TWMF_POINTER) || !(strip.Memory.Flags & TWMF_APPOWNS) || !strip.Memory.TheMem)
        problem("DAT_IMAGEMEMXFER without a buffer of the application's given by a pointer (flags %#x)",
                strip.Memory.Flags);
    if (strip.Memory.Length < script.memLimits.MinBufSize || strip.Memory.Length > script.memLimits.MaxBufSize)
        problem("DAT_IMAGEMEMXFER with a buffer of %u bytes", strip.Memory.Length);
    const long rows = std::min<long>(strip.Memory.Length / bytesPerRow, image.rows - memoryRow);
    if (rows <= 0 || !strip.Memory.TheMem) return TWRC_FAILURE;
    ++memoryStrip;
    if (memoryStrip == image.failAt) return TWRC_FAILURE;
    state = 7;
    if (memoryStrip == image.cancelAt) return TWRC_CANCEL;
    fillStrip(image, memoryRow, rows, page, static_cast<unsigned char*>(strip.Memory.TheMem));
    strip.Compression = image.compression;
    strip.BytesPerRow = bytesPerRow;
    strip.Columns = image.tiled ? image.width / 2 : image.width;
    strip.Rows = rows;
    strip.XOffset = 0;
    strip.YOffset = memoryRow;
    strip.BytesWritten = rows * bytesPerRow;
    memoryRow += rows;
    return memoryRow == image.rows ? TWRC_XFERDONE : TWRC_SUCCESS;
}

TW_UINT16 toManager(Call& call, TW_UINT16 dat, TW_UINT16 msg, void* data)
{
    if (dat == DAT_PARENT) {
        if (data) call.parent = *static_cast<HWND*>(data);
        if (msg == MSG_OPENDSM) {
            if (state != 2) problem("MSG_OPENDSM in state %d", state);
            if (script.openDsm == TWRC_SUCCESS) state = 3;
            return script.openDsm;
        }
        if (msg == MSG_CLOSEDSM) {
            if (state != 3) problem("MSG_CLOSEDSM in state %d", state);
            if (script.closeDsm == TWRC_SUCCESS && state == 3) state = 2;
            return script.closeDsm;
        }
    }
    if (dat == DAT_IDENTITY) {
        auto* identity = static_cast<TW_IDENTITY*>(data);
        if (!identity) {
            problem("DAT_IDENTITY without data");
            return TWRC_FAILURE;
        }
        call.identityIn = *identity;
        switch (msg) {
        case MSG_USERSELECT:
            if (state < 3) problem("MSG_USERSELECT in state %d", state);
            if (script.selectModal) MessageBoxA(nullptr, "Standin select", "Standin Manager", MB_OK);
            if (script.userSelect == TWRC_SUCCESS) fillStandinIdentity(*identity, script.userSourceName, 7);
            return script.userSelect;
        case MSG_GETDEFAULT:
            if (state < 3) problem("MSG_GETDEFAULT in state %d", state);
            if (script.getDefault == TWRC_SUCCESS) fillStandinIdentity(*identity, script.defaultSourceName, 8);
            return script.getDefault;
        case MSG_OPENDS:
            if (state != 3) problem("MSG_OPENDS in state %d", state);
            pumpMessages(script.openPumpMs);
            if (script.openDs == TWRC_SUCCESS && state == 3) state = 4;
            mechanism = TWSX_NATIVE;
            if (script.openDs == TWRC_SUCCESS && script.sourceModule) sourceModule = LoadLibraryA("TWAINDSM.DLL");
            return script.openDs;
        case MSG_CLOSEDS:
            if (state != 4) problem("MSG_CLOSEDS in state %d", state);
            if (script.closeDs == TWRC_SUCCESS && state == 4) state = 3;
            if (sourceModule) FreeLibrary(sourceModule);
            sourceModule = nullptr;
            return script.closeDs;
        }
    }
    problem("unexpected call to the manager: DAT %#x MSG %#x", dat, msg);
    return TWRC_FAILURE;
}

TW_UINT16 toSource(Call& call, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data)
{
    if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
        auto* event = static_cast<TW_EVENT*>(data);
        if (!event || !event->pEvent) {
            problem("MSG_PROCESSEVENT without an event");
            return TWRC_FAILURE;
        }
        const MSG* message = static_cast<const MSG*>(event->pEvent);
        call.twMessageIn = event->TWMessage;
        call.eventMessage = message->message;
        call.eventWindow = message->hwnd;
        if (state < 5) {
            // Events belong to an enabled source; a strict manager refuses
            // them with TWCC_SEQERROR.
            problem("MSG_PROCESSEVENT in state %d", state);
            return TWRC_FAILURE;
        }
        if (!sourceUi || message->hwnd != sourceUi) return TWRC_NOTDSEVENT;
        event->TWMessage = MSG_NULL;
        if (message->message == kScanButton) {
            if (state == 5) state = 6;
            event->TWMessage = MSG_XFERREADY;
        } else if (message->message == kCloseButton) {
            event->TWMessage = MSG_CLOSEDSREQ;
        }
        call.twMessageOut = event->TWMessage;
        return TWRC_DSEVENT;
    }
    if (state < 4) {
        problem("call to a source that is not open: DG %#x DAT %#x MSG %#x (state %d)", dg, dat, msg, state);
        return TWRC_FAILURE;
    }
    if (dg == DG_CONTROL && dat == DAT_USERINTERFACE) {
        auto* ui = static_cast<TW_USERINTERFACE*>(data);
        if (!ui) {
            problem("DAT_USERINTERFACE without data");
            return TWRC_FAILURE;
        }
        call.parent = ui->hParent;
        call.showUI = ui->ShowUI;
        call.modalUI = ui->ModalUI;
        if (msg == MSG_ENABLEDS) {
            if (state != 4) problem("MSG_ENABLEDS in state %d", state);
            if (script.enableDs != TWRC_SUCCESS) return script.enableDs;
            if (script.enableRefusals > 0) {
                --script.enableRefusals;
                return TWRC_FAILURE;
            }
            state = 5;
            // Every acquisition goes through the script's transfers from the
            // first, the first strip of each.
            nextTransfer = 0;
            memoryTransfer = -1;
            sourceUi = CreateWindowA(kSourceWindowClass, "Standin Source", WS_POPUP, 0, 0, 10, 10,
                                     nullptr, nullptr, standinInstance, nullptr);
            return TWRC_SUCCESS;
        }
        if (msg == MSG_DISABLEDS) {
            if (state != 5) problem("MSG_DISABLEDS in state %d", state);
            if (script.disableDs != TWRC_SUCCESS) return script.disableDs;
            if (sourceUi) DestroyWindow(sourceUi);
            sourceUi = nullptr;
            state = 4;
            return TWRC_SUCCESS;
        }
    }
    if (dg == DG_CONTROL && dat == DAT_CAPABILITY && msg == MSG_SET) {
        auto* capability = static_cast<TW_CAPABILITY*>(data);
        if (!capability) {
            problem("DAT_CAPABILITY without data");
            return TWRC_FAILURE;
        }
        call.cap = capability->Cap;
        call.conType = capability->ConType;
        call.container = capability->hContainer;
        if (state != 4) problem("MSG_SET of capability %#x in state %d", capability->Cap, state);
        if (capability->Cap != ICAP_XFERMECH || capability->ConType != TWON_ONEVALUE) {
            problem("MSG_SET of capability %#x in container %d", capability->Cap, capability->ConType);
            return TWRC_FAILURE;
        }
        HGLOBAL handle = static_cast<HGLOBAL>(capability->hContainer);
        const auto* value = handle && GlobalSize(handle) >= sizeof(TW_ONEVALUE)
                                ? static_cast<const TW_ONEVALUE*>(GlobalLock(handle))
                                : nullptr;
        if (!value) {
            problem("MSG_SET without a TW_ONEVALUE container of global memory");
            return TWRC_FAILURE;
        }
        call.setItemType = value->ItemType;
        call.setItem = value->Item;
        GlobalUnlock(handle);
        if (script.xferMechSet != TWRC_SUCCESS) {
            script.conditionCode = TWCC_BADVALUE;
            return script.xferMechSet;
        }
        mechanism = static_cast<TW_UINT16>(call.setItem);
        return TWRC_SUCCESS;
    }
    if (dg == DG_CONTROL && dat == DAT_CAPABILITY && (msg == MSG_GET || msg == MSG_GETCURRENT)) {
        auto* capability = static_cast<TW_CAPABILITY*>(data);
        if (!capability) {
            problem("DAT_CAPABILITY without data");
            return TWRC_FAILURE;
        }
        call.cap = capability->Cap;
        call.conType = capability->ConType;
        call.container = capability->hContainer;
        const Capability* answer = capability->Cap == ICAP_XFERMECH && msg == MSG_GET          ? &script.xferMech
                                   : capability->Cap == ICAP_IMAGEFILEFORMAT && msg == MSG_GET ? &script.fileFormat
                                   : capability->Cap == ICAP_PIXELFLAVOR                       ? &script.pixelFlavor
                                                                                                : nullptr;
        if (!answer) {
            problem("MSG %#x of capability %#x", msg, capability->Cap);
            return TWRC_FAILURE;
        }
        if (answer->rc != TWRC_SUCCESS) return answer->rc;
        if (answer->noContainer) return TWRC_SUCCESS;
        capability->hContainer = makeContainer(*answer, &capability->ConType);
        return TWRC_SUCCESS;
    }
    if (dg == DG_IMAGE && dat == DAT_IMAGEINFO && msg == MSG_GET) {
        if (state != 6) problem("DAT_IMAGEINFO in state %d", state);
        if (!data) problem("DAT_IMAGEINFO without data");
        const Transfer* transfer = currentTransfer();
        if (!transfer) {
            problem("DAT_IMAGEINFO with no transfer scripted");
            return TWRC_FAILURE;
        }
        if (transfer->imageInfoRc != TWRC_SUCCESS) ++nextTransfer;
        const MemoryImage& image = transfer->memory;
        if (data && transfer->imageInfoRc == TWRC_SUCCESS && image.kind) {
            auto* info = static_cast<TW_IMAGEINFO*>(data);
            std::memset(info, 0, sizeof *info);
            info->XResolution.Whole = info->YResolution.Whole = 200;
            info->ImageWidth = image.width;
            info->ImageLength = image.lengthUnknown ? -1 : image.rows;
            info->PixelType = image.pixelType;
            info->BitsPerPixel = static_cast<TW_INT16>(memoryBits(image));
            info->SamplesPerPixel = image.pixelType == TWPT_RGB ? 3 : 1;
            for (int i = 0; i < info->SamplesPerPixel; ++i) info->BitsPerSample[i] = image.pixelType == TWPT_BW ? 1 : 8;
        }
        return transfer->imageInfoRc;
    }
    if (dg == DG_CONTROL && dat == DAT_SETUPFILEXFER) {
        auto* setup = static_cast<TW_SETUPFILEXFER*>(data);
        if (!setup) {
            problem("DAT_SETUPFILEXFER without data");
            return TWRC_FAILURE;
        }
        if (msg == MSG_SET) {
            if (state < 4 || state > 6) problem("MSG_SET of DAT_SETUPFILEXFER in state %d", state);
            if (!std::memchr(setup->FileName, 0, sizeof setup->FileName)) problem("FileName without terminator");
            std::memcpy(call.fileName, setup->FileName, sizeof call.fileName);
            call.fileName[sizeof call.fileName - 1] = '\0';
            call.format = setup->Format;
            call.vRefNum = setup->VRefNum;
            lastSetName = call.fileName;
            return script.setupSet;
        }
        if (msg == MSG_GET) {
            if (state < 4 || state > 6) problem("MSG_GET of DAT_SETUPFILEXFER in state %d", state);
            const Transfer* previous = nextTransfer > 0 ? &script.transfers[nextTransfer - 1] : nullptr;
            std::string name = previous && previous->write == 2 ? previous->elsewhere : lastSetName;
            std::memset(setup, 0, sizeof *setup);
            std::strncpy(setup->FileName, name.c_str(), sizeof setup->FileName - 1);
            return script.setupGet;
        }
    }
    if (dg == DG_CONTROL && dat == DAT_SETUPMEMXFER && msg == MSG_GET) {
        if (state < 4 || state > 6) problem("DAT_SETUPMEMXFER in state %d", state);
        if (!data) {
            problem("DAT_SETUPMEMXFER without data");
            return TWRC_FAILURE;
        }
        *static_cast<TW_SETUPMEMXFER*>(data) = script.memLimits;
        return script.setupMem;
    }
    if (dg == DG_IMAGE && dat == DAT_IMAGEMEMXFER && msg == MSG_GET) {
        if (state != 6 && state != 7) problem("DAT_IMAGEMEMXFER in state %d", state);
        auto* strip = static_cast<TW_IMAGEMEMXFER*>(data);
        const Transfer* transfer = currentTransfer();
        if (!strip || !transfer) {
            problem("DAT_IMAGEMEMXFER without data or with no transfer scripted");
            return TWRC_FAILURE;
        }
        call.strip = *strip;
        if (refusedByStrictness(TWSX_MEMORY) || !transfer->memory.kind) return TWRC_FAILURE;
        return memoryStripOf(transfer->memory, *strip);
    }
    if (dg == DG_IMAGE && dat == DAT_IMAGEFILEXFER && msg == MSG_GET) {
        if (state != 6) problem("DAT_IMAGEFILEXFER in state %d", state);
        if (data) problem("DAT_IMAGEFILEXFER with data");
        const Transfer* transfer = currentTransfer();
        if (!transfer) {
            problem("DAT_IMAGEFILEXFER with no transfer scripted");
            return TWRC_FAILURE;
        }
        if (refusedByStrictness(TWSX_FILE)) return TWRC_FAILURE;
        int page = nextTransfer + 1;
        if (transfer->modal) {
            char text[64];
            std::snprintf(text, sizeof text, "Standin page %d", page);
            MessageBoxA(nullptr, text, "Standin Source", MB_OK);
        }
        pumpMessages(transfer->pumpMs);
        // A page the source then hands over natively takes its time there.
        if (transfer->sleepMs && (transfer->rc != TWRC_FAILURE || !transfer->native.kind)) Sleep(transfer->sleepMs);
        if (transfer->write && transfer->rc == TWRC_XFERDONE) call.page = page;
        if (transfer->write == 1) writeFile(lastSetName, page);
        if (transfer->write == 2) writeFile(transfer->elsewhere, page);
        if (transfer->rc == TWRC_XFERDONE || transfer->rc == TWRC_CANCEL) state = 7;
        return transfer->rc;
    }
    if (dg == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && msg == MSG_GET) {
        if (state != 6) problem("DAT_IMAGENATIVEXFER in state %d", state);
        auto* handle = static_cast<TW_HANDLE*>(data);
        const Transfer* transfer = currentTransfer();
        if (!handle || !transfer) {
            problem("DAT_IMAGENATIVEXFER without data or with no transfer scripted");
            return TWRC_FAILURE;
        }
        // A source that cannot make the page's image keeps it pending.
        if (refusedByStrictness(TWSX_NATIVE) || !transfer->native.kind) return TWRC_FAILURE;
        if (transfer->sleepMs) Sleep(transfer->sleepMs);
        *handle = makeImage(transfer->native, nextTransfer + 1);
        if (!*handle) problem("could not make the native image of page %d", nextTransfer + 1);
        images.push_back(*handle);
        state = 7;
        return TWRC_XFERDONE;
    }
    if (dg == DG_CONTROL && dat == DAT_PENDINGXFERS) {
        auto* pending = static_cast<TW_PENDINGXFERS*>(data);
        if (!pending) {
            problem("DAT_PENDINGXFERS without data");
            return TWRC_FAILURE;
        }
        call.countIn = pending->Count;
        if (msg == MSG_ENDXFER) {
            if (state != 7 && state != 6) problem("MSG_ENDXFER in state %d", state);
            const Transfer* transfer = currentTransfer();
            if (!transfer) {
                problem("MSG_ENDXFER with no transfer scripted");
                return TWRC_FAILURE;
            }
            ++nextTransfer;
            if (transfer->endXferRc != TWRC_SUCCESS) return transfer->endXferRc;
            pending->Count = transfer->count;
            state = transfer->count ? 6 : 5;
            return TWRC_SUCCESS;
        }
        if (msg == MSG_RESET) {
            if (state != 6) problem("MSG_RESET in state %d", state);
            pending->Count = 0;
            state = 5;
            return TWRC_SUCCESS;
        }
    }
    problem("unexpected call to the source: DG %#x DAT %#x MSG %#x", dg, dat, msg);
    return TWRC_FAILURE;
}

} // namespace

extern "C" {

TW_UINT16 WINAPI DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                           TW_UINT16 msg, void* data)
{
    // The caller reads and frees each container before its next call; checked
    // then, before anything else could reuse the freed handle.
    // A container the caller offers with MSG_SET is its own, and may reuse
    // the handle of a freed one.
    const void* offered = dat == DAT_CAPABILITY && msg == MSG_SET && data
                              ? static_cast<TW_CAPABILITY*>(data)->hContainer
                              : nullptr;
    for (HGLOBAL handle : containers)
        if (handle != offered && GlobalSize(handle) != 0)
            problem("a capability container was not freed before the next call");
    containers.clear();
    // A native image is the caller's to free (GlobalFree or DeleteObject) at once.
    for (HANDLE handle : images)
        if (GetObjectType(handle) == OBJ_BITMAP || GlobalSize(handle) != 0)
            problem("a native image was not freed before the next call");
    images.clear();

    Call call;
    std::memset(&call, 0, sizeof call);
    call.dg = dg;
    call.dat = dat;
    call.msg = msg;
    call.thread = GetCurrentThreadId();
    call.hasData = data != nullptr;
    if (origin)
        call.origin = *origin;
    else
        problem("call without pOrigin: DAT %#x MSG %#x", dat, msg);
    if (origin && std::strcmp(origin->ProductName, "quenLark") != 0)
        problem("pOrigin names '%s'", origin->ProductName);
    if (dest) {
        call.toSource = 1;
        std::strncpy(call.dest, dest->ProductName, sizeof call.dest - 1);
    }
    if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET && data) {
        static_cast<TW_STATUS*>(data)->ConditionCode = script.conditionCode;
        call.rc = TWRC_SUCCESS;
    } else {
        call.rc = dest ? toSource(call, dg, dat, msg, data) : toManager(call, dat, msg, data);
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    call.returned = now.QuadPart;
    EnterCriticalSection(&lock);
    callLog.push_back(call);
    LeaveCriticalSection(&lock);
    return call.rc;
}

Script* standin_script() { return &script; }

int standin_calls(Call* out, int max)
{
    EnterCriticalSection(&lock);
    int count = static_cast<int>(callLog.size());
    for (int i = 0; i < count && i < max; ++i) out[i] = callLog[i];
    LeaveCriticalSection(&lock);
    return count;
}

int standin_problems(char* out, int size)
{
    EnterCriticalSection(&lock);
    int length = static_cast<int>(problemText.size());
    if (size > 0) {
        std::strncpy(out, problemText.c_str(), size - 1);
        out[size - 1] = '\0';
    }
    LeaveCriticalSection(&lock);
    return length;
}

// Containers handed out since the latest call and not yet freed.
int standin_live_containers()
{
    int live = 0;
    for (HGLOBAL handle : containers)
        if (GlobalSize(handle) != 0) ++live;
    return live;
}

HWND standin_source_window() { return sourceUi; }

// The source's own work for a page, done by its own code: a benchmark's floor.
HANDLE standin_make_image(const NativeImage* image, int page) { return makeImage(*image, page); }

void standin_fill_strip(const MemoryImage* image, long first, long rows, int page, unsigned char* bytes)
{
    fillStrip(*image, first, rows, page, bytes);
}

void standin_clear()
{
    EnterCriticalSection(&lock);
    callLog.clear();
    problemText.clear();
    LeaveCriticalSection(&lock);
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        standinInstance = instance;
        InitializeCriticalSection(&lock);
        setDefaults();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = sourceWindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kSourceWindowClass;
        RegisterClassA(&windowClass);
    }
    return TRUE;
}
