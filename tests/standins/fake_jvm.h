// A stand-in Java VM for the natives: a JNIEnv whose function table implements
// the JNI functions the library uses and keeps books on them.
//
// Strings are held as UTF-16, as a real VM holds them. Every Get must be
// matched by its own Release, array elements must be released with mode 0,
// region reads and writes must stay inside the string or array, NewStringUTF
// takes only modified UTF-8 (a checking VM aborts on anything else), and any JNI function
// the stand-in does not implement ends the test program at once with its slot
// number (an unexpected call cannot be answered safely).
#ifndef DOVRIKNA_TESTS_FAKE_JVM_H
#define DOVRIKNA_TESTS_FAKE_JVM_H

#include <jni.h>

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace fakejvm {

class FakeJvm {
public:
    FakeJvm();
    ~FakeJvm(); // adds a test failure for every problem and every Get left open
    FakeJvm(const FakeJvm&) = delete;
    FakeJvm& operator=(const FakeJvm&) = delete;

    JNIEnv* env() { return &frame_.env; }

    // Java values handed to the natives. A string is given as UTF-8 or
    // modified UTF-8 (a test that gives anything else fails), or as UTF-16.
    jstring newString(const std::string& bytes);
    jstring newString(const std::u16string& text);
    jintArray newIntArray(std::vector<jint> values);
    jlongArray newLongArray(std::vector<jlong> values);
    jbyteArray newByteArray(std::vector<jbyte> values);

    // What a native returned or wrote.
    std::string bytesOf(jstring string) const; // a string as modified UTF-8 (UTF-8 for the BMP)
    const std::u16string& textOf(jstring string) const;
    const std::vector<jint>& ints(jintArray array) const;
    const std::vector<jlong>& longs(jlongArray array) const;
    const std::vector<jbyte>& bytes(jbyteArray array) const;

    // Makes GetStringUTFChars and GetStringChars answer null, as a VM out of memory does.
    void failStringGets(bool fail) { failStringGets_ = fail; }

    // Names of the JNI functions called, in order.
    std::vector<std::string> calls() const;
    // Problems found so far (unbalanced or misused calls), and Gets still open.
    std::vector<std::string> problems() const;
    // The problems found so far, which then no longer count as test failures.
    std::vector<std::string> takeProblems();
    size_t openGets() const;

private:
    struct Object {
        enum Kind { String, IntArray, LongArray, ByteArray } kind;
        std::u16string text;
        std::vector<jint> ints;
        std::vector<jlong> longs;
        std::vector<jbyte> bytes;
    };
    struct EnvFrame {
        JNIEnv env;
        FakeJvm* owner;
    };

    static FakeJvm& of(JNIEnv* env) { return *reinterpret_cast<EnvFrame*>(env)->owner; }
    Object* object(jobject ref, Object::Kind kind, const char* function);
    void record(const char* function);
    void problem(const std::string& text);
    template <typename Element>
    static Element* getElements(JNIEnv* env, jarray array, const char* function, const char* release);
    template <typename Element>
    static void releaseElements(JNIEnv* env, jarray array, Element* elements, jint mode,
                                const char* function);
    template <typename Element>
    static void setRegion(JNIEnv* env, jarray array, jsize start, jsize length, const Element* values,
                          const char* function);
    template <typename Element>
    std::vector<Element>& elementsOf(Object& object);

    void* openGet(const void* data, size_t bytes, jobject from, const char* release);
    bool closeGet(const void* data, jobject from, const char* release);

    static const char* JNICALL GetStringUTFChars(JNIEnv*, jstring, jboolean*);
    static const jchar* JNICALL GetStringChars(JNIEnv*, jstring, jboolean*);
    static void JNICALL ReleaseStringChars(JNIEnv*, jstring, const jchar*);
    static jsize JNICALL GetStringLength(JNIEnv*, jstring);
    static void JNICALL GetStringRegion(JNIEnv*, jstring, jsize, jsize, jchar*);
    static jstring JNICALL NewString(JNIEnv*, const jchar*, jsize);
    static void JNICALL ReleaseStringUTFChars(JNIEnv*, jstring, const char*);
    static jstring JNICALL NewStringUTF(JNIEnv*, const char*);
    static jsize JNICALL GetArrayLength(JNIEnv*, jarray);
    static jint* JNICALL GetIntArrayElements(JNIEnv*, jintArray, jboolean*);
    static void JNICALL ReleaseIntArrayElements(JNIEnv*, jintArray, jint*, jint);
    static jbyte* JNICALL GetByteArrayElements(JNIEnv*, jbyteArray, jboolean*);
    static void JNICALL ReleaseByteArrayElements(JNIEnv*, jbyteArray, jbyte*, jint);
    static void JNICALL SetIntArrayRegion(JNIEnv*, jintArray, jsize, jsize, const jint*);
    static void JNICALL SetLongArrayRegion(JNIEnv*, jlongArray, jsize, jsize, const jlong*);

    JNINativeInterface_ table_;
    EnvFrame frame_;
    mutable std::mutex mutex_;
    std::deque<Object> objects_;
    struct OpenGet {
        jobject from;
        const char* release; // the one function that may give it back
    };
    std::map<const void*, OpenGet> openGets_; // what a Get handed out
    std::vector<std::string> calls_;
    std::vector<std::string> problems_;
    bool failStringGets_ = false;
};

} // namespace fakejvm

#endif
