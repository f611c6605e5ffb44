// TwainWorker: the one thread that drives scanning.
#ifndef DOVRIKNA_ACQUISITION_TWAIN_WORKER_H
#define DOVRIKNA_ACQUISITION_TWAIN_WORKER_H

#include <windows.h>

namespace dovrikna {

// Starts the worker and writes its id to workerThreadId (load sequence).
void startTwainWorker();

// Ends the worker's loop and removes the thread, so that the library's code
// can be unmapped while the process goes on. Runs under the loader lock:
// it never waits for the thread's exit, which needs that lock.
void stopTwainWorker();

} // namespace dovrikna

#endif
