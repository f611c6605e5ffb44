#include "frame/conversation_log.h"

#include <windows.h>

#include <atomic>

#include "dovrikna_version.h"
#include "frame/log_line.h"
#include "frame/log_pacing.h"

namespace dovrikna {

bool conversationLogOn = false;

namespace {

const DWORD kRotateBytes = 1024 * 1024;
const char kOldSuffix[] = ".1";
// The older log's next content while it is being put in place.
const char kPendingSuffix[] = ".1~";
// How long a writer waits for another (in any process) to finish its line;
// one that was stopped mid-line is then written past, and no later line
// waits for it again until the turn is seen free (log_pacing.h).
const DWORD kTurnTimeoutMs = 1000;

char logPath[MAX_PATH];
char oldLogPath[MAX_PATH + sizeof kOldSuffix];
char pendingLogPath[MAX_PATH + sizeof kPendingSuffix];
// One writer at a time across every process that logs to this file (named
// after the path), so that no two rotate at once and no line is lost.
HANDLE turn = nullptr;
std::atomic<bool> turnStalled{false};
// From the load line until the worker has started (what a Java VM's
// System.loadLibrary waits for), no line waits.
std::atomic<bool> loadUnderWay{false};
// Changed only by the writer that holds the turn.
RotationPacing rotationPacing;
// This process's appends take turns whether or not they hold the log's turn:
// under Wine two handles that append at once overwrite each other's bytes,
// which tore or dropped the lines of threads writing past a stopped writer.
// Inside the loader nothing waits: a line that finds it taken is written
// anyway, and so is one whose wait outlasts the turn's time-out (a thread
// ended while appending).
std::atomic_flag appending = ATOMIC_FLAG_INIT;

// Readers and the other processes' writers may keep the file open: shared
// for deletion, so that it can be renamed under them. Windows 9x knows no
// such sharing.
HANDLE openLog(DWORD access, DWORD disposition)
{
    HANDLE file = CreateFileA(logPath, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        file = CreateFileA(logPath, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return file;
}

// Whether the older log could be replaced now: a viewer that holds it
// without sharing its deletion makes every replacement fail, and is found
// without copying anything.
bool oldLogReplaceable()
{
    HANDLE file = CreateFileA(oldLogPath, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    const DWORD error = GetLastError();
    return error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED;
}

// The full log becomes the older one, which is replaced only once its
// successor is whole: a failed step leaves it as it was. False when nothing
// rotated.
bool rotate()
{
    if (MoveFileExA(logPath, oldLogPath, MOVEFILE_REPLACE_EXISTING)) return true;
    if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) { // Windows 9x
        if (!MoveFileA(logPath, pendingLogPath)) return false;
        DeleteFileA(oldLogPath);
        MoveFileA(pendingLogPath, oldLogPath);
        return true;
    }
    // A reader that does not share deletion holds the file: it is copied,
    // and emptied once the copy is in place; not while the older log cannot
    // be replaced, or the copy would be made for nothing.
    if (!oldLogReplaceable()) return false;
    if (CopyFileA(logPath, pendingLogPath, FALSE) &&
        MoveFileExA(pendingLogPath, oldLogPath, MOVEFILE_REPLACE_EXISTING)) {
        HANDLE file = openLog(GENERIC_WRITE, TRUNCATE_EXISTING);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return true;
    }
    DeleteFileA(pendingLogPath);
    return false;
}

// Only a writer that holds the turn rotates; one that writes past a stalled
// turn appends, and the log may pass its bound until the turn is back.
void append(const char* bytes, DWORD length, bool mayRotate)
{
    HANDLE file = openLog(FILE_APPEND_DATA, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return;
    const DWORD size = GetFileSize(file, nullptr);
    const DWORD now = GetTickCount();
    if (mayRotate && size != INVALID_FILE_SIZE && size > 0 && size + length > kRotateBytes &&
        rotationPacing.due(now)) {
        CloseHandle(file);
        rotationPacing.tried(rotate(), now);
        file = openLog(FILE_APPEND_DATA, OPEN_ALWAYS);
        if (file == INVALID_HANDLE_VALUE) return;
    }
    DWORD written = 0;
    WriteFile(file, bytes, length, &written, nullptr);
    CloseHandle(file);
}

// The line's text is in the process's ANSI code page (paths, a source's
// names); the file holds UTF-8 whatever the code page. Text that does not
// convert is written as it is.
DWORD toUtf8(const char* ansi, DWORD length, char* utf8, DWORD room)
{
    DWORD i = 0;
    while (i < length && static_cast<unsigned char>(ansi[i]) < 0x80) ++i;
    if (i < length) {
        wchar_t wide[LogLine::kCapacity + 64];
        const int count = MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(length), wide,
                                              static_cast<int>(sizeof wide / sizeof wide[0]));
        const int converted =
            count > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, count, utf8, static_cast<int>(room), nullptr, nullptr)
                      : 0;
        if (converted > 0) return static_cast<DWORD>(converted);
    }
    for (i = 0; i < length && i < room; ++i) utf8[i] = ansi[i];
    return i;
}

// `insideLoader`: the load's and the unload's lines, written inside DllMain,
// where nothing may wait, and the lines of the worker's start, which the
// load waits for.
void writeLine(const LogLine& line, bool insideLoader)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    const DWORD thread = GetCurrentThreadId();
    LogLine full;
    full.digits(now.wYear, 4).text("-").digits(now.wMonth, 2).text("-").digits(now.wDay, 2).text(" ");
    full.digits(now.wHour, 2).text(":").digits(now.wMinute, 2).text(":").digits(now.wSecond, 2).text(".");
    full.digits(now.wMilliseconds, 3).text(" process ").number(GetCurrentProcessId());
    full.text(" thread ").number(thread).text(": ").text(line.c_str());

    char bytes[(LogLine::kCapacity + 64) * 3 + 2];
    DWORD length = toUtf8(full.c_str(), static_cast<DWORD>(full.size()), bytes, sizeof bytes - 2);
    bytes[length++] = '\r';
    bytes[length++] = '\n';

    bool held = false;
    if (turn) {
        const unsigned patience = turnPatience(turnStalled.load(), insideLoader, kTurnTimeoutMs);
        const DWORD wait = WaitForSingleObject(turn, patience);
        held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED || wait == WAIT_TIMEOUT)
            turnStalled.store(turnStalledAfter(turnStalled.load(), patience, held));
    }
    bool ownAppend = !appending.test_and_set(std::memory_order_acquire);
    for (const DWORD start = GetTickCount(); !ownAppend && !insideLoader && GetTickCount() - start < kTurnTimeoutMs;) {
        Sleep(0);
        ownAppend = !appending.test_and_set(std::memory_order_acquire);
    }
    // Without a turn at all (no mutex could be made) this writer rotates alone.
    append(bytes, length, held || !turn);
    if (ownAppend) appending.clear(std::memory_order_release);
    if (held) ReleaseMutex(turn);
}

} // namespace

void writeLogLine(const LogLine& line)
{
    if (conversationLogOn) writeLine(line, loadUnderWay.load());
}

void openConversationLog(void* moduleInstance)
{
    const DWORD length = GetEnvironmentVariableA("DOVRIKNA_LOG", logPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    for (DWORD i = 0; i < length; ++i) oldLogPath[i] = pendingLogPath[i] = logPath[i];
    for (DWORD i = 0; i < sizeof kOldSuffix; ++i) oldLogPath[length + i] = kOldSuffix[i];
    for (DWORD i = 0; i < sizeof kPendingSuffix; ++i) pendingLogPath[length + i] = kPendingSuffix[i];
    char turnName[32];
    logTurnName(turnName, logPath);
    turn = CreateMutexA(nullptr, FALSE, turnName);
    turnStalled.store(false);
    loadUnderWay.store(true);
    rotationPacing = RotationPacing();
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
    writeLine(line, true);
}

void logLoadEnded()
{
    loadUnderWay.store(false);
}

void logUnload(bool processTerminating)
{
    if (!conversationLogOn) return;
    LogLine line;
    line.text(processTerminating ? "unload (the process ends)" : "unload (the library is freed)");
    writeLine(line, true);
    if (!processTerminating && turn) {
        CloseHandle(turn);
        turn = nullptr;
    }
}

} // namespace dovrikna
