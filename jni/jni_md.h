/*
 * Machine-dependent JNI types for Windows (x86 and x64), used with the JDK's
 * jni.h when the library is cross-compiled.
 *
 * JNIEXPORT is left empty: the module-definition files in frame/ are the one
 * source of exports, so each native is exported under exactly the name a
 * Java VM looks for and under no second, compiler-spelled name.
 */
#ifndef DOVRIKNA_JNI_MD_H
#define DOVRIKNA_JNI_MD_H

#ifndef JNIEXPORT
#define JNIEXPORT
#endif
#ifndef JNIIMPORT
#define JNIIMPORT __declspec(dllimport)
#endif
#define JNICALL __stdcall

/* Windows is LLP64: long stays 32 bits on x64, as the Windows JDK declares. */
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
