#include "com_quenlark_ui_awt_AwtUtil.h"

// Not implemented yet: no window is looked at and nothing is opened.

extern "C" {

JNIEXPORT jint JNICALL Java_com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0(JNIEnv*, jclass, jint)
{
    return 0;
}

JNIEXPORT jboolean JNICALL Java_com_quenlark_ui_awt_AwtUtil_openDefaultApp0(JNIEnv*, jclass, jstring)
{
    return JNI_FALSE;
}

} // extern "C"
