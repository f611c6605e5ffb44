#include "frame/library_hold.h"

#include <windows.h>

namespace dovrikna {

namespace {
HMODULE held = nullptr; // TwainWorker's alone
} // namespace

void keepLibraryMappedWhile(bool needed)
{
    if (needed == (held != nullptr)) return;
    if (needed) {
        HMODULE self = nullptr;
        if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                               reinterpret_cast<LPCSTR>(&keepLibraryMappedWhile), &self))
            held = self;
        return;
    }
    // The reference may be the last: its FreeLibrary then runs the unload,
    // which waits for this thread to leave its loop, and unmaps the code this
    // thread runs. So it is given back by a thread of its own whose routine
    // is FreeLibrary itself, system code that returns into the system.
    HANDLE giver = CreateThread(nullptr, 0,
                                reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(&FreeLibrary)),
                                held, 0, nullptr);
    // Without that thread the library stays mapped, as safe as before.
    if (!giver) return;
    CloseHandle(giver);
    held = nullptr;
}

} // namespace dovrikna
