// Without a source manager: Wine's TWAIN_32.DLL is switched off for this
// program (WINEDLLOVERRIDES=twain_32=d), so the load fails.
#include "acquisition/acquisition_status.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "acquisition/twain_messages.h"
#include "acquisition/twain_session_state.h"
#include "twain_test_support.h"

// windows.h defines STATUS_PENDING as an NTSTATUS; here it is the status word's value.
#undef STATUS_PENDING

namespace {

using namespace dovrikna;
using namespace twaintest;

TEST(NoManager, EveryOperationFailsWithOnlyTheConnectMessageShown)
{
    BoxCloser boxes;
    createSession(nullptr);
    ASSERT_NE(nullptr, currentSession);
    EXPECT_EQ(nullptr, currentSession->dsmModule);
    EXPECT_EQ(nullptr, dsmEntry);
    EXPECT_EQ(703, currentSession->appIdentity.Version.MinorNum) << "the identity is filled all the same";

    // A selection as TwainWorker makes it.
    openDsm();
    bool chosen = chooseSource(false);
    applyReport(chosen ? TWM_SELECT_DONE : TWM_SELECT_FAILED);
    closeDsm();
    EXPECT_EQ(STATUS_SIGNALLED, acquisitionStatus.load());

    acquisitionStatus.store(STATUS_PENDING);
    startAcquisition();
    EXPECT_EQ(STATUS_FINISHED, acquisitionStatus.load()) << "an acquisition that cannot start fails";
    MSG message = {nullptr, WM_USER + 100, 0, 0, 0, {0, 0}};
    EXPECT_FALSE(filterEvent(message));

    EXPECT_TRUE(boxes.waitFor(2));
    EXPECT_EQ((std::vector<std::string>{"Failed to connect to data source manager.",
                                        "Failed to connect to data source manager."}),
              boxes.texts());
    EXPECT_EQ(nullptr, GetModuleHandleA("TWAIN_32.DLL")) << "no manager was ever loaded";
    deleteSession();
    EXPECT_EQ(nullptr, currentSession);
}

} // namespace

namespace {

// The worker is asked to stop (WM_QUIT) while the connect message shows: the
// box ends, and the quit request is left for the worker's own loop.
TEST(NoManager, QuitWhileTheConnectMessageShowsEndsTheBox)
{
    using namespace dovrikna;
    createSession(nullptr);
    DWORD self = GetCurrentThreadId();
    std::atomic<DWORD> posted{0};
    std::thread quitter([self, &posted] {
        waitUntil([] { return FindWindowA("#32770", nullptr) != nullptr; });
        Sleep(100);
        posted = GetTickCount();
        PostThreadMessageA(self, WM_QUIT, 7, 0);
    });
    openDsm();
    DWORD returned = GetTickCount();
    quitter.join();
    ASSERT_NE(0u, posted.load()) << "no message box was seen";
    // Wine's message box answers anything, IDOK included, only about 2 s after
    // it appears.
    EXPECT_LT(returned - posted, 4000u) << "the box ended on the quit request";
    MSG message;
    EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit request is kept";
    deleteSession();
}

} // namespace
