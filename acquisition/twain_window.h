// TwainWindow: TwainWorker's hidden 1x1 window.
#ifndef DOVRIKNA_ACQUISITION_TWAIN_WINDOW_H
#define DOVRIKNA_ACQUISITION_TWAIN_WINDOW_H

#include <windows.h>

#include <atomic>

namespace dovrikna {

// Created by TwainWorker; cleared by the unload sequence.
extern std::atomic<HWND> twainWindow;

LRESULT CALLBACK TwainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace dovrikna

#endif
