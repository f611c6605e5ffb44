#include "pages/memory_transfer.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "pages/image_file_list.h"
#include "pages/memory_page.h"
#include "acquisition/transfer_rules.h"
#include "acquisition/twain_session_state.h"
#include "frame/win_handles.h"

namespace dovrikna {

namespace {

bool seek(HANDLE file, std::uint64_t offset)
{
    LONG high = static_cast<LONG>(offset >> 32);
    DWORD low = SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

PageFile pageFile(HANDLE file)
{
    PageFile page;
    page.write = [file](std::uint64_t offset, const unsigned char* bytes, std::size_t count) {
        DWORD written = 0;
        return seek(file, offset) && WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr) &&
               written == count;
    };
    page.read = [file](std::uint64_t offset, unsigned char* bytes, std::size_t count) {
        DWORD read = 0;
        return seek(file, offset) && ReadFile(file, bytes, static_cast<DWORD>(count), &read, nullptr) &&
               read == count;
    };
    return page;
}

// What zero means in the page's 1- and 8-bit rows; chocolate (zero is
// black), TWAIN's default, when the source does not say.
TW_UINT16 pixelFlavor(TwainSession& session)
{
    TW_CAPABILITY capability;
    std::memset(&capability, 0, sizeof capability);
    capability.Cap = ICAP_PIXELFLAVOR;
    capability.ConType = TWON_DONTCARE16;
    if (callDsm(&session.sourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &capability) != TWRC_SUCCESS ||
        !capability.hContainer)
        return TWPF_CHOCOLATE;
    HGLOBAL handle = static_cast<HGLOBAL>(capability.hContainer);
    unique_global_memory container(handle);
    std::vector<TW_UINT16> items;
    if (void* bytes = GlobalLock(handle)) {
        unique_global_lock locked(handle);
        items = containerItems(bytes, GlobalSize(handle), capability.ConType);
    }
    return items.size() == 1 && items[0] == TWPF_VANILLA ? TWPF_VANILLA : TWPF_CHOCOLATE;
}

// Strips without a row, one after another, before the page is given up: a
// source that never finishes must not hold the batch for ever.
constexpr int kMostEmptyStrips = 1000;

} // namespace

TW_UINT16 transferMemory(TwainSession& session, const TW_IMAGEINFO& info, ImageFileNode& node, bool& untouched)
{
    untouched = true;
    if (!memoryPageFits(info)) return TWRC_FAILURE;
    const TW_UINT16 flavor = info.PixelType == TWPT_RGB ? TWPF_CHOCOLATE : pixelFlavor(session);

    TW_SETUPMEMXFER setup;
    std::memset(&setup, 0, sizeof setup);
    if (callDsm(&session.sourceIdentity, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS)
        return TWRC_FAILURE;
    const std::uint32_t size = stripBufferSize(setup, info);
    if (size == 0) return TWRC_FAILURE;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]);
    if (!buffer || !pickTempFileName(".bmp", node.path)) return TWRC_FAILURE;
    unique_file_handle file(CreateFileA(node.path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return TWRC_FAILURE;

    TW_UINT16 code = TWRC_FAILURE;
    bool whole = false;
    try {
        MemoryPageWriter writer;
        bool placed = writer.start(info, flavor, pageFile(file.get()));
        for (int empty = 0; placed && empty < kMostEmptyStrips;) {
            TW_IMAGEMEMXFER strip;
            std::memset(&strip, 0, sizeof strip);
            strip.Compression = TWON_DONTCARE16;
            strip.BytesPerRow = strip.Columns = strip.Rows = TWON_DONTCARE32;
            strip.XOffset = strip.YOffset = strip.BytesWritten = TWON_DONTCARE32;
            strip.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            strip.Memory.Length = size;
            strip.Memory.TheMem = buffer.get();
            code = callDsm(&session.sourceIdentity, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
            if (code != TWRC_SUCCESS && code != TWRC_XFERDONE) break;
            untouched = false;
            placed = writer.place(strip, buffer.get(), size);
            if (code == TWRC_XFERDONE) {
                whole = placed && writer.finish();
                break;
            }
            empty = strip.Rows == 0 ? empty + 1 : 0;
        }
    } catch (const std::bad_alloc&) {
        // A strip too large for the memory left fails its page alone.
    }
    file.reset();
    if (!whole) DeleteFileA(node.path);
    if (whole) return TWRC_XFERDONE;
    return code == TWRC_CANCEL ? TWRC_CANCEL : TWRC_FAILURE;
}

} // namespace dovrikna
