// Text as the Java VM hands it over, without Windows headers: whether a
// string's bytes are plain ASCII, and a Java string's modified UTF-8.
#ifndef DOVRIKNA_FRAME_JAVA_TEXT_H
#define DOVRIKNA_FRAME_JAVA_TEXT_H

#include <string>

namespace dovrikna {

// True when every byte is from 0x01 to 0x7F. Such text is the same in
// modified UTF-8, in UTF-16 (one unit a byte) and in every ANSI code page, so
// it crosses the boundary as it stands.
bool isAsciiText(const char* bytes);

// The modified UTF-8 of UTF-16 text, as the VM's GetStringUTFChars gives it:
// U+0000 as C0 80, each unit of a surrogate pair as three bytes of its own.
std::string modifiedUtf8(const std::u16string& text);

} // namespace dovrikna

#endif
