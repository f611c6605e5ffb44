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

namespace dovrikna {

class ScopedUtfChars {
public:
    ScopedUtfChars(JNIEnv* env, jstring string)
        : env_(env), string_(string),
          chars_(string ? env->GetStringUTFChars(string, nullptr) : nullptr)
    {
    }
    ~ScopedUtfChars() { release(); }
    ScopedUtfChars(const ScopedUtfChars&) = delete;
    ScopedUtfChars& operator=(const ScopedUtfChars&) = delete;

    // The string's modified-UTF-8 bytes, or null when there are none.
    const char* c_str() const { return chars_; }

    void release()
    {
        if (chars_) env_->ReleaseStringUTFChars(string_, chars_);
        chars_ = nullptr;
    }

private:
    JNIEnv* env_;
    jstring string_;
    const char* chars_;
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
