// Owner types for Windows resources, built on unique_handle.
#ifndef DOVRIKNA_FRAME_WIN_HANDLES_H
#define DOVRIKNA_FRAME_WIN_HANDLES_H

#include <windows.h>

#include "frame/unique_handle.h"

namespace dovrikna {

// A kernel object whose "none" is null: threads, events, file mappings.
struct kernel_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { CloseHandle(value); }
};
using unique_kernel_handle = unique_handle<kernel_handle_traits>;

// A file handle, whose "none" is INVALID_HANDLE_VALUE.
struct file_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type value) noexcept { CloseHandle(value); }
};
using unique_file_handle = unique_handle<file_handle_traits>;

struct module_traits {
    using type = HMODULE;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { FreeLibrary(value); }
};
using unique_module = unique_handle<module_traits>;

struct mapview_traits {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { UnmapViewOfFile(value); }
};
using unique_mapview = unique_handle<mapview_traits>;

struct window_traits {
    using type = HWND;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { DestroyWindow(value); }
};
using unique_window = unique_handle<window_traits>;

// A FindFirstFileA search.
struct find_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type value) noexcept { FindClose(value); }
};
using unique_find_handle = unique_handle<find_handle_traits>;

// A GlobalLock of a movable memory block; closing unlocks it.
struct global_lock_traits {
    using type = HGLOBAL;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { GlobalUnlock(value); }
};
using unique_global_lock = unique_handle<global_lock_traits>;

// A global memory block the library was handed and must free.
struct global_memory_traits {
    using type = HGLOBAL;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { GlobalFree(value); }
};
using unique_global_memory = unique_handle<global_memory_traits>;

// A GDI object the library was handed or made and must delete: bitmaps.
struct gdi_object_traits {
    using type = HGDIOBJ;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { DeleteObject(value); }
};
using unique_gdi_object = unique_handle<gdi_object_traits>;

// A memory device context made with CreateCompatibleDC.
struct memory_dc_traits {
    using type = HDC;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { DeleteDC(value); }
};
using unique_memory_dc = unique_handle<memory_dc_traits>;

// A hook on one thread's messages.
struct hook_traits {
    using type = HHOOK;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { UnhookWindowsHookEx(value); }
};
using unique_hook = unique_handle<hook_traits>;

} // namespace dovrikna

#endif
