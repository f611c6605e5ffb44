// Text between Java's UTF-16 and the platform's two string forms: UTF-16 for
// the wide ("W") functions, and the bytes of an ANSI code page for the "A"
// functions and for the peers that only know ANSI (the Launcher's image-name
// block, TWAIN's file names, Simple MAPI).
//
// A character that the code page cannot hold never becomes a look-alike
// ("Łódź" as "Lodz", or '?'): that text could name another, existing file.
// Such text either takes another way (a wide function, or a file's short
// 8.3 name) or fails.
#ifndef DOVRIKNA_FRAME_JAVA_STRINGS_H
#define DOVRIKNA_FRAME_JAVA_STRINGS_H

#include <windows.h>
#include <jni.h>

#include <string>

namespace dovrikna {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 is the platform's wide text");

inline const wchar_t* wideOf(const std::u16string& text)
{
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// False on Windows 95/98/Me, whose file and shell functions are ANSI only.
bool platformHasWideApi();

// The text in the code page, exactly: false when a character has no exact
// form there (or the text holds U+0000).
bool ansiFromWide(const std::u16string& text, UINT codePage, std::string& ansi);

// A path in the process's ANSI code page for an interface that knows no
// other form. Exactly when it can be; otherwise, where the platform has wide
// functions, the short 8.3 form of the existing file or folder when that
// form fits the code page. False when neither works.
bool ansiPath(const std::u16string& path, std::string& ansi);

// The temp directory as ANSI text (ansiPath's rules), ending in a backslash;
// false when there is none that fits MAX_PATH.
bool ansiTempDirectory(std::string& directory);

// Java strings of platform text: ANSI text in the process's code page, and
// UTF-16. Plain ASCII goes through NewStringUTF, anything else through
// NewString. Null when the ANSI text is not valid in the code page.
jstring newJavaString(JNIEnv* env, const char* ansi);
jstring newJavaString(JNIEnv* env, const wchar_t* text);

} // namespace dovrikna

#endif
