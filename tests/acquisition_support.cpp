#include "acquisition_support.h"

#include <cstring>

namespace acquisition {

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

HWND waitForTopLevelTwainWindow()
{
    HWND window = nullptr;
    waitUntil([&] { return (window = FindWindowA(kTwainWindowClass, kTwainWindowTitle)) != nullptr; });
    return window;
}

std::string tempPath()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return temp;
}

namespace {

std::string programFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\') + 1);
}

} // namespace

LauncherProcess::LauncherProcess(const std::vector<std::string>& script)
{
    static int counter = 0;
    logPath_ = tempPath() + "dovrikna-launcher-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(++counter) + ".log";
    std::string command = "\"" + programFolder() + "test_launcher.exe\" \"log=" + logPath_ + "\"";
    for (const std::string& argument : script) command += " \"" + argument + "\"";

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_))
        return;
    waitUntil([&] {
        window_ = FindWindowA(kLauncherClass, kLauncherTitle);
        return window_ != nullptr || WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
    }, 10000);
}

LauncherProcess::~LauncherProcess()
{
    stop();
    DeleteFileA(logPath_.c_str());
}

void LauncherProcess::stop()
{
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    window_ = nullptr;
    if (process_.hProcess) {
        if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
        process_ = {};
    }
}

std::vector<std::string> LauncherProcess::log() const
{
    std::vector<std::string> lines;
    HANDLE file = CreateFileA(logPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    CloseHandle(file);
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::string> LauncherProcess::waitForLines(size_t count, DWORD timeoutMs) const
{
    std::vector<std::string> lines;
    waitUntil([&] { return (lines = log()).size() >= count; }, timeoutMs);
    return lines;
}

bool LauncherProcess::waitForLine(const std::string& line, size_t count, DWORD timeoutMs) const
{
    return waitUntil([&] {
        size_t found = 0;
        for (const std::string& logged : log()) found += logged == line;
        return found >= count;
    }, timeoutMs);
}

BlockWriter::BlockWriter()
{
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 260, kBlockName);
    if (mapping_) view_ = static_cast<char*>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 260));
}

BlockWriter::~BlockWriter()
{
    close();
}

void BlockWriter::write(const std::string& path)
{
    writeBytes(path.c_str(), path.size() + 1);
}

void BlockWriter::writeBytes(const void* bytes, size_t size)
{
    if (view_) std::memcpy(view_, bytes, size);
}

void BlockWriter::close()
{
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(mapping_);
    view_ = nullptr;
    mapping_ = nullptr;
}

BoxCloser::BoxCloser()
    : thread_([this] {
          while (!done_) {
              HWND box = nullptr;
              while ((box = FindWindowExA(nullptr, box, "#32770", nullptr)) != nullptr) {
                  DWORD process = 0;
                  GetWindowThreadProcessId(box, &process);
                  if (process == GetCurrentProcessId()) PostMessageA(box, WM_COMMAND, IDOK, 0);
              }
              Sleep(20);
          }
      })
{
}

BoxCloser::~BoxCloser()
{
    done_ = true;
    thread_.join();
}

bool blockExists()
{
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, kBlockName);
    if (!mapping) return false;
    CloseHandle(mapping);
    return true;
}

} // namespace acquisition
