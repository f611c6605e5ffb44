// The application's main window as a host of the library makes it: class
// "com.quenlark.ui.Dovrik", title "quenLark", hidden. The library looks it up
// at load and makes its scanning window a child of it, so a host makes it
// before the load, on the thread that is to own it.
#ifndef DOVRIKNA_JNI_HOST_MAIN_WINDOW_H
#define DOVRIKNA_JNI_HOST_MAIN_WINDOW_H

#include <windows.h>

inline HWND makeMainAppWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "com.quenlark.ui.Dovrik";
    RegisterClassA(&windowClass); // fails harmlessly once registered
    return CreateWindowA(windowClass.lpszClassName, "quenLark", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                         nullptr, windowClass.hInstance, nullptr);
}

#endif
