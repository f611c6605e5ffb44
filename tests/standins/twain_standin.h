// The scripted TWAIN source manager that tests load in place of the system's
// TWAIN_32.DLL. It plays the manager and one source: the test fills its script
// before the library calls, and reads back the log of every DSM_Entry call.
// The script and the log live in the stand-in DLL; a test reaches them through
// the DLL's exports (TwainStandin below).
#ifndef DOVRIKNA_TESTS_TWAIN_STANDIN_H
#define DOVRIKNA_TESTS_TWAIN_STANDIN_H

#include <windows.h>

#include <cstring>
#include <vector>

#include "acquisition/twain_types.h"

namespace standin {

using namespace dovrikna;

// The identity a stand-in source presents, under the given name and id.
inline void fillStandinIdentity(TW_IDENTITY& identity, const char* name, TW_UINT32 id)
{
    std::memset(&identity, 0, sizeof identity);
    identity.Id = id;
    identity.Version.MajorNum = 1;
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 9;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(identity.Manufacturer, "Standin");
    std::strcpy(identity.ProductFamily, "Standin");
    std::strncpy(identity.ProductName, name, sizeof identity.ProductName - 1);
}

// Messages a test posts to the source's window (created by MSG_ENABLEDS):
// the source then answers MSG_PROCESSEVENT with MSG_XFERREADY or MSG_CLOSEDSREQ.
constexpr UINT kScanButton = WM_APP + 1;
constexpr UINT kCloseButton = WM_APP + 2;
constexpr char kSourceWindowClass[] = "DovriknaStandinSourceUI";

// What a capability's MSG_GET answers.
struct Capability {
    TW_UINT16 rc;        // TWRC_SUCCESS makes a container
    TW_UINT16 conType;   // TWON_ENUMERATION, TWON_ONEVALUE, TWON_ARRAY
    TW_UINT32 numItems;  // what the container says it holds
    int itemCount;       // how many items it really holds
    TW_UINT16 items[16];
    int noContainer;     // answers TWRC_SUCCESS and leaves the record as it came
};

// What DAT_IMAGENATIVEXFER hands over: a DIB of this shape (nativeDib below).
struct NativeImage {
    int kind;                // 0: no image, the transfer fails; 1: a global-memory DIB; 2: a bitmap handle
    TW_INT32 width, height;  // a negative height: rows top-down
    TW_UINT16 bits;
    TW_UINT32 compression;
    TW_UINT32 colorsUsed;
    int sizeChange;          // bytes the global block holds beyond (or short of) the DIB
};

// What DAT_IMAGEINFO says of a page and DAT_IMAGEMEMXFER hands over: strips
// of the rows memoryByte() gives, as many rows as the buffer holds.
struct MemoryImage {
    int kind;                // 0: DAT_IMAGEINFO describes nothing; 1: the page below
    TW_INT16 pixelType;      // TWPT_BW, TWPT_GRAY, TWPT_RGB (depth 1, 8, 24), or another
    TW_INT32 width, rows;
    int lengthUnknown;       // DAT_IMAGEINFO says ImageLength -1
    TW_UINT16 compression;   // what every strip says
    int tiled;               // strips of half the width
    int failAt, cancelAt;    // the strip (from 1) that fails or is cancelled; 0: none
};

// Byte k of row y (top first) of page `page`'s memory image, as sent.
inline unsigned char memoryByte(long y, long k, int page)
{
    return static_cast<unsigned char>(y * 13 + k * 5 + page * 71 + 3);
}

// One transfer, in the order the library makes them.
struct Transfer {
    TW_UINT16 imageInfoRc;  // DAT_IMAGEINFO
    TW_UINT16 rc;           // DAT_IMAGEFILEXFER: TWRC_XFERDONE, TWRC_CANCEL, TWRC_FAILURE...
    TW_UINT16 endXferRc;    // MSG_ENDXFER
    TW_UINT16 count;        // the Count MSG_ENDXFER reports
    int write;              // 0: no file; 1: the file named by MSG_SET; 2: `elsewhere`
    char elsewhere[MAX_PATH];
    int modal;              // shows a message box "Standin page <n>" during the transfer
    NativeImage native;     // DAT_IMAGENATIVEXFER
    int pumpMs;             // runs a message loop this long during the transfer
    int sleepMs;            // sleeps this long inside the transfer (file or native), as a scanner does
    MemoryImage memory;     // DAT_IMAGEINFO and DAT_IMAGEMEMXFER
};

struct Script {
    TW_UINT16 openDsm, closeDsm, userSelect, getDefault, openDs, closeDs, enableDs, disableDs;
    TW_UINT16 setupGet;     // MSG_GET of DAT_SETUPFILEXFER
    TW_UINT16 setupSet;     // MSG_SET of DAT_SETUPFILEXFER
    int selectModal;        // shows "Standin select" during MSG_USERSELECT
    char userSourceName[34];
    char defaultSourceName[34];
    Capability xferMech;
    Capability fileFormat;
    Capability pixelFlavor;  // MSG_GETCURRENT
    TW_UINT16 xferMechSet;   // what MSG_SET of ICAP_XFERMECH answers
    // Refuses every transfer but the one ICAP_XFERMECH is set to (native
    // until set), with TWCC_SEQERROR, as a source that keeps to the standard.
    int strict;
    TW_UINT16 setupMem;      // DAT_SETUPMEMXFER
    TW_SETUPMEMXFER memLimits;
    int transferCount;
    Transfer transfers[16];
    TW_UINT16 conditionCode; // what DAT_STATUS answers, to the manager and the source alike
    // Loads the source's module (TWAINDSM.DLL, a copy of this stand-in) at
    // MSG_OPENDS and frees it at MSG_CLOSEDS, as a real manager does.
    int sourceModule;
    int openPumpMs;         // runs a message loop this long during MSG_OPENDS
    int enableRefusals;     // MSG_ENABLEDS fails this many times more first (a scanner busy for a moment)
};

// The packed DIB of a native image of page `page`: a BITMAPINFOHEADER, the
// palette (entry i is i*3, i*5, i*7, 0) and the pixels, byte k of row r in
// memory being r*29 + k*7 + page*53. Built in place, so that a large page
// costs the source no more than its block.
struct NativeDibShape {
    explicit NativeDibShape(const NativeImage& image)
        : rows(image.height < 0 ? -long(image.height) : long(image.height)),
          stride(((image.width > 0 ? image.width : 1) * long(image.bits) + 31) / 32 * 4),
          colors(image.colorsUsed ? image.colorsUsed : image.bits <= 8 ? 1L << image.bits : 0)
    {
    }
    std::size_t headerBytes() const { return 40 + colors * 4; }
    std::size_t size() const { return headerBytes() + std::size_t(stride) * rows; }
    long rows, stride, colors;
};

// The header and the palette, headerBytes() of them.
inline void writeNativeHeader(const NativeImage& image, unsigned char* dib)
{
    const NativeDibShape shape(image);
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = image.width;
    header.biHeight = image.height;
    header.biPlanes = 1;
    header.biBitCount = image.bits;
    header.biCompression = image.compression;
    header.biClrUsed = image.colorsUsed;
    std::memcpy(dib, &header, sizeof header);
    for (long i = 0; i < shape.colors; ++i) {
        dib[40 + i * 4] = static_cast<unsigned char>(i * 3);
        dib[40 + i * 4 + 1] = static_cast<unsigned char>(i * 5);
        dib[40 + i * 4 + 2] = static_cast<unsigned char>(i * 7);
        dib[40 + i * 4 + 3] = 0;
    }
}

// One row of pixels as it lies in memory, `stride` bytes.
inline void writeNativeRow(long r, long stride, int page, unsigned char* row)
{
    for (long k = 0; k < stride; ++k) row[k] = static_cast<unsigned char>(r * 29 + k * 7 + page * 53);
}

inline void writeNativePixels(const NativeImage& image, int page, unsigned char* pixels)
{
    const NativeDibShape shape(image);
    for (long r = 0; r < shape.rows; ++r) writeNativeRow(r, shape.stride, page, pixels + std::size_t(r) * shape.stride);
}

inline std::vector<unsigned char> nativeDib(const NativeImage& image, int page)
{
    std::vector<unsigned char> dib(NativeDibShape(image).size());
    writeNativeHeader(image, dib.data());
    writeNativePixels(image, page, dib.data() + NativeDibShape(image).headerBytes());
    return dib;
}

// One DSM_Entry call as the stand-in received it.
struct Call {
    TW_UINT32 dg;
    TW_UINT16 dat, msg;
    int toSource;              // pDest was not null
    char dest[34];             // pDest->ProductName
    TW_UINT16 rc;              // what the stand-in answered
    DWORD thread;
    TW_IDENTITY origin;        // *pOrigin
    int hasData;               // pData was not null
    void* parent;              // DAT_PARENT: *(HWND*)pData; DAT_USERINTERFACE: hParent
    TW_UINT16 showUI, modalUI; // DAT_USERINTERFACE
    TW_IDENTITY identityIn;    // DAT_IDENTITY: *pData before the call
    char fileName[256];        // DAT_SETUPFILEXFER MSG_SET
    TW_UINT16 format;
    TW_INT16 vRefNum;
    TW_UINT16 cap, conType;    // DAT_CAPABILITY, as the library sent it
    void* container;
    TW_UINT16 setItemType;     // MSG_SET: the one value offered
    TW_UINT32 setItem;
    TW_IMAGEMEMXFER strip;     // DAT_IMAGEMEMXFER as it came, TheMem's bytes not copied
    TW_UINT16 twMessageIn;     // DAT_EVENT
    UINT eventMessage;
    HWND eventWindow;
    TW_UINT16 countIn;         // DAT_PENDINGXFERS
    TW_UINT16 twMessageOut;    // DAT_EVENT: the message handed back
    int page;                  // DAT_IMAGEFILEXFER: the page number whose file it wrote, or 0
    LONGLONG returned;         // QueryPerformanceCounter as the call returned
};

// The stand-in's exports, found by name in the loaded TWAIN_32.DLL.
struct TwainStandin {
    HMODULE module = nullptr;
    Script* (*script)() = nullptr;
    int (*calls)(Call* out, int max) = nullptr;
    int (*problems)(char* out, int size) = nullptr;
    int (*liveContainers)() = nullptr;
    HWND (*sourceWindow)() = nullptr;
    void (*clear)() = nullptr;  // forgets the calls and problems logged so far
    // A page's image as DAT_IMAGENATIVEXFER makes it, and a strip's rows as
    // DAT_IMAGEMEMXFER fills them, by the source's own code.
    HANDLE (*makeImage)(const NativeImage* image, int page) = nullptr;
    void (*fillStrip)(const MemoryImage* image, long first, long rows, int page, unsigned char* bytes) = nullptr;

    // Loads the stand-in (beside the test program) and finds its exports.
    bool load(const char* name = "TWAIN_32.DLL")
    {
        module = LoadLibraryA(name);
        if (!module) return false;
        script = reinterpret_cast<Script* (*)()>(GetProcAddress(module, "standin_script"));
        calls = reinterpret_cast<int (*)(Call*, int)>(GetProcAddress(module, "standin_calls"));
        problems = reinterpret_cast<int (*)(char*, int)>(GetProcAddress(module, "standin_problems"));
        liveContainers = reinterpret_cast<int (*)()>(GetProcAddress(module, "standin_live_containers"));
        sourceWindow = reinterpret_cast<HWND (*)()>(GetProcAddress(module, "standin_source_window"));
        clear = reinterpret_cast<void (*)()>(GetProcAddress(module, "standin_clear"));
        makeImage = reinterpret_cast<HANDLE (*)(const NativeImage*, int)>(GetProcAddress(module, "standin_make_image"));
        fillStrip = reinterpret_cast<void (*)(const MemoryImage*, long, long, int, unsigned char*)>(
            GetProcAddress(module, "standin_fill_strip"));
        return script && calls && problems && liveContainers && sourceWindow && clear && makeImage && fillStrip;
    }
};

} // namespace standin

#endif
