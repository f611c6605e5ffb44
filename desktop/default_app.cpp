// Opening a file with the application the shell associates with it, and the
// window queries of the Java side.
#include "com_quenlark_ui_awt_AwtUtil.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "desktop/heap_string.h"
#include "frame/jni_scoped.h"
#include "frame/library.h"
#include "frame/win_handles.h"

namespace dovrikna {

namespace {

// Runs the shell's "open" verb on the path copy it owns.
void openWithShell(unique_malloc_string path)
{
    char directory[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, directory);
    // 0 is a failure, and MAX_PATH or more the size a directory too long for
    // the buffer would need; the buffer then holds nothing usable. Without a
    // directory the program started inherits this process's current
    // directory, which is the directory meant.
    const char* workingDirectory = length > 0 && length < MAX_PATH ? directory : nullptr;

    // Associations may be carried out by shell extensions, which are COM
    // objects; the shell expects COM on the calling thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ShellExecuteA(findMainAppWindow(), "open", path.get(), nullptr, workingDirectory, SW_SHOW);
    if (SUCCEEDED(com)) CoUninitialize();
}

// ShellOpenThread. It holds a reference to this library, taken by its
// creator, so that an unload cannot unmap the code it runs; it gives the
// reference back as it ends.
DWORD WINAPI ShellOpenThread(void* pathCopy)
{
    openWithShell(unique_malloc_string(static_cast<char*>(pathCopy)));
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
    ScopedUtfChars bytes(env, path);
    if (!bytes.c_str()) return JNI_FALSE;
    unique_malloc_string copy = heapCopy(bytes.c_str());
    if (!copy) return JNI_FALSE;

    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const char*>(&ShellOpenThread), &self))
        return JNI_FALSE;
    unique_module reference(self);

    DWORD threadId = 0;
    unique_kernel_handle thread(CreateThread(nullptr, 0, ShellOpenThread, copy.get(), 0, &threadId));
    if (!thread) return JNI_FALSE;
    // The thread owns the copy and the reference now; nothing waits for it.
    copy.release();
    reference.release();
    return JNI_TRUE;
}

} // extern "C"
