#include "library/runtime_semaphores.h"

#include <windows.h>

#include <atomic>

namespace dovrikna {

#ifdef DOVRIKNA_RUNTIME_SEMAPHORES
// The 32-bit runtime (mingw's win32 thread model) registers the library's
// unwind tables while it starts, before DllMain. The registry's lock is made
// then, as a semaphore, and nothing ever closes it: one kernel handle left
// behind by every load. The library's import of CreateSemaphoreW is taken
// here, so that the semaphores of the start are known and can be closed at
// the unload.
namespace {

using CreateSemaphoreFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);

const int kKept = 4;
HANDLE startSemaphores[kKept];
// Written while the runtime starts and at the unload, under the loader lock.
int startSemaphoreCount = 0;
bool runtimeStarted = false;

// Found at the first call. No guarded local static: the runtime's guard of
// such statics is itself a lock made by this function.
std::atomic<CreateSemaphoreFunction> createSemaphore{nullptr};

HANDLE WINAPI createSemaphoreNoted(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name)
{
    CreateSemaphoreFunction create = createSemaphore.load();
    if (!create) {
        create = reinterpret_cast<CreateSemaphoreFunction>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSemaphoreW")));
        createSemaphore.store(create);
    }
    HANDLE semaphore = create ? create(attributes, initial, maximum, name) : nullptr;
    // A named one may be shared with another module; only the start's own are kept.
    if (semaphore && !name && !runtimeStarted && startSemaphoreCount < kKept)
        startSemaphores[startSemaphoreCount++] = semaphore;
    return semaphore;
}

} // namespace

// The import's address slot as the linker names it: the runtime's calls go
// through this pointer instead of the import table.
extern "C" {
extern void* const runtimeCreateSemaphoreImport __asm__("__imp__CreateSemaphoreW@16");
void* const runtimeCreateSemaphoreImport = reinterpret_cast<void*>(&createSemaphoreNoted);
}

void noteRuntimeStarted()
{
    runtimeStarted = true;
}

void closeRuntimeSemaphores()
{
    for (int i = 0; i < startSemaphoreCount; ++i) CloseHandle(startSemaphores[i]);
    startSemaphoreCount = 0;
}
#else
// Other runtimes close what they make (x64 registers no unwind tables; the
// posix thread model's runtime keeps no such lock).
void noteRuntimeStarted() {}
void closeRuntimeSemaphores() {}
#endif

} // namespace dovrikna
