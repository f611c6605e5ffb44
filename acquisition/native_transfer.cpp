#include "acquisition/native_transfer.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "acquisition/dib_image.h"
#include "acquisition/image_file_list.h"
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

// The memory of a DIB section, when it holds the file's rows byte for byte:
// 24 bits, uncompressed, no padding (GetDIBits pads with zeros, whatever the
// memory holds there), and its first row the bottom one that GetDIBits gave
// (`bottomRow`). GDI does not tell a section's row order (Wine reports top-down
// sections as bottom-up), so the first byte is changed for a moment and the
// bottom row read again: only the bottom row's memory shows the change. The
// bitmap is the application's since the transfer. Null otherwise: the rows
// are then read through GetDIBits.
const unsigned char* fileRowsOfSection(HBITMAP bitmap, HDC dc, std::vector<unsigned char>& header,
                                       const DibLayout& asked, const unsigned char* bottomRow)
{
    DIBSECTION section;
    if (GetObjectA(bitmap, sizeof section, &section) != sizeof section || !section.dsBm.bmBits) return nullptr;
    if (section.dsBmih.biCompression != BI_RGB || section.dsBmih.biBitCount != 24 || asked.bitCount != 24 ||
        std::size_t(section.dsBm.bmWidthBytes) != asked.stride || std::size_t(asked.width) * 3 != asked.stride)
        return nullptr;
    // What GDI may still be drawing into the bits lands first.
    GdiFlush();
    auto* rows = static_cast<unsigned char*>(section.dsBm.bmBits);
    // A section made on a read-only view is left alone.
    MEMORY_BASIC_INFORMATION memory;
    const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (VirtualQuery(rows, &memory, sizeof memory) != sizeof memory || !(memory.Protect & writable) ||
        std::memcmp(rows, bottomRow, asked.stride) != 0)
        return nullptr;
    std::vector<unsigned char> again(asked.stride);
    rows[0] ^= 0xFF;
    const int read = GetDIBits(dc, bitmap, 0, 1, again.data(), reinterpret_cast<BITMAPINFO*>(header.data()),
                               DIB_RGB_COLORS);
    rows[0] ^= 0xFF;
    return read == 1 && again[0] == (bottomRow[0] ^ 0xFF) ? rows : nullptr;
}

// A bitmap handle (sources that make a DIB section hand over that): its
// pixels asked for as a bottom-up DIB, whatever order it keeps them in, a
// band of rows at a time, each written as it comes; or, for a section whose
// memory already holds the file's rows, from that memory in one piece: read
// through GetDIBits, 100 MB of rows cost another copy.
bool writeBitmap(HBITMAP bitmap, const BmpSink& sink)
{
    BITMAP info;
    if (GetObjectA(bitmap, sizeof info, &info) != sizeof info) return false;
    std::vector<unsigned char> header = bitmapDibHeader(info.bmWidth, info.bmHeight, info.bmBitsPixel);
    DibLayout asked;
    if (header.empty() || !readDibHeader(header.data(), header.size(), asked)) return false;
    unique_memory_dc dc(CreateCompatibleDC(nullptr));
    if (!dc) return false;
    // Scan lines count from the bottom of a bottom-up DIB: the file's order.
    auto read = [&](std::size_t first, std::size_t count, unsigned char* into) {
        return GetDIBits(dc.get(), bitmap, static_cast<UINT>(first), static_cast<UINT>(count), into,
                         reinterpret_cast<BITMAPINFO*>(header.data()), DIB_RGB_COLORS) == static_cast<int>(count);
    };
    // The bottom row first: the palette (and what the header says of it) comes with it.
    std::vector<unsigned char> band(asked.stride);
    if (!read(0, 1, band.data())) return false;
    DibLayout given;
    if (!readDibHeader(header.data(), header.size(), given) || given.stride != asked.stride ||
        given.rows != asked.rows || given.topDown)
        return false;
    const std::vector<unsigned char> head = bmpFileHead(header.data(), given);
    if (!sink(head.data(), head.size())) return false;
    if (const unsigned char* rows = fileRowsOfSection(bitmap, dc.get(), header, asked, band.data()))
        return sink(rows, asked.pixelBytes);
    if (!sink(band.data(), asked.stride)) return false;

    band.resize(rowsPerBand(asked, kBmpBandBytes) * asked.stride);
    for (std::size_t done = 1; done < std::size_t(asked.rows);) {
        const std::size_t count = std::min(band.size() / asked.stride, std::size_t(asked.rows) - done);
        if (!read(done, count, band.data()) || !sink(band.data(), count * asked.stride)) return false;
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
