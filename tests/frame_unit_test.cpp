// The lookup of the application's main window, linked from the library's source.
#include <windows.h>

#include <gtest/gtest.h>

#include "frame/library.h"

namespace {

HWND makeWindow(const char* className, const char* title)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    return CreateWindowA(className, title, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

// One test: the cache is process-wide and is filled once.
TEST(MainAppWindow, FoundByClassAndTitleTogetherThenKeptForGood)
{
    EXPECT_EQ(nullptr, dovrikna::findMainAppWindow());

    HWND wrongClass = makeWindow("com.quenlark.ui.Other", "quenLark");
    HWND wrongTitle = makeWindow("com.quenlark.ui.Dovrik", "quenLark 2");
    ASSERT_NE(nullptr, wrongClass);
    ASSERT_NE(nullptr, wrongTitle);
    EXPECT_EQ(nullptr, dovrikna::findMainAppWindow());

    HWND main = makeWindow("com.quenlark.ui.Dovrik", "quenLark");
    ASSERT_NE(nullptr, main);
    EXPECT_EQ(main, dovrikna::findMainAppWindow());

    DestroyWindow(main);
    HWND replacement = makeWindow("com.quenlark.ui.Dovrik", "quenLark");
    EXPECT_EQ(main, dovrikna::findMainAppWindow()) << "the first window found stays cached";

    DestroyWindow(replacement);
    DestroyWindow(wrongTitle);
    DestroyWindow(wrongClass);
}

} // namespace
