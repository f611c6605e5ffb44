// The program a test file association opens files with. It writes the
// directory it was started in and its arguments, one a line in UTF-8, to a
// new file open-<process id>.txt in the folder named by DOVRIKNA_RECORDER_DIR
// (the file appears complete: it is written under another name and renamed).
#include <windows.h>

#include <string>

namespace {

std::string utf8(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"DOVRIKNA_RECORDER_DIR", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;

    DWORD size = GetCurrentDirectoryW(0, nullptr);
    std::wstring directory(size, L'\0');
    GetCurrentDirectoryW(size, &directory[0]);
    std::string record = utf8(directory.c_str()) + "\n";
    for (int i = 1; i < argc; ++i) record += utf8(argv[i]) + "\n";

    std::wstring base = std::wstring(folder) + L"\\open-" + std::to_wstring(GetCurrentProcessId());
    HANDLE file = CreateFileW((base + L".tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    return MoveFileW((base + L".tmp").c_str(), (base + L".txt").c_str()) ? 0 : 4;
}
