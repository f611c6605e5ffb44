// dovrikna-try: runs dovrikna.dll from its own folder without the
// application, playing the Java side, one job per command line. For field
// support: with --log the library writes its conversation log.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "dovrikna_natives.h"
#include "host_main_window.h"
#include "try/try_jvm.h"

namespace {

const char kUsageText[] =
    "usage: dovrikna-try [--log FILE] [--timeout SECONDS] COMMAND\n"
    "  sources                 choose a scanning source (the source manager's dialog);\n"
    "                          the choice holds for this run only: use scan --choose\n"
    "  scan [--choose] [--dir D]  scan (after choosing the source with --choose); prints\n"
    "                          each page's path as it arrives, copies it to D (made first\n"
    "                          when missing)\n"
    "  thumb VIDEO OUT.bmp     writes the video's first frame to OUT.bmp\n"
    "  drive PATH              the kind and free space of PATH's drive\n"
    "  docs                    the user's documents folder\n"
    "  open FILE               asks the shell to open FILE with its associated program\n"
    "  mv FROM TO              moves or renames a file or folder (never replaces TO)\n"
    "  mail [--to ADDR]... FILE...   hands FILEs to the mail client\n"
    "  --timeout SECONDS       how long to wait for news (a whole number from 1; 600)\n"
    "  --log FILE              the library's conversation log (FILE's folder must exist)\n"
    "exit code: 0 done, 1 the library reported a failure, 2 usage (or a folder that\n"
    "cannot be used), 3 no answer in time,\n"
    "4 the library could not be loaded or misused its Java environment\n";

enum Exit { kDone = 0, kFailed = 1, kUsage = 2, kNoAnswer = 3, kBroken = 4 };

std::u16string u16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }
std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// The tool's own output, as it was given at the start (a started program
// may get other standard handles).
HANDLE toolOut = nullptr, toolErr = nullptr;

// To a console as UTF-16; to a file or pipe as UTF-8.
void write(HANDLE out, const std::wstring& text)
{
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
void say(const std::wstring& text) { write(toolOut, text + L"\n"); }
int fail(int code, const std::wstring& text)
{
    write(toolErr, L"dovrikna-try: " + text + L"\n");
    return code;
}

std::wstring absolute(const std::wstring& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    return length > 0 && length < size ? full.substr(0, length) : path;
}

// A full path as the file functions take it at any length.
std::wstring extended(const std::wstring& full)
{
    if (full.size() < MAX_PATH || full.compare(0, 4, L"\\\\?\\") == 0) return full;
    return full.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC" + full.substr(1) : L"\\\\?\\" + full;
}

bool isFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Why the library may have taken no frame from a file, as far as its bytes
// tell: missing, a folder, empty, cut short (a container whose header
// promises more bytes than the file has), not a video at all, or a video
// whose container looks whole (then the decoders are the question).
std::wstring whyNoFrame(const std::wstring& full)
{
    const std::wstring path = extended(full);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? L"there is no such file"
                   : L"the file cannot be looked at (error " + std::to_wstring(error) + L")";
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return L"it is a folder, not a video";
    const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size == 0) return L"the file is empty (0 bytes)";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return L"the file cannot be read (error " + std::to_wstring(GetLastError()) + L")";
    // Up to `count` bytes at `offset`; fewer at the end of the file.
    auto read = [&](unsigned long long offset, DWORD count) {
        std::string bytes(count, '\0');
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        DWORD got = 0;
        if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !ReadFile(file, &bytes[0], count, &got, nullptr))
            got = 0;
        bytes.resize(got);
        return bytes;
    };
    auto le = [](const std::string& bytes, size_t at, size_t count) {
        unsigned long long value = 0;
        for (size_t i = count; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
        return value;
    };
    auto be = [](const std::string& bytes, size_t at, size_t count) {
        unsigned long long value = 0;
        for (size_t i = 0; i < count; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
        return value;
    };
    const std::string head = read(0, 32);
    std::wstring kind, cut;
    bool measured = false; // the container tells its length, and the file has it
    auto promises = [&](const wchar_t* name, unsigned long long needed) {
        kind = name;
        measured = true;
        if (needed > size)
            cut = L"the file is cut short: its " + kind + L" header promises " + std::to_wstring(needed) +
                  L" bytes, it has " + std::to_wstring(size);
    };
    if (head.size() >= 12 && head.compare(0, 4, "RIFF") == 0 && head.compare(8, 4, "AVI ") == 0) {
        promises(L"AVI", le(head, 4, 4) + 8);
    } else if (head.size() >= 8 && (head.compare(4, 4, "ftyp") == 0 || head.compare(4, 4, "moov") == 0 ||
                                     head.compare(4, 4, "mdat") == 0 || head.compare(4, 4, "wide") == 0)) {
        // MP4 and QuickTime: the top-level boxes must fill the file, one of them the index.
        kind = L"MP4/QuickTime";
        bool index = false;
        for (unsigned long long at = 0; at < size && cut.empty();) {
            const std::string box = read(at, 16);
            unsigned long long length = box.size() >= 8 ? be(box, 0, 4) : 0;
            if (length == 1 && box.size() >= 16) length = be(box, 8, 8);
            else if (length == 0 && box.size() >= 8) length = size - at;
            if (box.size() < 8 || length < 8) {
                cut = L"the file is damaged: its MP4/QuickTime boxes end in bytes that are no box";
                break;
            }
            index = index || box.compare(4, 4, "moov") == 0;
            promises(L"MP4/QuickTime", at + length);
            at += length;
        }
        if (cut.empty() && !index)
            cut = L"the file has no index (MP4/QuickTime 'moov' box): a recording that was not finished";
    } else if (head.size() >= 24 && be(head, 0, 8) == 0x3026B2758E66CF11ull) {
        promises(L"ASF (WMV)", le(head, 16, 8));
    } else if (head.size() >= 4 && be(head, 0, 4) == 0x1A45DFA3) {
        kind = L"Matroska/WebM";
    } else if (head.size() >= 4 && (be(head, 0, 4) == 0x000001BA || be(head, 0, 4) == 0x000001B3)) {
        kind = L"MPEG";
    } else if (head.size() >= 1 && head[0] == 0x47 && (size < 189 || read(188, 1) == "\x47")) {
        kind = L"MPEG transport stream";
    } else if (head.size() >= 3 && head.compare(0, 3, "FLV") == 0) {
        kind = L"Flash video";
    }
    CloseHandle(file);
    if (!cut.empty()) return cut;
    if (kind.empty()) return L"it is not a video: it begins as no video format this tool knows";
    if (!measured)
        return L"a " + kind + L" file, which the decoders here took no frame from (cut short or damaged, no "
               L"video stream, or a codec without a decoder)";
    return L"the file looks whole (" + kind +
           L"); the decoders here took no frame from it (no video stream, or a codec without a decoder)";
}

// The folder and any missing folders above it: ERROR_SUCCESS, or the error of
// the last folder that could not be made (ERROR_ALREADY_EXISTS when a file
// has the name). A share's server and name are not folders to make; their
// attempts just fail.
DWORD makeFolders(const std::wstring& path)
{
    const std::wstring full = absolute(path);
    DWORD error = ERROR_PATH_NOT_FOUND;
    for (size_t end = full.find_first_of(L"\\/", 3);; end = full.find_first_of(L"\\/", end + 1)) {
        const std::wstring folder = full.substr(0, end);
        if (!isFolder(folder) && !CreateDirectoryW(folder.c_str(), nullptr)) error = GetLastError();
        if (end == std::wstring::npos) break;
    }
    return isFolder(full) ? ERROR_SUCCESS : error;
}

// A whole number of seconds from 1 on, as milliseconds that a DWORD holds.
bool parseSeconds(const std::wstring& text, DWORD& ms)
{
    if (text.empty() || text.size() > 7 || text.find_first_not_of(L"0123456789") != std::wstring::npos) return false;
    const unsigned long seconds = std::wcstoul(text.c_str(), nullptr, 10);
    if (seconds == 0) return false;
    ms = static_cast<DWORD>(seconds * 1000);
    return true;
}

std::wstring ownFolder()
{
    wchar_t exe[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, length);
    return path.substr(0, path.rfind(L'\\') + 1);
}

// The library and its natives, found by the names a Java VM of this
// architecture binds.
struct Library {
    HMODULE module = nullptr;
    std::string missing;
#define TRY_DECLARE_NATIVE(name, bytes, result, args) result(JNICALL* name) args = nullptr;
    DOVRIKNA_NATIVES(TRY_DECLARE_NATIVE)
#undef TRY_DECLARE_NATIVE

    bool load(const std::wstring& path)
    {
        module = LoadLibraryW(path.c_str());
        if (!module) return false;
#ifdef _WIN64
#define TRY_EXPORT_NAME(name, bytes) "Java_" #name
#else
#define TRY_EXPORT_NAME(name, bytes) "_Java_" #name "@" #bytes
#endif
#define TRY_RESOLVE_NATIVE(name, bytes, result, args)                                                \
    name = reinterpret_cast<result(JNICALL*) args>(                                                  \
        reinterpret_cast<void*>(GetProcAddress(module, TRY_EXPORT_NAME(name, bytes))));             \
    if (!name) missing += std::string(TRY_EXPORT_NAME(name, bytes)) + " ";
        DOVRIKNA_NATIVES(TRY_RESOLVE_NATIVE)
#undef TRY_RESOLVE_NATIVE
#undef TRY_EXPORT_NAME
        // As a Java VM does right after the load; the VM pointer is unused.
        auto onLoad = reinterpret_cast<DovriknaOnLoad>(
            reinterpret_cast<void*>(GetProcAddress(module, DOVRIKNA_ON_LOAD_EXPORT)));
        if (!onLoad || onLoad(nullptr, nullptr) != JNI_VERSION_1_2) missing += DOVRIKNA_ON_LOAD_EXPORT " ";
        return missing.empty();
    }
};

// Answers this thread's messages for `ms` at most, as the Java side's event
// thread would (the library's windows are children of ours).
void pump(DWORD ms)
{
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

enum : jint { kPending = 0, kIdle = 1, kSignalled = 2, kFinished = 3 };

// For its life, the process's standard handles are NUL, as a program
// started now takes them; `write` still reaches the tool's own.
class StandardHandlesToNul {
public:
    StandardHandlesToNul()
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        nul_ = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
        for (int i = 0; i < 3; ++i) {
            saved_[i] = GetStdHandle(kWhich[i]);
            SetStdHandle(kWhich[i], nul_);
        }
    }
    ~StandardHandlesToNul()
    {
        for (int i = 0; i < 3; ++i) SetStdHandle(kWhich[i], saved_[i]);
        if (nul_ != INVALID_HANDLE_VALUE) CloseHandle(nul_);
    }
    StandardHandlesToNul(const StandardHandlesToNul&) = delete;
    StandardHandlesToNul& operator=(const StandardHandlesToNul&) = delete;

private:
    static constexpr DWORD kWhich[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE nul_;
    HANDLE saved_[3];
};

// A message box of the library's that is up in this process: "Error" (the
// system's caption for a box without one, as the scan's when there is no
// source manager) or "Mail Error"; null when none. A source's own dialogs
// (Wine's camera shows "Transferring" while it reads the photos) are no
// concern of the person's.
HWND libraryMessageBox()
{
    for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window;
         window = FindWindowExW(nullptr, window, L"#32770", nullptr)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t caption[32] = L"";
        GetWindowTextW(window, caption, 32);
        const bool library = std::wcscmp(caption, L"Error") == 0 || std::wcscmp(caption, L"Mail Error") == 0;
        if (process == GetCurrentProcessId() && IsWindowVisible(window) && library) return window;
    }
    return nullptr;
}

// Says once per box that the library shows one and waits for it: the person
// at the screen must answer it, and the tool, which waits too, would
// otherwise look hung. The box's text, or "" when no new box is up.
std::wstring noticeLibraryBox(HWND& told)
{
    const HWND box = libraryMessageBox();
    if (!box || box == told) return L"";
    told = box;
    wchar_t caption[256] = L"", text[1024] = L"";
    GetWindowTextW(box, caption, 256);
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    write(toolErr, L"dovrikna-try: the library shows a message box and waits until it is answered: \"" +
                       std::wstring(caption) + L"\": \"" + text +
                       L"\". Answer it with its button (or Enter) on the screen; where no one can see the "
                       L"screen (xvfb-run), end the tool (Ctrl+C).\n");
    return text;
}

// A thread's watch for the library's boxes while the tool's own thread is
// held by a native.
struct BoxWatch {
    std::atomic<bool> done{false};
    std::wstring told; // the last box's text

    static DWORD WINAPI run(void* parameter)
    {
        BoxWatch& watch = *static_cast<BoxWatch*>(parameter);
        HWND box = nullptr;
        while (!watch.done) {
            const std::wstring text = noticeLibraryBox(box);
            if (!text.empty()) watch.told = text;
            Sleep(50);
        }
        return 0;
    }
};

class Session {
public:
    Session(Library& lib, tryjvm::Jvm& jvm, DWORD timeoutMs) : lib_(lib), jvm_(jvm), timeoutMs_(timeoutMs) {}

    // Waits for news as `pump` does, and tells of a message box of the library's.
    void wait(DWORD ms)
    {
        pump(ms);
        noticeLibraryBox(toldBox_);
    }

    int sources()
    {
        lib_.com_quenlark_foto_TwainHandler_selectSource0(env(), nullptr);
        const DWORD start = GetTickCount();
        jint status = kPending;
        while ((status = lib_.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr)) == kPending) {
            if (GetTickCount() - start > timeoutMs_) return fail(kNoAnswer, L"no answer to the selection in time");
            wait(20);
        }
        if (status == kIdle) {
            say(L"A source was chosen; the choice holds for this run only (scan --choose chooses, then scans).");
            return kDone;
        }
        return fail(kFailed, L"no source was chosen (cancelled, none installed, or no source manager)");
    }

    int scan(const std::wstring& directory)
    {
        lib_.com_quenlark_foto_TwainHandler_acquireImage0(env(), nullptr);
        DWORD lastNews = GetTickCount();
        int pages = 0;
        for (;;) {
            const jint status = lib_.com_quenlark_foto_TwainHandler_queryImageFile0(env(), nullptr);
            if (status == kFinished) break;
            if (status == kSignalled) {
                lastNews = GetTickCount();
                jintArray flag = jvm_.newIntArray({-1});
                jstring path = lib_.com_quenlark_foto_TwainHandler_getImageFile0(env(), nullptr, flag);
                if (!path) return fail(kFailed, L"a page was signalled, but no path came with it");
                const std::wstring page = wide(jvm_.text(path));
                ++pages;
                say(page);
                if (!directory.empty()) {
                    const std::wstring copy = freeName(directory, page);
                    if (!CopyFileW(page.c_str(), copy.c_str(), TRUE))
                        return fail(kFailed, L"could not copy the page to " + copy);
                    say(L"  copied to " + copy);
                }
                continue;
            }
            if (GetTickCount() - lastNews > timeoutMs_) return fail(kNoAnswer, L"no news of the scan in time");
            wait(20);
        }
        if (pages == 0) return fail(kFailed, L"the scan ended without a page (cancelled, failed or no source)");
        say(std::to_wstring(pages) + (pages == 1 ? L" page." : L" pages."));
        return kDone;
    }

    int thumb(const std::wstring& video, const std::wstring& bmp)
    {
        // Asked first with no room, the library tells the frame's size.
        jstring path = jvm_.newString(u16(absolute(video)));
        jintArray size = jvm_.newIntArray({0, 0});
        jint result = lib_.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env(), nullptr, path, size,
                                                                         jvm_.newByteArray({}));
        if (result < 0) return fail(kFailed, L"no frame could be taken from " + video + L": " + whyNoFrame(absolute(video)));
        const jint width = jvm_.ints(size)[0], height = jvm_.ints(size)[1];
        if (width <= 0 || height == 0) return fail(kFailed, L"the library gave no frame size");
        const int rows = height < 0 ? -height : height;
        jbyteArray pixels = jvm_.newByteArray(std::vector<jbyte>(static_cast<size_t>(width) * rows * 3));
        result = lib_.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(env(), nullptr, path, size, pixels);
        if (result != 0) return fail(kFailed, L"the frame did not fit the size the library gave");
        if (!writeBitmap(bmp, width, height, jvm_.bytes(pixels))) return fail(kFailed, L"could not write " + bmp);
        say(std::to_wstring(width) + L"x" + std::to_wstring(rows) + L" frame written to " + bmp);
        return kDone;
    }

    int drive(const std::wstring& path)
    {
        static const wchar_t* const kinds[] = {L"unknown", L"removable medium", L"fixed disk",
                                               L"network drive", L"CD-ROM drive", L"RAM disk"};
        jstring root = jvm_.newString(u16(path));
        const jint kind = lib_.com_quenlark_util_FileSystem_getDriveType0(env(), nullptr, root);
        say(path + L": " + (kind >= 0 && kind <= 5 ? kinds[kind] : L"?") + L" (" + std::to_wstring(kind) + L")");
        jlongArray space = jvm_.newLongArray({-1, -1});
        if (lib_.com_quenlark_util_FileSystem_getDiskFreeSpace0(env(), nullptr, root, space)) {
            say(L"free: " + std::to_wstring(jvm_.longs(space)[0]) + L" bytes for this user, " +
                std::to_wstring(jvm_.longs(space)[1]) + L" bytes on the volume");
        } else if (kind == 0) {
            return fail(kFailed, L"neither the kind nor the free space of " + path + L" is known");
        } else {
            say(L"free: unknown");
        }
        return kDone;
    }

    int docs()
    {
        jstring folder = lib_.com_quenlark_util_FileSystem_getMyDocumentFolder0(env(), nullptr);
        if (!folder) return fail(kFailed, L"the library found no documents folder");
        say(wide(jvm_.text(folder)));
        return kDone;
    }

    int open(const std::wstring& file)
    {
        const std::wstring path = absolute(file);
        const bool exists = GetFileAttributesW(extended(path).c_str()) != INVALID_FILE_ATTRIBUTES;
        std::wstring given = path, how;
        if (path.size() >= MAX_PATH) {
            // ShellExecute takes no path of MAX_PATH characters or more: it
            // opens nothing and says nothing. The short name of the folder
            // may fit; the file keeps its long name, whose extension picks
            // the program (a short name cuts it to three letters).
            const size_t slash = path.find_last_of(L'\\');
            const std::wstring folder = extended(path.substr(0, slash));
            std::wstring shortPath(GetShortPathNameW(folder.c_str(), nullptr, 0), L'\0');
            const DWORD length = shortPath.empty() || !exists
                                     ? 0
                                     : GetShortPathNameW(folder.c_str(), &shortPath[0],
                                                         static_cast<DWORD>(shortPath.size()));
            shortPath.resize(length < shortPath.size() ? length : 0);
            if (shortPath.compare(0, 4, L"\\\\?\\") == 0) shortPath.erase(0, 4);
            if (!shortPath.empty()) shortPath += path.substr(slash);
            if (shortPath.empty() || shortPath.size() >= MAX_PATH)
                return fail(kFailed, L"the shell opens no path of " + std::to_wstring(MAX_PATH) +
                                         L" characters or more, and " + path + L" (" +
                                         std::to_wstring(path.size()) + L") " +
                                         (exists ? L"has no short form that fits" : L"does not exist") +
                                         L": nothing was opened");
            given = shortPath;
            how = L" as " + shortPath + L" (its folder's short name: the shell opens no path of " +
                  std::to_wstring(MAX_PATH) + L" characters or more)";
        }
        {
            // The program the shell starts would inherit the tool's output
            // and keep it open while it runs: $(dovrikna-try open a.txt)
            // would wait for the program's end.
            StandardHandlesToNul quiet;
            if (!lib_.com_quenlark_ui_awt_AwtUtil_openDefaultApp0(env(), nullptr, jvm_.newString(u16(given))))
                return fail(kFailed, L"the library could not start opening " + path);
            // The shell is asked on a thread of the library's, which holds the
            // library until it is done: freed here, the library goes once the
            // shell has been asked.
            FreeLibrary(lib_.module);
            const DWORD start = GetTickCount();
            while (GetModuleHandleW(L"dovrikna.dll")) {
                if (GetTickCount() - start > timeoutMs_) return fail(kNoAnswer, L"the shell was not done in time");
                pump(20);
            }
            lib_.module = nullptr;
        }
        // All the library knows: its thread asked the shell and returned.
        say(L"Asked the shell to open " + path + how + L"; whether a program started is not known.");
        if (!exists) write(toolErr, L"dovrikna-try: note: " + path + L" does not exist\n");
        return kDone;
    }

    int mv(const std::wstring& from, const std::wstring& to)
    {
        const std::wstring source = absolute(from), target = absolute(to);
        if (lib_.com_quenlark_foto_Repository_mv0(env(), nullptr, jvm_.newString(u16(source)),
                                                  jvm_.newString(u16(target)))) {
            say(L"Moved " + source + L" to " + target + L".");
            return kDone;
        }
        // The library says only no; what the file system shows may say why.
        std::wstring why = L"";
        if (GetFileAttributesW(extended(source).c_str()) == INVALID_FILE_ATTRIBUTES) why = L": " + source + L" does not exist";
        else if (GetFileAttributesW(extended(target).c_str()) != INVALID_FILE_ATTRIBUTES)
            why = L": " + target + L" exists already (it is never replaced)";
        else if (!isFolder(target.substr(0, target.find_last_of(L'\\') + 1)))
            why = L": the folder " + target.substr(0, target.find_last_of(L'\\') + 1) + L" does not exist";
        else if (isFolder(source))
            why = L" (a folder is not moved to another volume)";
        return fail(kFailed, L"the library could not move " + source + L" to " + target + why);
    }

    int mail(const std::vector<std::wstring>& to, const std::vector<std::wstring>& files)
    {
        std::wstring all;
        for (const std::wstring& text : to) all += text;
        for (const std::wstring& file : files) all += absolute(file);
        // A separator that none of the texts holds; '|' cannot be in a path.
        wchar_t separator = L'|';
        for (wchar_t candidate : {L'|', L'*', L'?', L'\t', L'\x01'}) {
            separator = candidate;
            if (all.find(candidate) == std::wstring::npos) break;
        }
        std::wstring attachments, recipients;
        for (const std::wstring& file : files) attachments += (attachments.empty() ? L"" : std::wstring(1, separator)) + absolute(file);
        for (const std::wstring& text : to) recipients += (recipients.empty() ? L"" : std::wstring(1, separator)) + text;
        // sendFiles0 holds this thread while the client and any box of the
        // library's are up: another thread looks for the box.
        BoxWatch watch;
        HANDLE watcher = CreateThread(nullptr, 0, BoxWatch::run, &watch, 0, nullptr);
        lib_.com_quenlark_ui_awt_AwtUtil_sendFiles0(env(), nullptr, static_cast<jchar>(separator),
                                                    jvm_.newString(u16(attachments)), jvm_.newString(u16(recipients)));
        watch.done = true;
        if (watcher) {
            WaitForSingleObject(watcher, INFINITE);
            CloseHandle(watcher);
        }
        const std::wstring told = watch.told;
        // sendFiles0 returns nothing of it: a refusal is told in the library's box.
        if (!told.empty()) return fail(kFailed, L"the mail was refused; the library told: " + told);
        say(L"Gave " + std::to_wstring(files.size()) + L" file(s) to the mail client; no refusal was told.");
        return kDone;
    }

private:
    JNIEnv* env() { return jvm_.env(); }

    // The page's file name in the folder, or name-2, name-3... when taken.
    static std::wstring freeName(const std::wstring& directory, const std::wstring& page)
    {
        const std::wstring name = page.substr(page.find_last_of(L"\\/") + 1);
        const size_t dot = name.rfind(L'.');
        const std::wstring stem = name.substr(0, dot), extension = dot == std::wstring::npos ? L"" : name.substr(dot);
        std::wstring folder = absolute(directory);
        if (folder.back() != L'\\') folder += L'\\';
        std::wstring candidate = folder + name;
        for (int n = 2; GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
            candidate = folder + stem + L"-" + std::to_wstring(n) + extension;
        return candidate;
    }

    // The frame's 24-bit rows as the library gives them (a DIB's order), each
    // padded to four bytes as a BMP file wants.
    static bool writeBitmap(const std::wstring& path, jint width, jint height, const std::vector<jbyte>& pixels)
    {
        const int rows = height < 0 ? -height : height;
        const DWORD rowBytes = static_cast<DWORD>(width) * 3, stride = (rowBytes + 3) & ~3u;
        BITMAPFILEHEADER file = {};
        BITMAPINFOHEADER info = {};
        info.biSize = sizeof info;
        info.biWidth = width;
        info.biHeight = height;
        info.biPlanes = 1;
        info.biBitCount = 24;
        info.biCompression = BI_RGB;
        info.biSizeImage = stride * rows;
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof info;
        file.bfSize = file.bfOffBits + info.biSizeImage;
        HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) && WriteFile(out, &info, sizeof info, &written, nullptr);
        const char padding[3] = {};
        for (int row = 0; ok && row < rows; ++row) {
            ok = WriteFile(out, pixels.data() + static_cast<size_t>(row) * rowBytes, rowBytes, &written, nullptr) &&
                 (stride == rowBytes || WriteFile(out, padding, stride - rowBytes, &written, nullptr));
        }
        CloseHandle(out);
        return ok;
    }

    Library& lib_;
    tryjvm::Jvm& jvm_;
    DWORD timeoutMs_;
    HWND toldBox_ = nullptr;
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    toolOut = GetStdHandle(STD_OUTPUT_HANDLE);
    toolErr = GetStdHandle(STD_ERROR_HANDLE);
    std::vector<std::wstring> args(argv + 1, argv + argc);
    std::wstring logFile;
    DWORD timeoutMs = 600 * 1000;
    std::wstring directory;
    bool choose = false;
    std::vector<std::wstring> to, rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == L"--log" && hasValue) {
            logFile = absolute(args[++i]);
        } else if (args[i] == L"--timeout" && hasValue) {
            if (!parseSeconds(args[++i], timeoutMs)) {
                std::fputs(kUsageText, stderr);
                return fail(kUsage, L"--timeout wants a whole number of seconds from 1, not " + args[i]);
            }
        } else if (args[i] == L"--dir" && hasValue) {
            directory = args[++i];
        } else if (args[i] == L"--choose") {
            choose = true;
        } else if (args[i] == L"--to" && hasValue) {
            to.push_back(args[++i]);
        } else if (args[i].size() > 1 && args[i][0] == L'-' && args[i][1] == L'-') {
            std::fputs(kUsageText, stderr);
            return fail(kUsage, L"unknown or incomplete option " + args[i]);
        } else {
            rest.push_back(args[i]);
        }
    }
    const std::wstring command = rest.empty() ? L"" : rest.front();
    const size_t operands = rest.size() - (rest.empty() ? 0 : 1);
    const bool valid = (command == L"sources" || command == L"docs" || command == L"scan")   ? operands == 0
                       : (command == L"drive" || command == L"open")                      ? operands == 1
                       : (command == L"thumb" || command == L"mv")                        ? operands == 2
                       : command == L"mail"                                               ? operands >= 1
                                                                                          : false;
    if (!valid || ((!directory.empty() || choose) && command != L"scan") || (!to.empty() && command != L"mail")) {
        std::fputs(kUsageText, stderr);
        return kUsage;
    }

    // The library writes no log, and says nothing, into a folder that does not exist.
    if (!logFile.empty() && !isFolder(logFile.substr(0, logFile.rfind(L'\\') + 1)))
        return fail(kUsage, L"the folder of the log file " + logFile + L" does not exist: nothing would be logged");
    if (!directory.empty() && !isFolder(directory)) {
        const DWORD error = makeFolders(directory);
        if (error != ERROR_SUCCESS)
            return fail(kUsage, L"could not make the folder " + absolute(directory) +
                                    (error == ERROR_ALREADY_EXISTS ? std::wstring(L" (a file has that name)")
                                                                   : L" (error " + std::to_wstring(error) + L")"));
        say(L"Made the folder " + absolute(directory) + L".");
    }

    // Read by the library once, as it loads.
    if (!logFile.empty()) SetEnvironmentVariableW(L"DOVRIKNA_LOG", logFile.c_str());
    // The first window of a Wine session starts Wine's desktop process
    // (explorer.exe /desktop), which takes this process's standard handles
    // as its own and outlives it: a pipe or file given to the tool would
    // stay open for seconds after the tool has ended.
    HWND mainWindow;
    {
        StandardHandlesToNul quiet;
        mainWindow = makeMainAppWindow();
    }
    Library lib;
    const std::wstring dll = ownFolder() + L"dovrikna.dll";
    if (!lib.load(dll)) {
        if (!lib.module) return fail(kBroken, L"could not load " + dll + L" (error " + std::to_wstring(GetLastError()) + L")");
        return fail(kBroken, L"the library lacks " + std::wstring(lib.missing.begin(), lib.missing.end()));
    }

    // The library's scanning thread is let reach its loop first (its window
    // is made just before), as it has in an application that has run for a
    // while: a library freed while that thread is still making its window
    // waits for it, and then keeps itself mapped. `open` frees the library
    // right after the shell is asked.
    {
        const DWORD start = GetTickCount();
        while (!FindWindowExA(mainWindow, nullptr, "com_quenlark_foto_TwainHandler_class", nullptr) &&
               GetTickCount() - start < 2000)
            pump(10);
    }

    tryjvm::Jvm jvm;
    Session session(lib, jvm, timeoutMs);
    // The choice of `sources` lives in this process only: scan --choose makes
    // it where the scan finds it.
    int code = command == L"sources" || choose ? session.sources() : kDone;
    if (command == L"sources" || code != kDone) {
        // chosen, or the choice failed
    } else if (command == L"scan") code = session.scan(directory);
    else if (command == L"thumb") code = session.thumb(rest[1], rest[2]);
    else if (command == L"drive") code = session.drive(rest[1]);
    else if (command == L"docs") code = session.docs();
    else if (command == L"open") code = session.open(rest[1]);
    else if (command == L"mv") code = session.mv(rest[1], rest[2]);
    else code = session.mail(to, std::vector<std::wstring>(rest.begin() + 1, rest.end()));

    for (const std::string& problem : jvm.problems()) {
        fail(kBroken, L"JNI misuse: " + std::wstring(problem.begin(), problem.end()));
        code = kBroken;
    }
    // The library is freed before the process ends: under Wine a process that
    // ended with it loaded could hang in its exit. (After an acquisition it
    // keeps itself mapped and goes with the process.)
    if (lib.module) FreeLibrary(lib.module);
    if (!logFile.empty() && GetFileAttributesW(logFile.c_str()) == INVALID_FILE_ATTRIBUTES)
        fail(code, L"the library wrote no log to " + logFile);
    return code;
}
