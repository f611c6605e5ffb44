// The library's load and unload sequences, run by its entry point.
#ifndef DOVRIKNA_LIBRARY_SEQUENCES_H
#define DOVRIKNA_LIBRARY_SEQUENCES_H

#include <windows.h>

namespace dovrikna {

// The load and unload sequences. processTerminating is true when the whole
// process is going away, false when the library is unloaded from a process
// that keeps running.
void onProcessAttach(HINSTANCE instance);
void onProcessDetach(bool processTerminating);

} // namespace dovrikna

#endif
