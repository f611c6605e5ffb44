// A stand-in for the application's Launcher process: the window the library
// forwards its requests to on Windows 95/98/Me, answering from a script that
// the test chooses, and logging every message it receives.
//
// test_launcher.exe log=FILE [select=chosen|none|silent] [acquire=answer|silent]
//                   [file=PATH]... [last=1032|1033|1034]
//
//   select   how TWM_SELECT_SOURCE is answered: TWM_SELECT_DONE, TWM_SELECT_FAILED,
//            or not at all (default chosen)
//   acquire  silent: requests are logged and never answered (default answer)
//   file     the paths one acquisition hands over, in order
//   last     the report that ends every acquisition (default TWM_ACQUIRE_DONE)
//
// Log lines, one per event, written through at once so the test can read them
// while the Launcher runs:
//   recv MESSAGE WPARAM LPARAM   an application message reached the window
//   write PATH                   a path was written to the image-name block
//   post MESSAGE | post-failed MESSAGE   a report to TwainWindow
//   release                      the Launcher's handle of the block was closed
//   unexpected TEXT              a request that the protocol does not allow now
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kLauncherClass[] = "QUENLARK_LAUNCHER_CLS_NAME";
const char kLauncherTitle[] = "QUENLARK_LAUNCHER_WIN_NAME";
const char kTwainWindowClass[] = "com_quenlark_foto_TwainHandler_class";
const char kTwainWindowTitle[] = "com_quenlark_foto_TwainHandler_window";
const char kBlockName[] = "D32B4912-DB77-4112-B52F-4BE6856A3199";
const DWORD kBlockSize = 260;

enum : UINT {
    TWM_LIBRARY_UNLOADING = 1025,
    TWM_SELECT_SOURCE = 1026,
    TWM_SELECT_DONE = 1027,
    TWM_SELECT_FAILED = 1028,
    TWM_ACQUIRE = 1029,
    TWM_NEXT_FILE = 1030,
    TWM_FILE_READY = 1031,
    TWM_ACQUIRE_DONE = 1032,
};

struct Script {
    std::string select = "chosen";
    bool answerAcquire = true;
    std::vector<std::string> files;
    UINT last = TWM_ACQUIRE_DONE;
} script;

HANDLE logFile = INVALID_HANDLE_VALUE;

// The acquisition under way.
bool acquiring = false;
size_t nextFile = 0;
HANDLE block = nullptr;
char* blockView = nullptr;

void logLine(const std::string& line)
{
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(logFile, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    FlushFileBuffers(logFile);
}

void report(UINT message)
{
    HWND twainWindow = FindWindowA(kTwainWindowClass, kTwainWindowTitle);
    const bool posted = twainWindow && PostMessageA(twainWindow, message, 0, 0);
    logLine((posted ? "post " : "post-failed ") + std::to_string(message));
}

void releaseBlock()
{
    if (blockView) UnmapViewOfFile(blockView);
    if (block) CloseHandle(block);
    blockView = nullptr;
    block = nullptr;
    logLine("release");
}

// Hands over the next file, or ends the acquisition with the last report.
void handOverNext()
{
    if (nextFile < script.files.size()) {
        if (!blockView) {
            block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBlockSize, kBlockName);
            if (block) blockView = static_cast<char*>(MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, kBlockSize));
            if (!blockView) logLine("unexpected: the image-name block cannot be made");
        }
        const std::string& path = script.files[nextFile++];
        if (blockView) std::memcpy(blockView, path.c_str(), path.size() + 1);
        logLine("write " + path);
        report(TWM_FILE_READY);
        return;
    }
    report(script.last);
    acquiring = false;
    if (block) releaseBlock();
}

void handle(UINT message)
{
    switch (message) {
    case TWM_SELECT_SOURCE:
        if (script.select == "chosen") report(TWM_SELECT_DONE);
        if (script.select == "none") report(TWM_SELECT_FAILED);
        break;
    case TWM_ACQUIRE:
        if (!script.answerAcquire) break;
        if (acquiring) {
            logLine("unexpected: TWM_ACQUIRE during an acquisition");
            break;
        }
        acquiring = true;
        nextFile = 0;
        handOverNext();
        break;
    case TWM_NEXT_FILE:
        if (!script.answerAcquire) break;
        if (!acquiring) {
            logLine("unexpected: TWM_NEXT_FILE without an acquisition");
            break;
        }
        handOverNext();
        break;
    case TWM_LIBRARY_UNLOADING:
        break;
    default:
        logLine("unexpected: message " + std::to_string(message));
        break;
    }
}

LRESULT CALLBACK launcherProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_USER && message < 0xC000) {
        logLine("recv " + std::to_string(message) + " " + std::to_string(static_cast<unsigned long long>(wParam)) +
                " " + std::to_string(static_cast<long long>(lParam)));
        handle(message);
        return 0;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

bool startsWith(const char* text, const char* prefix, const char** rest)
{
    const size_t length = std::strlen(prefix);
    if (std::strncmp(text, prefix, length) != 0) return false;
    *rest = text + length;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string logPath;
    for (int i = 1; i < argc; ++i) {
        const char* value = nullptr;
        if (startsWith(argv[i], "log=", &value)) logPath = value;
        else if (startsWith(argv[i], "select=", &value)) script.select = value;
        else if (startsWith(argv[i], "acquire=", &value)) script.answerAcquire = std::strcmp(value, "silent") != 0;
        else if (startsWith(argv[i], "file=", &value)) script.files.push_back(value);
        else if (startsWith(argv[i], "last=", &value)) script.last = static_cast<UINT>(std::atoi(value));
        else {
            std::fprintf(stderr, "test_launcher: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    logFile = CreateFileA(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, CREATE_ALWAYS, 0, nullptr);
    if (logFile == INVALID_HANDLE_VALUE) return 3;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = launcherProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kLauncherClass;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(kLauncherClass, kLauncherTitle, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    if (!window) return 4;

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (block) releaseBlock();
    CloseHandle(logFile);
    return 0;
}
