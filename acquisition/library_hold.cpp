#include "acquisition/library_hold.h"

#include <windows.h>

#include "acquisition/loader_lock.h"

namespace dovrikna {

namespace {
HMODULE held = nullptr; // TwainWorker's alone
} // namespace

void keepLibraryMappedWhile(bool needed)
{
    if (needed == (held != nullptr)) return;
    if (needed) {
        // Taking the reference takes the loader lock, which an unload that
        // has begun holds while it waits for this thread.
        HMODULE self = nullptr;
        if (referenceUnlessUnloading(reinterpret_cast<const void*>(&keepLibraryMappedWhile), &self)) held = self;
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
