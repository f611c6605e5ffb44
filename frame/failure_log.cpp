#include "frame/failure_log.h"

#include <windows.h>

#include "frame/conversation_log.h"
#include "frame/failure_words.h"
#include "frame/java_strings.h"
#include "frame/log_line.h"

namespace dovrikna {

namespace {

const unsigned long MAPI_USER_ABORT_VALUE = 1; // the user's own cancel

// The log's lines hold ANSI text: a path the code page holds exactly goes as
// it is; any other keeps its ASCII and shows the rest as \uXXXX.
void quotePath(LogLine& line, const std::u16string& path)
{
    std::string ansi;
    if (ansiFromWide(path, CP_ACP, ansi)) {
        line.quoted(ansi.c_str(), ansi.size());
        return;
    }
    line.text("\"");
    for (char16_t c : path) {
        if (c >= 0x20 && c < 0x7F) {
            const char ascii[2] = {static_cast<char>(c), '\0'};
            line.text(ascii);
        } else {
            char escape[7] = {'\\', 'u'};
            for (int i = 0; i < 4; ++i) escape[2 + i] = "0123456789ABCDEF"[(c >> (12 - 4 * i)) & 0xF];
            escape[6] = '\0';
            line.text(escape);
        }
    }
    line.text("\"");
}

LogLine& begin(LogLine& line, const char* native, const std::u16string* path,
               const std::u16string* secondPath = nullptr)
{
    line.text(native);
    if (path) quotePath(line.text(" "), *path);
    if (secondPath) quotePath(line.text(" to "), *secondPath);
    return line.text(" failed: ");
}

} // namespace

void logWin32Failure(const char* native, const std::u16string* path, unsigned long error,
                     const std::u16string* secondPath)
{
    if (!conversationLogOn) return;
    LogLine line;
    begin(line, native, path, secondPath).text("error ").number(error);
    char text[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        text[--length] = '\0';
    if (length > 0) line.text(" (").text(text).text(")");
    writeLogLine(line);
}

void logFailure(const char* native, const std::u16string* path, const char* reason)
{
    if (!conversationLogOn) return;
    LogLine line;
    begin(line, native, path).text(reason);
    writeLogLine(line);
}

void logDriveTypeUnknown(const std::u16string& path, unsigned type)
{
    if (!conversationLogOn) return;
    LogLine line;
    begin(line, "getDriveType0", &path).text("Windows answered drive type ").number(type);
    line.text(type == DRIVE_NO_ROOT_DIR ? " (DRIVE_NO_ROOT_DIR)" : type == DRIVE_UNKNOWN ? " (DRIVE_UNKNOWN)" : "");
    writeLogLine(line);
}

std::intptr_t logShellAnswer(const std::u16string& path, std::intptr_t answer)
{
    if (!conversationLogOn || answer > 32) return answer;
    LogLine line;
    begin(line, "openDefaultApp0", &path).text("the shell answered ").signedNumber(answer);
    if (const char* name = shellAnswerName(answer)) line.text(" (").text(name).text(")");
    writeLogLine(line);
    return answer;
}

long logThumbnailResult(const std::u16string& path, long hr)
{
    if (!conversationLogOn || SUCCEEDED(hr)) return hr;
    std::string ansi;
    const DWORD attributes = platformHasWideApi() ? GetFileAttributesW(wideOf(path))
                             : ansiFromWide(path, CP_ACP, ansi) ? GetFileAttributesA(ansi.c_str())
                                                                : INVALID_FILE_ATTRIBUTES;
    const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : NO_ERROR;
    const bool found = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    LogLine line;
    begin(line, "getVideoThumbnail0", &path);
    if (const char* reason = thumbnailFailureReason(found, static_cast<std::uint32_t>(hr)))
        line.text(reason).text(", ");
    line.text("HRESULT ").hex(static_cast<std::uint32_t>(hr));
    writeLogLine(line);
    return hr;
}

unsigned long logMailResult(const char* call, unsigned long result)
{
    if (!conversationLogOn || result == 0) return result;
    LogLine line;
    line.text(result == MAPI_USER_ABORT_VALUE ? "sendFiles0 cancelled: " : "sendFiles0 failed: ").text(call).text(" answered ").number(result);
    if (const char* name = mapiResultName(result)) line.text(" (").text(name).text(")");
    writeLogLine(line);
    return result;
}

int logMailNotSent(const char* reason)
{
    logFailure("sendFiles0", nullptr, reason);
    return 0;
}

} // namespace dovrikna
