#include "com_quenlark_ui_awt_AwtUtil.h"

#include <windows.h>

#include "desktop/mail.h"

namespace dovrikna {

namespace {
HMODULE mailModule = nullptr;
} // namespace

void releaseMailModule()
{
    if (mailModule) FreeLibrary(mailModule);
    mailModule = nullptr;
}

} // namespace dovrikna

// Not implemented yet: nothing is mailed.
extern "C" JNIEXPORT jint JNICALL Java_com_quenlark_ui_awt_AwtUtil_sendFiles0(JNIEnv*, jclass, jchar,
                                                                              jstring, jstring)
{
    return 0;
}
