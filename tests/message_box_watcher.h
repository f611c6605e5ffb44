// Watches for message boxes of this process from a thread of its own, reads
// each one and closes it with its OK button, so that a test can call a native
// that shows a modal box on the test's thread.
#ifndef DOVRIKNA_TESTS_MESSAGE_BOX_WATCHER_H
#define DOVRIKNA_TESTS_MESSAGE_BOX_WATCHER_H

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class MessageBoxWatcher {
public:
    struct Box {
        std::string text;
        std::string caption;
        bool owned;      // it has an owner window
        std::string seen; // what onBox returned while the box was up
    };

    // onBox runs while each box is still up (to look at what has happened so far).
    explicit MessageBoxWatcher(std::function<std::string()> onBox = {})
        : onBox_(std::move(onBox)), thread_([this] { run(); })
    {
    }
    ~MessageBoxWatcher() { stop(); }
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    void stop()
    {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
    }

    std::vector<Box> boxes()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return boxes_;
    }

private:
    static HWND findBox()
    {
        for (HWND window = FindWindowExA(nullptr, nullptr, "#32770", nullptr); window;
             window = FindWindowExA(nullptr, window, "#32770", nullptr)) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && IsWindowVisible(window)) return window;
        }
        return nullptr;
    }

    void run()
    {
        while (!stopping_) {
            HWND box = findBox();
            if (!box) {
                Sleep(20);
                continue;
            }
            Box seen;
            char text[512] = "", caption[256] = "";
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            GetWindowTextA(box, caption, sizeof caption);
            seen.text = text;
            seen.caption = caption;
            seen.owned = GetWindow(box, GW_OWNER) != nullptr;
            if (onBox_) seen.seen = onBox_();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                boxes_.push_back(seen);
            }
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            for (int i = 0; i < 250 && IsWindow(box); ++i) Sleep(20);
        }
    }

    std::function<std::string()> onBox_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<Box> boxes_;
    std::thread thread_;
};

#endif
