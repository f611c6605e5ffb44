// The test's side of the recording mapi32.dll stand-in (standins/mapi32_standin.cpp).
#ifndef DOVRIKNA_TESTS_MAPI_STANDIN_H
#define DOVRIKNA_TESTS_MAPI_STANDIN_H

#include <windows.h>
#include <mapi.h>

#include <sstream>
#include <string>
#include <vector>

class MapiStandin {
public:
    // The stand-in as loaded in this process (by the library or by the test).
    explicit MapiStandin(HMODULE module) : module_(module)
    {
        if (!module_) return;
        configure_ = reinterpret_cast<Configure>(reinterpret_cast<void*>(GetProcAddress(module_, "StandinConfigure")));
        log_ = reinterpret_cast<Log>(reinterpret_cast<void*>(GetProcAddress(module_, "StandinLog")));
        clear_ = reinterpret_cast<Clear>(reinterpret_cast<void*>(GetProcAddress(module_, "StandinClear")));
    }
    static MapiStandin loaded() { return MapiStandin(GetModuleHandleA("mapi32.dll")); }

    // True when the module is our stand-in and not Wine's own mapi32.
    bool ok() const { return configure_ && log_ && clear_; }

    void configure(ULONG logonResult, ULONG_PTR session, ULONG sendResult = 0) const
    {
        configure_(logonResult, session, sendResult);
    }
    void clear() const { clear_(); }
    std::string text() const { return log_(); }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::istringstream in(text());
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

private:
    using Configure = void (*)(ULONG, ULONG_PTR, ULONG);
    using Log = const char* (*)();
    using Clear = void (*)();
    HMODULE module_;
    Configure configure_ = nullptr;
    Log log_ = nullptr;
    Clear clear_ = nullptr;
};

#endif
