// How TwainWorker treats one retrieved message when it drives TWAIN itself.
#ifndef DOVRIKNA_ACQUISITION_IN_PROCESS_REQUESTS_H
#define DOVRIKNA_ACQUISITION_IN_PROCESS_REQUESTS_H

#include <windows.h>

namespace dovrikna {

// The three requests are thread messages. The same numbers arriving as window
// messages (posted to TwainWindow) are no requests: forwarding or running them
// would let a report echoed by the Launcher start work that Java never asked for.
bool isRequest(const MSG& message);
// A request that the natives posted: one carrying kRequestMark. A source's own
// thread messages of the same numbers go to the source like any other.
bool isLibraryRequest(const MSG& message);

// Runs a request's session operation, then offers the message to the open
// source; only a message the source did not take, and no request, is
// translated and dispatched.
void handleInProcessMessage(MSG& message);

} // namespace dovrikna

#endif
