// The Java side of dovrikna-try: a minimal JNI environment of its own, enough
// for the natives of dovrikna.dll. Strings are held as UTF-16, as in Java, and
// handed out as modified UTF-8 or UTF-16; arrays of int, long and byte. A JNI
// function it does not provide ends the program with a message naming it.
#ifndef DOVRIKNA_TOOLS_TRY_JVM_H
#define DOVRIKNA_TOOLS_TRY_JVM_H

#include <jni.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tryjvm {

class Jvm {
public:
    Jvm();
    ~Jvm();
    Jvm(const Jvm&) = delete;
    Jvm& operator=(const Jvm&) = delete;

    JNIEnv* env() { return &frame_.env; }

    jstring newString(const std::u16string& text);
    std::u16string text(jstring string) const; // "" for null
    jintArray newIntArray(std::vector<jint> values);
    jlongArray newLongArray(std::vector<jlong> values);
    jbyteArray newByteArray(std::vector<jbyte> values);
    std::vector<jint>& ints(jintArray array);
    std::vector<jlong>& longs(jlongArray array);
    std::vector<jbyte>& bytes(jbyteArray array);

    // Misuse seen so far: releases of what was not handed out, Gets never
    // released, regions outside their array, exceptions thrown.
    std::vector<std::string> problems() const;

    struct Object;

private:
    struct Frame {
        JNIEnv env;
        Jvm* owner;
    };
    friend struct Functions;
    Object* find(jobject ref, int kind, const char* function);
    void problem(const std::string& text) { problems_.push_back(text); }

    JNINativeInterface_ table_;
    Frame frame_;
    std::deque<std::unique_ptr<Object>> objects_;
    std::map<const void*, jobject> open_; // what a Get handed out, and from which object
    std::vector<std::string> problems_;
    bool exception_ = false;
};

// Modified UTF-8 as JNI uses it: U+0000 as two bytes, every UTF-16 unit
// (surrogates one by one) as one to three bytes.
std::string toModifiedUtf8(const std::u16string& text);
// The reverse; a four-byte UTF-8 sequence becomes a surrogate pair, and
// malformed bytes U+FFFD.
std::u16string fromModifiedUtf8(const char* bytes);

} // namespace tryjvm

#endif
