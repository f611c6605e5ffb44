// The native of com.quenlark.foto.Repository.
#include "com_quenlark_foto_Repository.h"

#include <windows.h>

#include "frame/jni_scoped.h"

using dovrikna::ScopedUtfChars;

// Moves or renames a file or directory; an existing destination is never replaced.
extern "C" JNIEXPORT jboolean JNICALL Java_com_quenlark_foto_Repository_mv0(JNIEnv* env, jclass,
                                                                          jstring source,
                                                                          jstring destination)
{
    ScopedUtfChars from(env, source);
    ScopedUtfChars to(env, destination);
    if (!from.c_str() || !to.c_str()) return JNI_FALSE;

    BOOL moved = MoveFileA(from.c_str(), to.c_str());
    from.release();
    to.release();
    return moved ? JNI_TRUE : JNI_FALSE;
}
