// The native of com.quenlark.foto.Repository.
#include "com_quenlark_foto_Repository.h"

#include <windows.h>

#include <string>

#include "frame/failure_log.h"
#include "frame/java_strings.h"
#include "frame/jni_scoped.h"

using namespace dovrikna;

// Moves or renames a file or directory; an existing destination is never
// replaced. Windows 9x has the ANSI function only: a path it cannot hold is
// not moved.
extern "C" JNIEXPORT jboolean JNICALL Java_com_quenlark_foto_Repository_mv0(JNIEnv* env, jclass,
                                                                          jstring source,
                                                                          jstring destination)
{
    ScopedJavaString from(env, source);
    ScopedJavaString to(env, destination);
    if (!from.ok() || !to.ok()) {
        logFailure("mv0", nullptr, "a path that is null or holds U+0000");
        return JNI_FALSE;
    }

    BOOL moved = FALSE;
    std::string ansiFrom, ansiTo;
    if (platformHasWideApi())
        moved = MoveFileW(wideOf(from.text()), wideOf(to.text()));
    else if (ansiFromWide(from.text(), CP_ACP, ansiFrom) && ansiFromWide(to.text(), CP_ACP, ansiTo))
        moved = MoveFileA(ansiFrom.c_str(), ansiTo.c_str());
    else
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    if (!moved) logWin32Failure("mv0", &from.text(), GetLastError(), &to.text());
    from.release();
    to.release();
    return moved ? JNI_TRUE : JNI_FALSE;
}
