// Opening a file with the application the shell associates with it, and the
// window queries of the Java side.
#include "com_quenlark_ui_awt_AwtUtil.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <new>
#include <string>

#include "frame/failure_log.h"
#include "frame/java_strings.h"
#include "frame/jni_scoped.h"
#include "frame/library.h"
#include "frame/win_handles.h"

namespace dovrikna {

namespace {

// What a ShellOpenThread opens: the path as UTF-16 where the shell has a
// wide form, otherwise as ANSI text (Windows 9x).
struct OpenRequest {
    std::u16string wide;
    std::string ansi;
};

// Runs the shell's "open" verb on the path, in the process's current
// directory. A directory too long for the buffer (0 is a failure, MAX_PATH
// or more the size it would need) is not passed: the program started then
// inherits this process's current directory, which is the directory meant.
void openWithShell(const OpenRequest& request)
{
    // Associations may be carried out by shell extensions, which are COM
    // objects; the shell expects COM on the calling thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (platformHasWideApi()) {
        wchar_t directory[MAX_PATH];
        DWORD length = GetCurrentDirectoryW(MAX_PATH, directory);
        HINSTANCE answer = ShellExecuteW(findMainAppWindow(), L"open", wideOf(request.wide), nullptr,
                                         length > 0 && length < MAX_PATH ? directory : nullptr, SW_SHOW);
        logShellAnswer(request.wide, reinterpret_cast<std::intptr_t>(answer));
    } else {
        char directory[MAX_PATH];
        DWORD length = GetCurrentDirectoryA(MAX_PATH, directory);
        HINSTANCE answer = ShellExecuteA(findMainAppWindow(), "open", request.ansi.c_str(), nullptr,
                                         length > 0 && length < MAX_PATH ? directory : nullptr, SW_SHOW);
        logShellAnswer(request.wide, reinterpret_cast<std::intptr_t>(answer));
    }
    if (SUCCEEDED(com)) CoUninitialize();
}

// ShellOpenThread. It owns its request, and holds a reference to this
// library, taken by its creator, so that an unload cannot unmap the code it
// runs; it gives the reference back as it ends.
DWORD WINAPI ShellOpenThread(void* parameter)
{
    {
        std::unique_ptr<OpenRequest> request(static_cast<OpenRequest*>(parameter));
        openWithShell(*request);
    }
    FreeLibraryAndExitThread(moduleInstance, 0);
    return 0;
}

} // namespace

} // namespace dovrikna

using namespace dovrikna;

extern "C" {

JNIEXPORT jint JNICALL Java_com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(JNIEnv*, jclass, jint window)
{
    // Window handles cross the boundary as their 32-bit value, sign-extended
    // back to a pointer as the system does.
    if (window != 0) return IsWindow(reinterpret_cast<HWND>(static_cast<LONG_PTR>(window)));
    return static_cast<jint>(reinterpret_cast<LONG_PTR>(GetForegroundWindow()));
}

JNIEXPORT jboolean JNICALL Java_com_quenlark_ui_awt_AwtUtil_openDefaultApp0(JNIEnv* env, jclass, jstring path)
{
    ScopedJavaString text(env, path);
    if (!text.ok()) {
        logFailure("openDefaultApp0", nullptr, "a path that is null or holds U+0000");
        return JNI_FALSE;
    }
    std::unique_ptr<OpenRequest> copy(new (std::nothrow) OpenRequest);
    if (!copy) return JNI_FALSE;
    try {
        copy->wide = text.text();
    } catch (...) {
        return JNI_FALSE;
    }
    // Windows 9x: a path the code page cannot hold is not opened at all.
    if (!platformHasWideApi() && !ansiFromWide(copy->wide, CP_ACP, copy->ansi)) {
        logFailure("openDefaultApp0", &copy->wide, "the path does not fit the code page");
        return JNI_FALSE;
    }

    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const char*>(&ShellOpenThread), &self))
        return JNI_FALSE;
    unique_module reference(self);

    DWORD threadId = 0;
    unique_kernel_handle thread(CreateThread(nullptr, 0, ShellOpenThread, copy.get(), 0, &threadId));
    if (!thread) {
        logWin32Failure("openDefaultApp0", &copy->wide, GetLastError());
        return JNI_FALSE;
    }
    // The thread owns the copy and the reference now; nothing waits for it.
    copy.release();
    reference.release();
    return JNI_TRUE;
}

} // extern "C"
