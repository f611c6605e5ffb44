// A Simple MAPI library standing in for the mail client: it answers
// MAPILogon, MAPISendMail, MAPISendMailW and MAPILogoff, and logs every call
// with all it received, the whole message included (wide text as UTF-8), as
// text lines the tests compare against expected tables. Built as
// bin/mapi32.dll; without either send (STANDIN_WITHOUT_SEND_MAIL) as
// bin/mapi32-nosend/mapi32.dll; without MAPILogon and MAPILogoff
// (STANDIN_WITHOUT_LOGON) as bin/mapi32-nologon/mapi32.dll; and without
// MAPISendMailW, as before Windows 8 (STANDIN_WITHOUT_WIDE), as
// bin/mapi32-ansi/mapi32.dll.
//
// The tests reach it through three exports of its own (a program that a test
// starts: DOVRIKNA_MAPI_LOG, and DOVRIKNA_MAPI_SEND_RESULT for the sends' answer):
//   StandinConfigure(logon result, session the logon writes, send result)
//   StandinLog()   the lines so far, each ending in '\n'
//   StandinClear() forgets the lines
#include <windows.h>
#include <mapi.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "desktop/mapi_wide.h"

namespace {

std::mutex mutex;
std::string logText;
std::string logCopy;
ULONG logonResult = SUCCESS_SUCCESS;
LHANDLE logonSession = 0x5E55;
ULONG sendResult = SUCCESS_SUCCESS;

std::string hex(unsigned long long value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX", value);
    return text;
}

std::string quoted(const char* text)
{
    return text ? "\"" + std::string(text) + "\"" : std::string("null");
}

std::string quoted(const wchar_t* text)
{
    if (!text) return "null";
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    if (!utf8.empty()) utf8.pop_back();
    return "\"" + utf8 + "\"";
}

std::string pointer(const void* value)
{
    return value ? std::string("set") : std::string("null");
}

// A process the test cannot reach (a program it starts) has the lines
// appended to the file DOVRIKNA_MAPI_LOG names as well.
void log(const std::string& line)
{
    std::lock_guard<std::mutex> lock(mutex);
    logText += line + "\n";
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("DOVRIKNA_MAPI_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, (line + "\n").data(), static_cast<DWORD>(line.size() + 1), &written, nullptr);
    CloseHandle(file);
}

// The message of either send, ANSI or wide.
template <typename Message>
ULONG logSend(const char* name, LHANDLE session, ULONG_PTR uiParam, Message* message, FLAGS flags, ULONG reserved)
{
    log(std::string(name) + " session=" + hex(session) + " ui=" + hex(uiParam) + " flags=" + hex(flags) +
        " reserved=" + hex(reserved) + " message=" + pointer(message));
    if (!message) return MAPI_E_FAILURE;
    log(" message reserved=" + hex(message->ulReserved) + " subject=" + quoted(message->lpszSubject) +
        " note=" + quoted(message->lpszNoteText) + " type=" + quoted(message->lpszMessageType) +
        " date=" + quoted(message->lpszDateReceived) + " conversation=" + quoted(message->lpszConversationID) +
        " flags=" + hex(message->flFlags) + " originator=" + pointer(message->lpOriginator) +
        " recipients=" + std::to_string(message->nRecipCount) + "/" + pointer(message->lpRecips) +
        " files=" + std::to_string(message->nFileCount) + "/" + pointer(message->lpFiles));
    for (ULONG i = 0; message->lpRecips && i < message->nRecipCount; ++i) {
        const auto& recipient = message->lpRecips[i];
        log(" recipient reserved=" + hex(recipient.ulReserved) + " class=" + std::to_string(recipient.ulRecipClass) +
            " name=" + quoted(recipient.lpszName) + " address=" + quoted(recipient.lpszAddress) +
            " entry=" + std::to_string(recipient.ulEIDSize) + "/" + pointer(recipient.lpEntryID));
    }
    for (ULONG i = 0; message->lpFiles && i < message->nFileCount; ++i) {
        const auto& file = message->lpFiles[i];
        log(" file reserved=" + hex(file.ulReserved) + " flags=" + hex(file.flFlags) +
            " position=" + hex(file.nPosition) + " path=" + quoted(file.lpszPathName) +
            " name=" + quoted(file.lpszFileName) + " type=" + pointer(file.lpFileType));
    }
    // A program the test starts is told its answer through the environment.
    char answer[16];
    const DWORD length = GetEnvironmentVariableA("DOVRIKNA_MAPI_SEND_RESULT", answer, sizeof answer);
    if (length > 0 && length < sizeof answer) return std::strtoul(answer, nullptr, 10);
    return sendResult;
}

} // namespace

extern "C" {

#ifndef STANDIN_WITHOUT_LOGON
__declspec(dllexport) ULONG WINAPI MAPILogon(ULONG_PTR uiParam, LPSTR profile, LPSTR password, FLAGS flags,
                                             ULONG reserved, LPLHANDLE session)
{
    log("MAPILogon ui=" + hex(uiParam) + " profile=" + quoted(profile) + " password=" + quoted(password) +
        " flags=" + hex(flags) + " reserved=" + hex(reserved) + " session=" + pointer(session));
    if (session) *session = logonSession;
    return logonResult;
}

__declspec(dllexport) ULONG WINAPI MAPILogoff(LHANDLE session, ULONG_PTR uiParam, FLAGS flags, ULONG reserved)
{
    log("MAPILogoff session=" + hex(session) + " ui=" + hex(uiParam) + " flags=" + hex(flags) +
        " reserved=" + hex(reserved));
    return SUCCESS_SUCCESS;
}
#endif

#ifndef STANDIN_WITHOUT_SEND_MAIL
__declspec(dllexport) ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message,
                                                FLAGS flags, ULONG reserved)
{
    return logSend("MAPISendMail", session, uiParam, message, flags, reserved);
}

#ifndef STANDIN_WITHOUT_WIDE
__declspec(dllexport) ULONG WINAPI MAPISendMailW(LHANDLE session, ULONG_PTR uiParam,
                                                 dovrikna::MapiMessageW* message, FLAGS flags, ULONG reserved)
{
    return logSend("MAPISendMailW", session, uiParam, message, flags, reserved);
}
#endif
#endif

__declspec(dllexport) void StandinConfigure(ULONG logon, ULONG_PTR session, ULONG send)
{
    std::lock_guard<std::mutex> lock(mutex);
    logonResult = logon;
    logonSession = session;
    sendResult = send;
}

__declspec(dllexport) const char* StandinLog()
{
    std::lock_guard<std::mutex> lock(mutex);
    logCopy = logText;
    return logCopy.c_str();
}

__declspec(dllexport) void StandinClear()
{
    std::lock_guard<std::mutex> lock(mutex);
    logText.clear();
}

} // extern "C"
