#include "acquisition/loader_lock.h"

#include <atomic>

namespace dovrikna {

namespace {

std::atomic<bool> unloading{false};

using LockLoader = LONG(WINAPI*)(ULONG flags, ULONG* disposition, ULONG_PTR* cookie);
using UnlockLoader = LONG(WINAPI*)(ULONG flags, ULONG_PTR cookie);
LockLoader lockLoader = nullptr;
UnlockLoader unlockLoader = nullptr;

// Loading the manager takes the loader lock. An unload holds that lock while
// it waits for the worker, so the worker takes the lock first, trying only,
// and gives up when an unload is under way. Held only where the system would
// take it anyway: held longer, a message sent to another thread that waits
// for the lock would never be answered.
class LoaderLockUnlessUnloading {
public:
    LoaderLockUnlessUnloading()
    {
        const ULONG kTryOnly = 2, kAcquired = 1;
        if (!lockLoader || !unlockLoader) {
            held_ = !unloading.load();
            return;
        }
        for (;;) {
            ULONG disposition = 0;
            if (lockLoader(kTryOnly, &disposition, &cookie_) >= 0 && disposition == kAcquired) {
                locked_ = true;
                // An unload that came before the lock was had is waiting for it.
                held_ = !unloading.load();
                return;
            }
            if (unloading.load()) return;
            Sleep(1);
        }
    }
    ~LoaderLockUnlessUnloading()
    {
        if (locked_) unlockLoader(0, cookie_);
    }
    LoaderLockUnlessUnloading(const LoaderLockUnlessUnloading&) = delete;
    LoaderLockUnlessUnloading& operator=(const LoaderLockUnlessUnloading&) = delete;
    bool held() const { return held_; }

private:
    ULONG_PTR cookie_ = 0;
    bool locked_ = false;
    bool held_ = false;
};

} // namespace

void findLoaderLock()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    lockLoader = reinterpret_cast<LockLoader>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
    unlockLoader =
        reinterpret_cast<UnlockLoader>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
}

void noteUnloading()
{
    unloading.store(true);
}

bool unloadUnderWay()
{
    return unloading.load();
}

FARPROC loadUnlessUnloading(const char* fileName, const char* entryName, HMODULE* module)
{
    *module = nullptr;
    LoaderLockUnlessUnloading loader;
    if (!loader.held()) return nullptr;
    *module = LoadLibraryA(fileName);
    return *module ? GetProcAddress(*module, entryName) : nullptr;
}

bool referenceUnlessUnloading(const void* address, HMODULE* module)
{
    *module = nullptr;
    LoaderLockUnlessUnloading loader;
    return loader.held() &&
           GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<LPCSTR>(address), module);
}

} // namespace dovrikna
