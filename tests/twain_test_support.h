// Helpers of the TWAIN tests: the closer of message boxes, the names of the
// stand-in manager's logged calls, a temp directory of the test's own.
#ifndef DOVRIKNA_TESTS_TWAIN_TEST_SUPPORT_H
#define DOVRIKNA_TESTS_TWAIN_TEST_SUPPORT_H

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "standins/twain_standin.h"

namespace twaintest {

// Watches for message boxes (dialog class "#32770") on a thread of its own,
// notes the text of each, lets the test act on it, and closes it with IDOK.
class BoxCloser {
public:
    explicit BoxCloser(std::function<void(const std::string& text)> onBox = nullptr);
    ~BoxCloser();
    BoxCloser(const BoxCloser&) = delete;
    BoxCloser& operator=(const BoxCloser&) = delete;

    std::vector<std::string> texts() const;
    // Waits up to `ms` for `count` boxes to have been handled and closed.
    bool waitFor(size_t count, DWORD ms = 10000) const;

private:
    void run();
    std::function<void(const std::string&)> onBox_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
    std::atomic<size_t> closed_{0};
    std::thread thread_;
};

// "OPENDSM", "GET XFERMECH", "IMAGEFILEXFER"... one per call, with "?" for a
// call whose DG or destination does not fit. Calls of MSG_PROCESSEVENT that
// the source did not take are left out unless `allEvents`.
std::string callName(const standin::Call& call);
std::vector<std::string> callNames(const std::vector<standin::Call>& calls, bool allEvents = false);
std::vector<standin::Call> loggedCalls(const standin::TwainStandin& dsm);
std::string problemsOf(const standin::TwainStandin& dsm);

// Points TMP and TEMP at a new empty folder for this test process and
// returns it with its trailing backslash.
std::string useFreshTempDirectory(const char* name);
bool fileExists(const std::string& path);
// The test program's folder (the library's too), with its trailing backslash.
std::string programFolder();

// The image-name block as the Java side reads it; "" when it cannot be opened.
std::string readNameBlock();

// Polls `condition` every 10 ms up to `ms`, answering this thread's messages.
bool waitUntil(const std::function<bool()>& condition, DWORD ms = 10000);

} // namespace twaintest

#endif
