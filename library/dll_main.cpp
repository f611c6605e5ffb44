#include "acquisition/twain_worker.h"
#include "frame/library.h"
#include "library/sequences.h"
#include "frame/unique_handle.h"

// The system loader's entry point. Every reason succeeds: a failed step of the
// load sequence leaves its part of the library inert rather than failing the
// Java VM's load of the library.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        dovrikna::onProcessAttach(instance);
        break;
    case DLL_PROCESS_DETACH:
        // A non-null reserved pointer means the process is ending.
        dovrikna::onProcessDetach(reserved != nullptr);
        break;
    case DLL_THREAD_ATTACH:
        dovrikna::noteThreadAttach();
        break;
    default:
        break;
    }
    return TRUE;
}

#ifdef DOVRIKNA_COUNT_OWNERS
// Builds for the soak runs only: the owners that hold a resource now.
extern "C" __declspec(dllexport) long dovrikna_live_owners()
{
    return dovrikna::liveOwners.load();
}
#endif
