#include "frame/java_strings.h"

#include <atomic>
#include <memory>
#include <new>

#include "frame/java_text.h"

namespace dovrikna {

bool platformHasWideApi()
{
    // Kept in an atomic, not a function-local static: the guard of such a
    // static makes the runtime create a semaphore that is never closed, one
    // more kernel handle for every load of the library. Threads that ask at
    // the same time find the same answer.
    static std::atomic<int> known{0}; // 0: not asked yet, 1: wide, 2: Windows 9x
    int answer = known.load();
    if (answer == 0) {
        OSVERSIONINFOA version;
        ZeroMemory(&version, sizeof version);
        version.dwOSVersionInfoSize = sizeof version;
        answer = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 2 : 1;
        known.store(answer);
    }
    return answer == 1;
}

namespace {

bool convertExactly(const std::u16string& text, UINT codePage, std::string& ansi)
{
    if (text.find(u'\0') != std::u16string::npos) return false;
    if (text.empty()) return true;
    const int length = static_cast<int>(text.size());
    // Best-fit mapping off; Windows 9x knows no such flag and then maps
    // without it. The round trip below catches a look-alike either way.
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    int bytes = WideCharToMultiByte(codePage, flags, wideOf(text), length, nullptr, 0, nullptr, &usedDefault);
    if (bytes <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;
        bytes = WideCharToMultiByte(codePage, flags, wideOf(text), length, nullptr, 0, nullptr, &usedDefault);
    }
    if (bytes <= 0 || usedDefault) return false;
    ansi.assign(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, flags, wideOf(text), length, &ansi[0], bytes, nullptr, &usedDefault);

    std::u16string back(text.size() + 1, u'\0');
    const int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, ansi.data(), bytes,
                                          reinterpret_cast<wchar_t*>(&back[0]), static_cast<int>(back.size()));
    back.resize(units > 0 ? static_cast<std::size_t>(units) : 0);
    if (usedDefault || back != text) {
        ansi.clear();
        return false;
    }
    return true;
}

bool shortAnsiPath(const std::u16string& path, std::string& ansi)
{
    if (!platformHasWideApi() || path.empty() || path.find(u'\0') != std::u16string::npos) return false;
    const DWORD needed = GetShortPathNameW(wideOf(path), nullptr, 0);
    if (needed == 0) return false;
    std::u16string shortPath(needed, u'\0');
    const DWORD length = GetShortPathNameW(wideOf(path), reinterpret_cast<wchar_t*>(&shortPath[0]), needed);
    if (length == 0 || length >= needed) return false;
    shortPath.resize(length);
    return convertExactly(shortPath, CP_ACP, ansi);
}

} // namespace

// Out of memory is a failed conversion, never an exception into the VM.
bool ansiFromWide(const std::u16string& text, UINT codePage, std::string& ansi)
{
    try {
        ansi.clear();
        return convertExactly(text, codePage, ansi);
    } catch (...) {
        ansi.clear();
        return false;
    }
}

bool ansiPath(const std::u16string& path, std::string& ansi)
{
    if (ansiFromWide(path, CP_ACP, ansi)) return true;
    try {
        return shortAnsiPath(path, ansi);
    } catch (...) {
        ansi.clear();
        return false;
    }
}

bool ansiTempDirectory(std::string& directory)
try {
    directory.clear();
    if (!platformHasWideApi()) {
        char temp[MAX_PATH];
        const DWORD length = GetTempPathA(MAX_PATH, temp);
        if (length == 0 || length >= MAX_PATH) return false;
        directory.assign(temp, length);
        return true;
    }
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return false;
    if (!ansiPath(std::u16string(reinterpret_cast<const char16_t*>(temp), length), directory)) return false;
    if (directory.empty() || directory.size() >= MAX_PATH) return false;
    if (directory.back() != '\\') directory += '\\';
    return true;
} catch (...) {
    directory.clear();
    return false;
}

jstring newJavaString(JNIEnv* env, const char* ansi)
{
    if (isAsciiText(ansi)) return env->NewStringUTF(ansi);
    const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, nullptr, 0);
    if (units <= 0) return nullptr;
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[static_cast<std::size_t>(units)]);
    if (!text) return nullptr;
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, text.get(), units);
    return newJavaString(env, text.get());
}

jstring newJavaString(JNIEnv* env, const wchar_t* text)
{
    const std::size_t length = std::char_traits<wchar_t>::length(text);
    bool ascii = true;
    for (std::size_t i = 0; i < length && ascii; ++i) ascii = text[i] < 0x80;
    if (!ascii) return env->NewString(reinterpret_cast<const jchar*>(text), static_cast<jsize>(length));
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[length + 1]);
    if (!bytes) return nullptr;
    for (std::size_t i = 0; i <= length; ++i) bytes[i] = static_cast<char>(text[i]);
    return env->NewStringUTF(bytes.get());
}

} // namespace dovrikna
