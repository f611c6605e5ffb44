// The natives of com.quenlark.foto.TwainHandler.
#include "com_quenlark_foto_TwainHandler.h"

// Not implemented yet: requests are not posted and no status is reported.

extern "C" {

JNIEXPORT void JNICALL Java_com_quenlark_foto_TwainHandler_selectSource0(JNIEnv*, jclass) {}

JNIEXPORT jint JNICALL Java_com_quenlark_foto_TwainHandler_querySelectSource0(JNIEnv*, jclass)
{
    return 0;
}

JNIEXPORT void JNICALL Java_com_quenlark_foto_TwainHandler_acquireImage0(JNIEnv*, jclass) {}

JNIEXPORT jint JNICALL Java_com_quenlark_foto_TwainHandler_queryImageFile0(JNIEnv*, jclass)
{
    return 0;
}

JNIEXPORT jstring JNICALL Java_com_quenlark_foto_TwainHandler_getImageFile0(JNIEnv*, jclass, jintArray)
{
    return nullptr;
}

} // extern "C"
