#include "com_quenlark_ui_awt_AwtUtil.h"

#include <objbase.h>

#include "desktop/thumbnail_cache.h"

namespace dovrikna {

void initThumbnailCache()
{
    CoInitialize(nullptr);
}

void releaseThumbnailCache()
{
    CoUninitialize();
}

} // namespace dovrikna

// Not implemented yet: no frame is grabbed.
extern "C" JNIEXPORT jint JNICALL Java_com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(
    JNIEnv*, jclass, jstring, jintArray, jbyteArray)
{
    return -1;
}
