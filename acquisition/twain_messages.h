// Message numbers and window names shared by the Java-side natives, TwainWorker,
// TwainWindow and the Launcher process.
#ifndef DOVRIKNA_ACQUISITION_TWAIN_MESSAGES_H
#define DOVRIKNA_ACQUISITION_TWAIN_MESSAGES_H

namespace dovrikna {

enum : unsigned {
    TWM_LIBRARY_UNLOADING = 1025, // notice to the Launcher: the library is going
    TWM_SELECT_SOURCE = 1026,     // request: let the user choose a source
    TWM_SELECT_DONE = 1027,       // report: a source was chosen
    TWM_SELECT_FAILED = 1028,     // report: no source was chosen
    TWM_ACQUIRE = 1029,           // request: start an acquisition
    TWM_NEXT_FILE = 1030,         // request: the current path has been taken
    TWM_FILE_READY = 1031,        // report: a path is in the image-name block
    TWM_ACQUIRE_DONE = 1032,      // report: every file has been handed over
    TWM_ACQUIRE_CANCELLED = 1033, // report: the transfer was cancelled
    TWM_ACQUIRE_FAILED = 1034,    // report: the transfer failed
};

// The wParam of every request the natives post to TwainWorker. A source may
// post thread messages of its own with the same numbers to the thread that
// calls it; only a message carrying this mark is the library's request.
// (Requests forwarded to the Launcher carry 0, as they always have.)
constexpr unsigned kRequestMark = 0x6B72766Fu;

constexpr char kTwainWindowClass[] = "com_quenlark_foto_TwainHandler_class";
constexpr char kTwainWindowTitle[] = "com_quenlark_foto_TwainHandler_window";
constexpr char kLauncherWindowClass[] = "QUENLARK_LAUNCHER_CLS_NAME";
constexpr char kLauncherWindowTitle[] = "QUENLARK_LAUNCHER_WIN_NAME";

} // namespace dovrikna

#endif
