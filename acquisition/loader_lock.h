#pragma once

#include <windows.h>

namespace dovrikna {

// Finds the loader lock's functions; at load (finding them takes the lock).
void findLoaderLock();

// An unload of the library has begun (its DllMain runs, holding the loader
// lock); from then on the worker loads nothing.
void noteUnloading();
bool unloadUnderWay();

// LoadLibraryA and GetProcAddress, unless an unload of the library is under
// way: the worker would wait for that unload's loader lock while the unload
// waits for the worker. Then nothing is loaded, and the result is null.
FARPROC loadUnlessUnloading(const char* fileName, const char* entryName, HMODULE* module);

// One more reference to the module holding `address`, on the same terms:
// false, and no reference, when an unload is under way.
bool referenceUnlessUnloading(const void* address, HMODULE* module);

} // namespace dovrikna
