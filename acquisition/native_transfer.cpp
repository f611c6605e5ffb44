#include "acquisition/native_transfer.h"

#include <windows.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "acquisition/dib_image.h"
#include "acquisition/image_file_list.h"
#include "acquisition/twain_session_state.h"
#include "frame/win_handles.h"

namespace dovrikna {

namespace {

// A global-memory DIB, read no further than the block's own size.
std::vector<unsigned char> bmpFromGlobalDib(HGLOBAL handle)
{
    SIZE_T size = GlobalSize(handle);
    if (size == 0) return {};
    void* dib = GlobalLock(handle);
    if (!dib) return {};
    unique_global_lock locked(handle);
    return bmpFileFromDib(dib, size);
}

// A bitmap handle (sources that make a DIB section hand over that): its
// pixels asked for as a bottom-up DIB, whatever order it keeps them in.
std::vector<unsigned char> bmpFromBitmap(HBITMAP bitmap)
{
    BITMAP info;
    if (GetObjectA(bitmap, sizeof info, &info) != sizeof info) return {};
    std::vector<unsigned char> dib = dibForBitmap(info.bmWidth, info.bmHeight, info.bmBitsPixel);
    DibLayout layout;
    if (dib.empty() || !readDibLayout(dib.data(), dib.size(), layout)) return {};
    unique_memory_dc dc(CreateCompatibleDC(nullptr));
    if (!dc) return {};
    int rows = GetDIBits(dc.get(), bitmap, 0, layout.rows, dib.data() + layout.pixelsOffset,
                         reinterpret_cast<BITMAPINFO*>(dib.data()), DIB_RGB_COLORS);
    if (rows != layout.rows) return {};
    return bmpFileFromDib(dib.data(), dib.size());
}

// The image of the handle as a BMP file; the handle is freed.
std::vector<unsigned char> takeImage(TW_HANDLE handle)
{
    if (GetObjectType(handle) == OBJ_BITMAP) {
        unique_gdi_object bitmap(handle);
        return bmpFromBitmap(static_cast<HBITMAP>(handle));
    }
    unique_global_memory memory(static_cast<HGLOBAL>(handle));
    return bmpFromGlobalDib(memory.get());
}

// A new file of these bytes; nothing is left when it cannot be written whole.
bool writeNewFile(const char* path, const std::vector<unsigned char>& bytes)
{
    unique_file_handle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    bool whole = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                 written == bytes.size();
    file.reset();
    if (!whole) DeleteFileA(path);
    return whole;
}

} // namespace

TW_UINT16 transferNative(TwainSession& session, ImageFileNode& node)
{
    TW_HANDLE handle = nullptr;
    TW_UINT16 code = callDsm(&session.sourceIdentity, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (code != TWRC_XFERDONE) return code;
    if (!handle) return TWRC_FAILURE;
    try {
        std::vector<unsigned char> file = takeImage(handle);
        if (file.empty() || !pickTempFileName(".bmp", node.path)) return TWRC_FAILURE;
        return writeNewFile(node.path, file) ? TWRC_XFERDONE : TWRC_FAILURE;
    } catch (const std::bad_alloc&) {
        // An image too large for the memory left fails its page alone.
        return TWRC_FAILURE;
    }
}

} // namespace dovrikna
