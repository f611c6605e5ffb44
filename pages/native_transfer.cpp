#include "pages/native_transfer.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <vector>

#include "pages/dib_image.h"
#include "pages/image_file_list.h"
#include "acquisition/twain_session_state.h"
#include "frame/win_handles.h"

namespace dovrikna {

namespace {

// Appends to a new file; false once a write falls short (a full disk).
BmpSink fileSink(HANDLE file)
{
    return [file](const unsigned char* bytes, std::size_t count) {
        DWORD written = 0;
        return WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr) && written == count;
    };
}

// A global-memory DIB, read no further than the block's own size, written
// from the block itself.
bool writeGlobalDib(HGLOBAL handle, const BmpSink& sink)
{
    SIZE_T size = GlobalSize(handle);
    if (size == 0) return false;
    void* dib = GlobalLock(handle);
    if (!dib) return false;
    unique_global_lock locked(handle);
    return writeBmpOfDib(dib, size, kBmpBandBytes, sink);
}

// A bitmap handle (sources that make a DIB section hand over that): its
// pixels asked for as a bottom-up DIB, whatever order it keeps them in, a
// band of rows at a time, each written as it comes.
bool writeBitmap(HBITMAP bitmap, const BmpSink& sink)
{
    BITMAP info;
    if (GetObjectA(bitmap, sizeof info, &info) != sizeof info) return false;
    std::vector<unsigned char> header = bitmapDibHeader(info.bmWidth, info.bmHeight, info.bmBitsPixel);
    DibLayout asked;
    if (header.empty() || !readDibHeader(header.data(), header.size(), asked)) return false;
    unique_memory_dc dc(CreateCompatibleDC(nullptr));
    if (!dc) return false;
    const std::size_t perBand = rowsPerBand(asked, kBmpBandBytes);
    std::vector<unsigned char> band(perBand * asked.stride);
    for (std::size_t done = 0; done < std::size_t(asked.rows);) {
        const std::size_t count = std::min(perBand, std::size_t(asked.rows) - done);
        // Scan lines count from the bottom of a bottom-up DIB: the file's order.
        int rows = GetDIBits(dc.get(), bitmap, static_cast<UINT>(done), static_cast<UINT>(count), band.data(),
                             reinterpret_cast<BITMAPINFO*>(header.data()), DIB_RGB_COLORS);
        if (rows != static_cast<int>(count)) return false;
        if (done == 0) {
            // The palette (and what the header says of it) comes with the pixels.
            DibLayout given;
            if (!readDibHeader(header.data(), header.size(), given) || given.stride != asked.stride ||
                given.rows != asked.rows || given.topDown)
                return false;
            const std::vector<unsigned char> head = bmpFileHead(header.data(), given);
            if (!sink(head.data(), head.size())) return false;
        }
        if (!sink(band.data(), count * asked.stride)) return false;
        done += count;
    }
    return true;
}

} // namespace

TW_UINT16 transferNative(TwainSession& session, ImageFileNode& node)
{
    TW_HANDLE handle = nullptr;
    TW_UINT16 code = callDsm(&session.sourceIdentity, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (code != TWRC_XFERDONE) return code;
    if (!handle) return TWRC_FAILURE;
    // The handle is freed as its kind requires, whatever becomes of the page.
    const bool isBitmap = GetObjectType(handle) == OBJ_BITMAP;
    unique_gdi_object bitmap(isBitmap ? handle : nullptr);
    unique_global_memory memory(isBitmap ? nullptr : static_cast<HGLOBAL>(handle));
    bool created = false;
    bool whole = false;
    try {
        if (pickTempFileName(".bmp", node.path)) {
            unique_file_handle file(
                CreateFileA(node.path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            created = static_cast<bool>(file);
            const BmpSink sink = fileSink(file.get());
            if (created)
                whole = isBitmap ? writeBitmap(static_cast<HBITMAP>(handle), sink) : writeGlobalDib(memory.get(), sink);
        }
    } catch (const std::bad_alloc&) {
        // A band too large for the memory left fails its page alone.
    }
    // Nothing is left of a file that could not be written whole.
    if (created && !whole) DeleteFileA(node.path);
    return whole ? TWRC_XFERDONE : TWRC_FAILURE;
}

} // namespace dovrikna
