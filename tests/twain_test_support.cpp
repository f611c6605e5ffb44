#include "twain_test_support.h"

#include <cstdio>

namespace twaintest {

using namespace standin;

BoxCloser::BoxCloser(std::function<void(const std::string&)> onBox)
    : onBox_(std::move(onBox)), thread_([this] { run(); })
{
}

BoxCloser::~BoxCloser()
{
    stop_ = true;
    thread_.join();
}

void BoxCloser::run()
{
    while (!stop_) {
        HWND box = FindWindowA("#32770", nullptr);
        if (!box) {
            Sleep(10);
            continue;
        }
        // A box found while it is being made may not have its text yet.
        char text[512] = "";
        for (int i = 0; i < 100 && GetDlgItemTextA(box, 0xFFFF, text, sizeof text) == 0; ++i) Sleep(10);
        {
            std::lock_guard<std::mutex> hold(mutex_);
            texts_.push_back(text);
        }
        if (onBox_) onBox_(text);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(10);
        ++closed_;
    }
}

std::vector<std::string> BoxCloser::texts() const
{
    std::lock_guard<std::mutex> hold(mutex_);
    return texts_;
}

bool BoxCloser::waitFor(size_t count, DWORD ms) const
{
    return waitUntil([&] { return closed_.load() >= count; }, ms);
}

std::string callName(const Call& call)
{
    struct Known {
        TW_UINT32 dg;
        TW_UINT16 dat, msg;
        bool toSource;
        const char* name;
    };
    static const Known known[] = {
        {DG_CONTROL, DAT_PARENT, MSG_OPENDSM, false, "OPENDSM"},
        {DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, false, "CLOSEDSM"},
        {DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, false, "USERSELECT"},
        {DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, false, "GETDEFAULT"},
        {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, false, "OPENDS"},
        {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, false, "CLOSEDS"},
        {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, true, "ENABLEDS"},
        {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, true, "DISABLEDS"},
        {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, true, "PROCESSEVENT"},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET, true, "GET"},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, true, "GETCURRENT"},
        {DG_CONTROL, DAT_CAPABILITY, MSG_SET, true, "SET"},
        {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, true, "SETUPMEMXFER"},
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, true, "IMAGEMEMXFER"},
        {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, true, "IMAGEINFO"},
        {DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, true, "SETUPFILEXFER SET"},
        {DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, true, "SETUPFILEXFER GET"},
        {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, true, "IMAGEFILEXFER"},
        {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, true, "IMAGENATIVEXFER"},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, true, "ENDXFER"},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, true, "RESET"},
    };
    for (const Known& k : known) {
        if (k.dg != call.dg || k.dat != call.dat || k.msg != call.msg) continue;
        std::string name = k.name;
        if (k.toSource != (call.toSource != 0)) name += " ?dest";
        if (call.dat == DAT_CAPABILITY)
            name += call.cap == ICAP_XFERMECH ? " XFERMECH"
                    : call.cap == ICAP_IMAGEFILEFORMAT ? " IMAGEFILEFORMAT"
                    : call.cap == ICAP_PIXELFLAVOR ? " PIXELFLAVOR"
                                                        : " ?cap";
        return name;
    }
    char text[64];
    std::snprintf(text, sizeof text, "? DG %#x DAT %#x MSG %#x", call.dg, call.dat, call.msg);
    return text;
}

std::vector<std::string> callNames(const std::vector<Call>& calls, bool allEvents)
{
    std::vector<std::string> names;
    for (const Call& call : calls) {
        if (!allEvents && call.dat == DAT_EVENT && call.msg == MSG_PROCESSEVENT && call.rc != TWRC_DSEVENT)
            continue;
        names.push_back(callName(call));
    }
    return names;
}

std::vector<Call> loggedCalls(const TwainStandin& dsm)
{
    int count = dsm.calls(nullptr, 0);
    std::vector<Call> calls(count);
    int now = dsm.calls(calls.data(), count);
    calls.resize(now < count ? now : count);
    return calls;
}

std::string problemsOf(const TwainStandin& dsm)
{
    int length = dsm.problems(nullptr, 0);
    std::string text(length + 1, '\0');
    dsm.problems(&text[0], length + 1);
    text.resize(length);
    return text;
}

std::string useFreshTempDirectory(const char* name)
{
    // Beside the earlier ones, in the temp folder the program started with:
    // folders made in each other would pass MAX_PATH after a dozen.
    static const std::string base = [] {
        char path[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, path);
        return std::string(path);
    }();
    // A folder that did not exist before: no file of an earlier test is in it.
    std::string directory;
    for (unsigned n = GetTickCount(), tries = 0; tries < 1000; ++n, ++tries) {
        char unique[32];
        std::snprintf(unique, sizeof unique, "-%lu-%u", GetCurrentProcessId(), n);
        directory = base + name + unique + "\\";
        if (CreateDirectoryA(directory.c_str(), nullptr)) break;
    }
    SetEnvironmentVariableA("TMP", directory.c_str());
    SetEnvironmentVariableA("TEMP", directory.c_str());
    return directory;
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string programFolder()
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path = exe;
    return path.substr(0, path.rfind('\\') + 1);
}

std::string readNameBlock()
{
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, "D32B4912-DB77-4112-B52F-4BE6856A3199");
    if (!mapping) return "";
    std::string path;
    if (const char* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 260))) {
        path.assign(view, strnlen(view, 260));
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return path;
}

bool waitUntil(const std::function<bool()>& condition, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > ms) return false;
        // Windows of this thread may be the parent or owner of the worker's:
        // their sent messages must be answered while the test waits.
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
    return true;
}

} // namespace twaintest
