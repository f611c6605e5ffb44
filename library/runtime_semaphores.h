// The semaphores that the static C++ runtime makes while it starts and never
// closes (see runtime_semaphores.cpp).
#ifndef DOVRIKNA_LIBRARY_RUNTIME_SEMAPHORES_H
#define DOVRIKNA_LIBRARY_RUNTIME_SEMAPHORES_H

namespace dovrikna {

// The runtime has started: semaphores made from now on are not the start's.
void noteRuntimeStarted();

// Closes the start's semaphores. Only at an unload of the library that leaves
// the process running, once no other thread can run the library's code: the
// runtime's last use of them, after this, takes their locks uncontended and
// does not touch the semaphore.
void closeRuntimeSemaphores();

} // namespace dovrikna

#endif
