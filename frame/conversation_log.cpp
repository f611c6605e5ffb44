#include "frame/conversation_log.h"

#include <windows.h>

#include <atomic>

#include "dovrikna_version.h"
#include "frame/log_line.h"

namespace dovrikna {

bool conversationLogOn = false;

namespace {

const DWORD kRotateBytes = 1024 * 1024;
const char kOldSuffix[] = ".1";

char logPath[MAX_PATH];
char oldLogPath[MAX_PATH + sizeof kOldSuffix];
// Keeps two threads from rotating at once. A writer that cannot have it
// within a second (its holder was stopped mid-line) writes without it.
std::atomic<bool> writing{false};

HANDLE openForAppending()
{
    return CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void append(const char* bytes, DWORD length)
{
    HANDLE file = openForAppending();
    if (file == INVALID_HANDLE_VALUE) return;
    const DWORD size = GetFileSize(file, nullptr);
    if (size != INVALID_FILE_SIZE && size > 0 && size + length > kRotateBytes) {
        CloseHandle(file);
        DeleteFileA(oldLogPath);
        MoveFileA(logPath, oldLogPath);
        file = openForAppending();
        if (file == INVALID_HANDLE_VALUE) return;
    }
    DWORD written = 0;
    WriteFile(file, bytes, length, &written, nullptr);
    CloseHandle(file);
}

} // namespace

void writeLogLine(const LogLine& line)
{
    if (!conversationLogOn) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    const DWORD thread = GetCurrentThreadId();
    LogLine full;
    full.digits(now.wYear, 4).text("-").digits(now.wMonth, 2).text("-").digits(now.wDay, 2).text(" ");
    full.digits(now.wHour, 2).text(":").digits(now.wMinute, 2).text(":").digits(now.wSecond, 2).text(".");
    full.digits(now.wMilliseconds, 3).text(" thread ").number(thread).text(": ").text(line.c_str());

    char bytes[LogLine::kCapacity + 2];
    DWORD length = 0;
    for (const char* c = full.c_str(); *c; ++c) bytes[length++] = *c;
    bytes[length++] = '\r';
    bytes[length++] = '\n';

    bool owned = false;
    for (int tries = 0; tries < 1000; ++tries) {
        if (!writing.exchange(true, std::memory_order_acquire)) {
            owned = true;
            break;
        }
        Sleep(1);
    }
    append(bytes, length);
    if (owned) writing.store(false, std::memory_order_release);
}

void openConversationLog(void* moduleInstance)
{
    const DWORD length = GetEnvironmentVariableA("DOVRIKNA_LOG", logPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    for (DWORD i = 0; i < length; ++i) oldLogPath[i] = logPath[i];
    for (DWORD i = 0; i < sizeof kOldSuffix; ++i) oldLogPath[length + i] = kOldSuffix[i];
    conversationLogOn = true;

    char module[MAX_PATH] = "";
    char process[MAX_PATH] = "";
    GetModuleFileNameA(static_cast<HMODULE>(moduleInstance), module, MAX_PATH);
    GetModuleFileNameA(nullptr, process, MAX_PATH);
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    const bool known = GetVersionExA(&version) != FALSE;

    LogLine line;
    line.text("load dovrikna " DOVRIKNA_VERSION_TEXT);
    line.text(sizeof(void*) == 8 ? " x64 " : " x86 ").quoted(module, MAX_PATH);
    line.text(" into ").quoted(process, MAX_PATH);
    if (known) {
        line.text(", Windows ").number(version.dwMajorVersion).text(".").number(version.dwMinorVersion);
        line.text(" build ").number(version.dwBuildNumber & 0xFFFF).text(" platform ").number(version.dwPlatformId);
    }
    writeLogLine(line);
}

void logUnload(bool processTerminating)
{
    if (!conversationLogOn) return;
    LogLine line;
    line.text(processTerminating ? "unload (the process ends)" : "unload (the library is freed)");
    writeLogLine(line);
}

} // namespace dovrikna
