// The Java side of scanning, played through the natives of the loaded
// library: MainAppWindow made before the load, TwainWindow found, and the
// polls and hand-overs that the Java classes make.
#ifndef DOVRIKNA_TESTS_SCANNING_FIXTURE_H
#define DOVRIKNA_TESTS_SCANNING_FIXTURE_H

#include <windows.h>

#include <string>
#include <vector>

#include "host_main_window.h"
#include "library_test.h"
#include "standins/twain_standin.h"
#include "twain_test_support.h"

namespace scanning {

using twaintest::waitUntil;

enum : jint { kPending = 0, kIdle = 1, kSignalled = 2, kFinished = 3 };

// MainAppWindow, made before the library loads so that TwainWindow gets it as
// its parent.
struct MainAppWindow {
    ~MainAppWindow() { DestroyWindow(mainWindow); }
    HWND mainWindow = makeMainAppWindow();
};

class JavaSide : protected MainAppWindow, public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        ASSERT_NE(nullptr, mainWindow);
        temp = twaintest::useFreshTempDirectory("scanning");
        ASSERT_TRUE(waitUntil([&] {
            twainWindow = FindWindowExA(mainWindow, nullptr, "com_quenlark_foto_TwainHandler_class", nullptr);
            return twainWindow != nullptr;
        })) << "TwainWindow, the child of MainAppWindow";
        worker = GetWindowThreadProcessId(twainWindow, nullptr);
    }

    void selectSource() { lib.com_quenlark_foto_TwainHandler_selectSource0(env(), nullptr); }
    jint querySelect() { return lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr); }
    void acquire() { lib.com_quenlark_foto_TwainHandler_acquireImage0(env(), nullptr); }
    jint queryImage() { return lib.com_quenlark_foto_TwainHandler_queryImageFile0(env(), nullptr); }

    // The Java side's polls: until the value is something other than "nothing new".
    jint pollSelect()
    {
        jint status = kPending;
        waitUntil([&] { return (status = querySelect()) != kPending; });
        return status;
    }
    jint pollImage()
    {
        jint status = kIdle;
        waitUntil([&] {
            status = queryImage();
            return status != kPending && status != kIdle;
        });
        return status;
    }
    std::string getImageFile(jint* flag = nullptr)
    {
        jintArray flags = jvm.newIntArray({-7});
        jstring path = lib.com_quenlark_foto_TwainHandler_getImageFile0(env(), nullptr, flags);
        if (flag) *flag = jvm.ints(flags)[0];
        return path ? jvm.bytesOf(path) : "(null)";
    }
    // Every file of the acquisition as the Java side collects it.
    std::vector<std::string> collect(int limit = 10)
    {
        std::vector<std::string> paths;
        for (int i = 0; i < limit; ++i) {
            jint status = pollImage();
            if (status == kFinished) return paths;
            if (status != kSignalled) {
                ADD_FAILURE() << "status " << status << " after " << paths.size() << " files";
                return paths;
            }
            jint flag = -1;
            paths.push_back(getImageFile(&flag));
            EXPECT_EQ(1, flag) << paths.back() << " lies in the temp directory";
        }
        ADD_FAILURE() << "no end after " << limit << " files";
        return paths;
    }

    std::string temp;
    HWND twainWindow = nullptr;
    DWORD worker = 0;
};

// The Java side with the stand-in source manager (TWAIN_32.DLL beside the
// test program, loaded with WINEDLLOVERRIDES twain_32=n,b).
class StandinScanning : public JavaSide {
protected:
    void SetUp() override
    {
        JavaSide::SetUp();
        ASSERT_TRUE(dsm.load());
        script = dsm.script();
    }

    void TearDown() override { EXPECT_EQ("", twaintest::problemsOf(dsm)); }

    // The user presses the source's scan button once its window is up.
    void pressScan()
    {
        ASSERT_TRUE(waitUntil([&] { return dsm.sourceWindow() != nullptr; })) << "the source was not enabled";
        PostMessageA(dsm.sourceWindow(), standin::kScanButton, 0, 0);
    }

    void setTransfers(std::initializer_list<standin::Transfer> transfers)
    {
        script->transferCount = 0;
        for (const standin::Transfer& transfer : transfers) script->transfers[script->transferCount++] = transfer;
    }

    std::vector<std::string> calls() { return twaintest::callNames(twaintest::loggedCalls(dsm)); }

    standin::TwainStandin dsm;
    standin::Script* script = nullptr;
};

} // namespace scanning

#endif
