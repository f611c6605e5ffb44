// The natives without any source manager (WINEDLLOVERRIDES twain_32=d).
#include <windows.h>

#include "library_test.h"
#include "twain_test_support.h"

namespace {

using namespace twaintest;

TEST_F(LibraryTest, WithoutAManagerSelectionAndAcquisitionBothFail)
{
    BoxCloser boxes;
    lib.com_quenlark_foto_TwainHandler_selectSource0(env(), nullptr);
    jint status = 0;
    EXPECT_TRUE(waitUntil([&] {
        return (status = lib.com_quenlark_foto_TwainHandler_querySelectSource0(env(), nullptr)) != 0;
    }));
    EXPECT_EQ(2, status) << "STATUS_SIGNALLED: no source chosen";
    EXPECT_TRUE(boxes.waitFor(1));

    lib.com_quenlark_foto_TwainHandler_acquireImage0(env(), nullptr);
    EXPECT_TRUE(boxes.waitFor(2));
    EXPECT_TRUE(waitUntil([&] { return lib.com_quenlark_foto_TwainHandler_queryImageFile0(env(), nullptr) == 3; }))
        << "STATUS_FINISHED: the acquisition could not start";
    EXPECT_EQ((std::vector<std::string>{"Failed to connect to data source manager.",
                                        "Failed to connect to data source manager."}),
              boxes.texts());
    EXPECT_EQ(nullptr, GetModuleHandleA("TWAIN_32.DLL"));
}

} // namespace
