// Serves CLSID_MediaDet from our scripted stand-in for the life of one test
// process: Wine reads COM classes from HKLM\Software\Classes only, so the
// class's InprocServer32 is pointed at the stand-in and set back afterwards.
// The original value is first copied to a key of the tests' own, so that a
// test process that dies before restoring it leaves a way back: the next
// install or restore takes the original from there.
#ifndef DOVRIKNA_TESTS_MEDIA_DET_REGISTRATION_H
#define DOVRIKNA_TESTS_MEDIA_DET_REGISTRATION_H

#include <windows.h>

#include <string>

class MediaDetRegistration {
public:
    static constexpr const wchar_t* kServerKey =
        L"Software\\Classes\\CLSID\\{65BD0711-24D2-4FF7-9324-ED2E5D3ABAFA}\\InprocServer32";
    static constexpr const wchar_t* kBackupKey = L"Software\\DovriknaTests";
    static constexpr const wchar_t* kBackupValue = L"MediaDetInprocServer32";

    // The server Wine's prefix registers, as it is now (after any repair).
    static std::wstring platformServer()
    {
        restore();
        return read(kServerKey, nullptr);
    }

    // Points CLSID_MediaDet at the DLL file; returns false when that fails.
    static bool install(const std::wstring& server)
    {
        std::wstring original = read(kBackupKey, kBackupValue);
        if (original.empty()) {
            original = read(kServerKey, nullptr);
            if (original.empty() || original == server) return false;
            if (!write(kBackupKey, kBackupValue, original)) return false;
        }
        return write(kServerKey, nullptr, server);
    }

    // Puts the original server back and forgets the copy.
    static void restore()
    {
        const std::wstring original = read(kBackupKey, kBackupValue);
        if (original.empty()) return;
        if (write(kServerKey, nullptr, original)) {
            HKEY key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBackupKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                RegDeleteValueW(key, kBackupValue);
                RegCloseKey(key);
            }
        }
    }

    static std::wstring moduleFile(HMODULE module)
    {
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
        return std::wstring(path, length);
    }

private:
    static std::wstring read(const wchar_t* subkey, const wchar_t* name)
    {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
        wchar_t value[MAX_PATH + 1] = {};
        DWORD bytes = sizeof value - sizeof(wchar_t), type = 0;
        const LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
        return value;
    }

    static bool write(const wchar_t* subkey, const wchar_t* name, const std::wstring& value)
    {
        HKEY key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)
            != ERROR_SUCCESS)
            return false;
        const LONG status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }
};

#endif
