#include <jni.h>

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

// A Java VM calls this once the system's load is over, outside the loader
// lock. It returns once TwainWorker has started, so that a VM that ends at
// once does not catch the worker still starting. The version is the lowest
// a VM that calls this function knows, and the VM is not used.
extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM*, void*)
{
    dovrikna::waitForTwainWorkerStart();
    return JNI_VERSION_1_2;
}

#ifdef DOVRIKNA_COUNT_OWNERS
// Builds for the soak runs only: the owners that hold a resource now.
extern "C" __declspec(dllexport) long dovrikna_live_owners()
{
    return dovrikna::liveOwners.load();
}
#endif
