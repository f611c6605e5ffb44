// A reference of the library's own, held while TwainWorker has something open
// that an unload could not take down (see library_hold.cpp).
#ifndef DOVRIKNA_ACQUISITION_LIBRARY_HOLD_H
#define DOVRIKNA_ACQUISITION_LIBRARY_HOLD_H

namespace dovrikna {

// TwainWorker only. While `needed`, the library holds one reference to
// itself: a FreeLibrary of the application's then leaves it mapped and runs
// no unload sequence. When the need ends the reference is given back, and if
// it was the last one the library is unloaded then, with its whole unload
// sequence.
void keepLibraryMappedWhile(bool needed);

} // namespace dovrikna

#endif
