// TwainWorker: the one thread that drives scanning.
#ifndef DOVRIKNA_ACQUISITION_TWAIN_WORKER_H
#define DOVRIKNA_ACQUISITION_TWAIN_WORKER_H

#include <windows.h>

namespace dovrikna {

// Starts the worker and writes its id to workerThreadId (load sequence).
void startTwainWorker();

// Waits until the worker has started (its window and session made) and
// rests inside the system, two seconds at most; at once when no worker runs.
// A process that ends while the worker still starts can catch it inside the
// system's own code, holding a lock that the end then waits for (Wine 8: the
// process hangs until its server kills it). The Java VM's load waits here.
void waitForTwainWorkerStart();

// Ends the worker's loop and has the thread end itself, so that the library's
// code can be unmapped while the process goes on. Runs under the loader lock:
// it never waits for the thread's exit, which needs that lock, and never
// terminates the thread. False when the worker did not stop in time and the
// library's code stays mapped for it.
bool stopTwainWorker();

// DLL_THREAD_ATTACH: notes when it is the worker's, which from then on may
// run the library's code.
void noteThreadAttach();

// Posts a request to the worker, marked as the library's (kRequestMark). A
// worker that is still starting has no message queue yet, and a thread
// message posted then would be lost: the post waits, a few seconds at most,
// for the queue. When no worker was started the post fails at once, unnoticed.
void postToWorker(UINT message);

// Posts a request to the Launcher window, looked up anew every time; dropped
// when there is no Launcher window.
void forwardToLauncher(UINT message);

} // namespace dovrikna

#endif
