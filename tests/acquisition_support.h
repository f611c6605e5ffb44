// What the acquisition tests share: the test Launcher process, a writer of the
// image-name block, and waiting for the worker.
#ifndef DOVRIKNA_TESTS_ACQUISITION_SUPPORT_H
#define DOVRIKNA_TESTS_ACQUISITION_SUPPORT_H

#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>
#include <string>
#include <vector>

namespace acquisition {

const char kTwainWindowClass[] = "com_quenlark_foto_TwainHandler_class";
const char kTwainWindowTitle[] = "com_quenlark_foto_TwainHandler_window";
const char kLauncherClass[] = "QUENLARK_LAUNCHER_CLS_NAME";
const char kLauncherTitle[] = "QUENLARK_LAUNCHER_WIN_NAME";
const char kBlockName[] = "D32B4912-DB77-4112-B52F-4BE6856A3199";

// Polls until the condition holds; false after the timeout.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// The top-level TwainWindow (forwarding path), once the worker has made it.
HWND waitForTopLevelTwainWindow();

std::string tempPath();

// The test Launcher (tests/standins/test_launcher.cpp) as a process of its own.
class LauncherProcess {
public:
    // Starts it with the script arguments and waits for its window.
    explicit LauncherProcess(const std::vector<std::string>& script);
    ~LauncherProcess(); // closes its window and waits for it to end
    LauncherProcess(const LauncherProcess&) = delete;
    LauncherProcess& operator=(const LauncherProcess&) = delete;

    bool running() const { return window_ != nullptr; }
    HWND window() const { return window_; }
    // Every line logged so far.
    std::vector<std::string> log() const;
    // Waits until the log has at least count lines; returns the log.
    std::vector<std::string> waitForLines(size_t count, DWORD timeoutMs = 5000) const;
    // Waits until the line is in the log count times.
    bool waitForLine(const std::string& line, size_t count = 1, DWORD timeoutMs = 5000) const;
    void stop();

private:
    std::string logPath_;
    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
};

// A writer of the image-name block, as the Launcher or the TWAIN session is.
class BlockWriter {
public:
    BlockWriter();
    ~BlockWriter();
    bool open() const { return view_ != nullptr; }
    void write(const std::string& path);
    void writeBytes(const void* bytes, size_t size);
    void close();

private:
    HANDLE mapping_ = nullptr;
    char* view_ = nullptr;
};

// Closes every dialog box of this process that shows up while it lives, as a
// user who clicks OK would (the TWAIN session's message boxes).
class BoxCloser {
public:
    BoxCloser();
    ~BoxCloser();
    BoxCloser(const BoxCloser&) = delete;
    BoxCloser& operator=(const BoxCloser&) = delete;

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Whether a mapping of the block's name exists in the session.
bool blockExists();

} // namespace acquisition

#endif
