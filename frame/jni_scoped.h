// Guards that pair every JNI Get with its Release.
//
// Each guard takes its Java value in the constructor and gives it back in the
// destructor, so every return path releases what it took. A null Java
// reference is never handed to the VM (a real VM crashes on it): the guard
// then simply holds nothing, and the caller answers with its failure value.
// release() gives the value back early, for natives whose order of releases
// matters; the destructor then has nothing left to do.
#ifndef DOVRIKNA_FRAME_JNI_SCOPED_H
#define DOVRIKNA_FRAME_JNI_SCOPED_H

#include <jni.h>

#include <string>

#include "frame/java_text.h"

namespace dovrikna {

// A Java string as UTF-16, the form the VM holds it in. Plain ASCII, by far
// the most common path, is taken with GetStringUTFChars and kept until
// release(), as its bytes are already every form a caller may want; any
// other string is read whole with GetStringChars and given back at once.
// A string holding U+0000 is taken as unreadable: the platform would end the
// text there and so name another file.
class ScopedJavaString {
public:
    ScopedJavaString(JNIEnv* env, jstring string) : env_(env), string_(string)
    {
        if (!string) return;
        ascii_ = env->GetStringUTFChars(string, nullptr);
        if (!ascii_) return;
        if (isAsciiText(ascii_)) {
            ok_ = take(ascii_, ascii_ + std::char_traits<char>::length(ascii_));
            return;
        }
        release();
        const jsize length = env->GetStringLength(string);
        const jchar* chars = env->GetStringChars(string, nullptr);
        if (!chars) return;
        ok_ = take(chars, chars + length) && text_.find(u'\0') == std::u16string::npos;
        env->ReleaseStringChars(string, chars);
    }
    ~ScopedJavaString() { release(); }
    ScopedJavaString(const ScopedJavaString&) = delete;
    ScopedJavaString& operator=(const ScopedJavaString&) = delete;

    bool ok() const { return ok_; }
    // The string's UTF-16 text; empty when it could not be read.
    const std::u16string& text() const { return text_; }
    // Its ASCII bytes while they are held, else null.
    const char* ascii() const { return ascii_; }

    // Gives back the ASCII bytes; the text stays.
    void release()
    {
        if (ascii_) env_->ReleaseStringUTFChars(string_, ascii_);
        ascii_ = nullptr;
    }

private:
    // Out of memory is an unreadable string, never an exception into the VM.
    template <typename Unit>
    bool take(const Unit* begin, const Unit* end) noexcept
    {
        try {
            text_.assign(begin, end);
            return true;
        } catch (...) {
            return false;
        }
    }

    JNIEnv* env_;
    jstring string_;
    const char* ascii_ = nullptr;
    std::u16string text_;
    bool ok_ = false;
};

// Array elements are always released with mode 0: changes are copied back
// and the elements freed.
template <typename Array, typename Element,
          Element* (JNIEnv::*Get)(Array, jboolean*),
          void (JNIEnv::*Release)(Array, Element*, jint)>
class ScopedArrayElements {
public:
    ScopedArrayElements(JNIEnv* env, Array array)
        : env_(env), array_(array), elements_(array ? (env->*Get)(array, nullptr) : nullptr)
    {
    }
    ~ScopedArrayElements() { release(); }
    ScopedArrayElements(const ScopedArrayElements&) = delete;
    ScopedArrayElements& operator=(const ScopedArrayElements&) = delete;

    Element* get() const { return elements_; }

    void release()
    {
        if (elements_) (env_->*Release)(array_, elements_, 0);
        elements_ = nullptr;
    }

private:
    JNIEnv* env_;
    Array array_;
    Element* elements_;
};

using ScopedIntArrayElements = ScopedArrayElements<jintArray, jint, &JNIEnv::GetIntArrayElements,
                                                   &JNIEnv::ReleaseIntArrayElements>;
using ScopedByteArrayElements = ScopedArrayElements<jbyteArray, jbyte, &JNIEnv::GetByteArrayElements,
                                                    &JNIEnv::ReleaseByteArrayElements>;

} // namespace dovrikna

#endif
