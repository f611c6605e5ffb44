// The test's side of standins/open_recorder.cpp: a scratch folder with the
// files to open and the folder the recorder writes into, and its records.
#ifndef DOVRIKNA_TESTS_OPEN_RECORDER_CLIENT_H
#define DOVRIKNA_TESTS_OPEN_RECORDER_CLIENT_H

#include <windows.h>

#include <string>
#include <vector>

// Paths are UTF-8 here; the folders are made with the wide functions.
inline std::wstring wide(const std::string& utf8)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring text(size > 0 ? size - 1 : 0, L'\0');
    if (size > 1) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &text[0], size);
    return text;
}

inline std::string utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

class OpenRecorder {
public:
    // A fresh scratch folder in the temp directory, with records\ for the
    // recorder (whose folder goes to it through the environment).
    OpenRecorder()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        // Process ids come back; the tick count keeps the folder new.
        root_ = std::wstring(temp) + L"dovrikna-open-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount());
        CreateDirectoryW(root_.c_str(), nullptr);
        CreateDirectoryW((root_ + L"\\records").c_str(), nullptr);
        SetEnvironmentVariableW(L"DOVRIKNA_RECORDER_DIR", (root_ + L"\\records").c_str());
    }

    std::string root() const { return utf8(root_); }

    // A folder (with its parents below the root) and an empty file.
    std::string folder(const std::string& relative) const
    {
        std::wstring path = root_;
        std::wstring rest = wide(relative);
        size_t start = 0;
        while (start <= rest.size()) {
            size_t end = rest.find(L'\\', start);
            if (end == std::wstring::npos) end = rest.size();
            path += L"\\" + rest.substr(start, end - start);
            CreateDirectoryW(path.c_str(), nullptr);
            start = end + 1;
        }
        return utf8(path);
    }
    std::string file(const std::string& relative) const
    {
        std::wstring path = root_ + L"\\" + wide(relative);
        CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        return utf8(path);
    }

    // The records written so far: each the recorder's working directory, then its arguments.
    std::vector<std::vector<std::string>> records() const
    {
        std::vector<std::vector<std::string>> result;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((root_ + L"\\records\\*.txt").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return result;
        do {
            HANDLE file = CreateFileW((root_ + L"\\records\\" + found.cFileName).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            // Read by the open file's own size: the listing's may still be
            // the one from before the recorder's rename (seen under Wine as a
            // record without lines). A record not readable yet is left for
            // the next look.
            std::string text(file == INVALID_HANDLE_VALUE ? 0 : GetFileSize(file, nullptr), '\0');
            DWORD read = 0;
            if (!text.empty() && !ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &read, nullptr)) read = 0;
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
            text.resize(read);
            if (text.empty()) continue;
            std::vector<std::string> lines;
            for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
                lines.push_back(text.substr(start, end - start));
            result.push_back(lines);
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return result;
    }

    // Forgets the records written so far.
    void clear() const
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((root_ + L"\\records\\*.txt").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return;
        do DeleteFileW((root_ + L"\\records\\" + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    }

    // Waits up to 20 s for at least count records.
    std::vector<std::vector<std::string>> waitForRecords(size_t count) const
    {
        std::vector<std::vector<std::string>> result;
        for (int i = 0; i < 400 && (result = records()).size() < count; ++i) Sleep(50);
        return result;
    }

private:
    std::wstring root_;
};

#endif
