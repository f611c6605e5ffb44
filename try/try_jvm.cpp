#include "try/try_jvm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <windows.h>

#include "frame/java_text.h"

namespace tryjvm {

enum Kind { kString, kIntArray, kLongArray, kByteArray, kClass };

struct Jvm::Object {
    int kind;
    std::u16string text; // a string's UTF-16 units, a class's name
    std::vector<jint> ints;
    std::vector<jlong> longs;
    std::vector<jbyte> bytes;
};

std::u16string fromModifiedUtf8(const char* text)
{
    std::u16string units;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    auto follows = [&](size_t count) {
        for (size_t i = 1; i <= count; ++i)
            if ((bytes[i] & 0xC0) != 0x80) return false;
        return true;
    };
    while (*bytes) {
        const unsigned char lead = *bytes;
        if (lead < 0x80) {
            units += lead;
            bytes += 1;
        } else if ((lead & 0xE0) == 0xC0 && follows(1)) {
            units += static_cast<char16_t>(((lead & 0x1F) << 6) | (bytes[1] & 0x3F));
            bytes += 2;
        } else if ((lead & 0xF0) == 0xE0 && follows(2)) {
            units += static_cast<char16_t>(((lead & 0x0F) << 12) | ((bytes[1] & 0x3F) << 6) | (bytes[2] & 0x3F));
            bytes += 3;
        } else if ((lead & 0xF8) == 0xF0 && follows(3)) {
            const unsigned code = ((lead & 0x07) << 18) | ((bytes[1] & 0x3F) << 12) | ((bytes[2] & 0x3F) << 6) |
                                  (bytes[3] & 0x3F);
            if (code >= 0x10000 && code <= 0x10FFFF) {
                units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
                units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
            } else {
                units += u'\uFFFD';
            }
            bytes += 4;
        } else {
            units += u'\uFFFD';
            bytes += 1;
        }
    }
    return units;
}

namespace {

constexpr size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void*);

// A JNI function this tool does not provide. Its arguments are unknown, so it
// cannot return: it names its slot and ends the program.
template <size_t Slot>
void JNICALL missing()
{
    std::fprintf(stderr,
                 "dovrikna-try: the library called JNI function %u (in JNINativeInterface_ order), "
                 "which this tool does not provide\n",
                 static_cast<unsigned>(Slot));
    std::fflush(stderr);
    ExitProcess(70);
}

template <size_t... Slots>
void fillWithMissing(void** slots, std::index_sequence<Slots...>)
{
    ((slots[Slots] = reinterpret_cast<void*>(&missing<Slots>)), ...);
}

} // namespace

// The JNI functions, as static members so that they reach Jvm's insides.
struct Functions {
    static Jvm& of(JNIEnv* env) { return *reinterpret_cast<Jvm::Frame*>(env)->owner; }

    static void* handOut(Jvm& jvm, jobject from, const void* data, size_t bytes)
    {
        void* copy = std::malloc(bytes ? bytes : 1);
        if (bytes) std::memcpy(copy, data, bytes);
        jvm.open_[copy] = from;
        return copy;
    }
    static void takeBack(Jvm& jvm, jobject from, const void* copy, const char* function)
    {
        auto open = jvm.open_.find(copy);
        if (open == jvm.open_.end() || open->second != from) {
            jvm.problem(std::string(function) + " of something its object did not hand out");
            return;
        }
        jvm.open_.erase(open);
        std::free(const_cast<void*>(copy));
    }
    static Jvm::Object* string(JNIEnv* env, jstring string, const char* function)
    {
        return of(env).find(string, kString, function);
    }
    // A region call's range, checked as a VM checks it before it would throw.
    static bool within(JNIEnv* env, size_t size, jsize start, jsize length, const char* function)
    {
        if (start >= 0 && length >= 0 && static_cast<size_t>(start) + length <= size) return true;
        of(env).problem(std::string(function) + " outside its string or array");
        return false;
    }

    static jint JNICALL GetVersion(JNIEnv*) { return JNI_VERSION_1_8; }

    // Strings, modified UTF-8.
    static jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes)
    {
        return bytes ? of(env).newString(fromModifiedUtf8(bytes)) : nullptr;
    }
    static jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring s)
    {
        Jvm::Object* object = string(env, s, "GetStringUTFLength");
        return object ? static_cast<jsize>(dovrikna::modifiedUtf8(object->text).size()) : 0;
    }
    static const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring s, jboolean* isCopy)
    {
        Jvm::Object* object = string(env, s, "GetStringUTFChars");
        if (!object) return nullptr;
        if (isCopy) *isCopy = JNI_TRUE;
        const std::string bytes = dovrikna::modifiedUtf8(object->text);
        return static_cast<const char*>(handOut(of(env), s, bytes.c_str(), bytes.size() + 1));
    }
    static void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring s, const char* chars)
    {
        takeBack(of(env), s, chars, "ReleaseStringUTFChars");
    }
    static void JNICALL GetStringUTFRegion(JNIEnv* env, jstring s, jsize start, jsize length, char* out)
    {
        Jvm::Object* object = string(env, s, "GetStringUTFRegion");
        if (!object || !within(env, object->text.size(), start, length, "GetStringUTFRegion")) return;
        const std::string bytes = dovrikna::modifiedUtf8(object->text.substr(start, length));
        std::memcpy(out, bytes.c_str(), bytes.size() + 1);
    }

    // Strings, UTF-16.
    static jstring JNICALL NewString(JNIEnv* env, const jchar* units, jsize length)
    {
        if (!units && length) return nullptr;
        return of(env).newString(std::u16string(reinterpret_cast<const char16_t*>(units), length));
    }
    static jsize JNICALL GetStringLength(JNIEnv* env, jstring s)
    {
        Jvm::Object* object = string(env, s, "GetStringLength");
        return object ? static_cast<jsize>(object->text.size()) : 0;
    }
    static const jchar* JNICALL GetStringChars(JNIEnv* env, jstring s, jboolean* isCopy)
    {
        Jvm::Object* object = string(env, s, "GetStringChars");
        if (!object) return nullptr;
        if (isCopy) *isCopy = JNI_TRUE;
        // A terminator after the units, which JNI does not promise.
        return static_cast<const jchar*>(
            handOut(of(env), s, object->text.c_str(), (object->text.size() + 1) * sizeof(jchar)));
    }
    static void JNICALL ReleaseStringChars(JNIEnv* env, jstring s, const jchar* chars)
    {
        takeBack(of(env), s, chars, "ReleaseStringChars");
    }
    static void JNICALL GetStringRegion(JNIEnv* env, jstring s, jsize start, jsize length, jchar* out)
    {
        Jvm::Object* object = string(env, s, "GetStringRegion");
        if (!object || !within(env, object->text.size(), start, length, "GetStringRegion")) return;
        std::memcpy(out, object->text.data() + start, length * sizeof(jchar));
    }
    static const jchar* JNICALL GetStringCritical(JNIEnv* env, jstring s, jboolean* isCopy)
    {
        return GetStringChars(env, s, isCopy);
    }
    static void JNICALL ReleaseStringCritical(JNIEnv* env, jstring s, const jchar* chars)
    {
        takeBack(of(env), s, chars, "ReleaseStringCritical");
    }

    // Arrays.
    template <typename Element>
    static std::vector<Element>& elements(Jvm::Object& object);
    template <typename Element>
    static int kindOf();

    static jsize JNICALL GetArrayLength(JNIEnv* env, jarray array)
    {
        Jvm& jvm = of(env);
        for (int kind : {kIntArray, kLongArray, kByteArray}) {
            for (const auto& object : jvm.objects_) {
                if (reinterpret_cast<jarray>(object.get()) != array || object->kind != kind) continue;
                return static_cast<jsize>(kind == kIntArray    ? object->ints.size()
                                          : kind == kLongArray ? object->longs.size()
                                                               : object->bytes.size());
            }
        }
        jvm.problem("GetArrayLength of something that is no array");
        return 0;
    }
    template <typename Element>
    static Element* getElements(JNIEnv* env, jarray array, jboolean* isCopy)
    {
        Jvm::Object* object = of(env).find(array, kindOf<Element>(), "Get<Type>ArrayElements");
        if (!object) return nullptr;
        if (isCopy) *isCopy = JNI_TRUE;
        std::vector<Element>& values = elements<Element>(*object);
        return static_cast<Element*>(handOut(of(env), array, values.data(), values.size() * sizeof(Element)));
    }
    template <typename Element>
    static void releaseElements(JNIEnv* env, jarray array, Element* copy, jint mode)
    {
        Jvm& jvm = of(env);
        Jvm::Object* object = jvm.find(array, kindOf<Element>(), "Release<Type>ArrayElements");
        if (!object || jvm.open_.find(copy) == jvm.open_.end()) {
            jvm.problem("Release<Type>ArrayElements of elements this array did not hand out");
            return;
        }
        std::vector<Element>& values = elements<Element>(*object);
        if (mode == 0 || mode == JNI_COMMIT) std::copy(copy, copy + values.size(), values.begin());
        if (mode == 0 || mode == JNI_ABORT) takeBack(jvm, array, copy, "Release<Type>ArrayElements");
    }
    template <typename Element>
    static void getRegion(JNIEnv* env, jarray array, jsize start, jsize length, Element* out)
    {
        Jvm::Object* object = of(env).find(array, kindOf<Element>(), "Get<Type>ArrayRegion");
        if (!object) return;
        std::vector<Element>& values = elements<Element>(*object);
        if (!within(env, values.size(), start, length, "Get<Type>ArrayRegion")) return;
        std::copy(values.begin() + start, values.begin() + start + length, out);
    }
    template <typename Element>
    static void setRegion(JNIEnv* env, jarray array, jsize start, jsize length, const Element* in)
    {
        Jvm::Object* object = of(env).find(array, kindOf<Element>(), "Set<Type>ArrayRegion");
        if (!object) return;
        std::vector<Element>& values = elements<Element>(*object);
        if (!within(env, values.size(), start, length, "Set<Type>ArrayRegion")) return;
        std::copy(in, in + length, values.begin() + start);
    }
    static jintArray JNICALL NewIntArray(JNIEnv* env, jsize length)
    {
        return length < 0 ? nullptr : of(env).newIntArray(std::vector<jint>(length));
    }
    static jlongArray JNICALL NewLongArray(JNIEnv* env, jsize length)
    {
        return length < 0 ? nullptr : of(env).newLongArray(std::vector<jlong>(length));
    }
    static jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize length)
    {
        return length < 0 ? nullptr : of(env).newByteArray(std::vector<jbyte>(length));
    }

#define TRYJVM_TYPED(Type, Element, Array)                                                            \
    static Element* JNICALL get##Type##Elements(JNIEnv* e, Array a, jboolean* c)                      \
    {                                                                                                \
        return getElements<Element>(e, a, c);                                                        \
    }                                                                                                \
    static void JNICALL release##Type##Elements(JNIEnv* e, Array a, Element* p, jint m)               \
    {                                                                                                \
        releaseElements<Element>(e, a, p, m);                                                        \
    }                                                                                                \
    static void JNICALL get##Type##Region(JNIEnv* e, Array a, jsize s, jsize l, Element* o)           \
    {                                                                                                \
        getRegion<Element>(e, a, s, l, o);                                                           \
    }                                                                                                \
    static void JNICALL set##Type##Region(JNIEnv* e, Array a, jsize s, jsize l, const Element* i)     \
    {                                                                                                \
        setRegion<Element>(e, a, s, l, i);                                                           \
    }
    TRYJVM_TYPED(Int, jint, jintArray)
    TRYJVM_TYPED(Long, jlong, jlongArray)
    TRYJVM_TYPED(Byte, jbyte, jbyteArray)
#undef TRYJVM_TYPED

    // References, classes and exceptions: the natives should need little here.
    static jclass JNICALL FindClass(JNIEnv* env, const char* name)
    {
        Jvm& jvm = of(env);
        jvm.objects_.push_back(std::make_unique<Jvm::Object>(Jvm::Object{kClass, fromModifiedUtf8(name), {}, {}, {}}));
        return reinterpret_cast<jclass>(jvm.objects_.back().get());
    }
    static jclass JNICALL GetObjectClass(JNIEnv* env, jobject object)
    {
        Jvm::Object* found = nullptr;
        for (const auto& candidate : of(env).objects_)
            if (reinterpret_cast<jobject>(candidate.get()) == object) found = candidate.get();
        if (!found) return nullptr;
        return FindClass(env, found->kind == kString ? "java/lang/String" : found->kind == kClass ? "java/lang/Class"
                                                                                                : "[");
    }
    static jboolean JNICALL IsSameObject(JNIEnv*, jobject a, jobject b) { return a == b ? JNI_TRUE : JNI_FALSE; }
    static jobject JNICALL NewLocalRef(JNIEnv*, jobject object) { return object; }
    static void JNICALL DeleteLocalRef(JNIEnv*, jobject) {}
    static jint JNICALL EnsureLocalCapacity(JNIEnv*, jint) { return JNI_OK; }
    static jint JNICALL PushLocalFrame(JNIEnv*, jint) { return JNI_OK; }
    static jobject JNICALL PopLocalFrame(JNIEnv*, jobject result) { return result; }
    static jboolean JNICALL ExceptionCheck(JNIEnv* env) { return of(env).exception_ ? JNI_TRUE : JNI_FALSE; }
    static jthrowable JNICALL ExceptionOccurred(JNIEnv* env)
    {
        return of(env).exception_ ? reinterpret_cast<jthrowable>(env) : nullptr;
    }
    static void JNICALL ExceptionClear(JNIEnv* env) { of(env).exception_ = false; }
    static void JNICALL ExceptionDescribe(JNIEnv*) {}
    static jint JNICALL ThrowNew(JNIEnv* env, jclass, const char* message)
    {
        of(env).exception_ = true;
        of(env).problem(std::string("the library threw an exception: ") + (message ? message : ""));
        return JNI_OK;
    }
};

template <> std::vector<jint>& Functions::elements<jint>(Jvm::Object& object) { return object.ints; }
template <> std::vector<jlong>& Functions::elements<jlong>(Jvm::Object& object) { return object.longs; }
template <> std::vector<jbyte>& Functions::elements<jbyte>(Jvm::Object& object) { return object.bytes; }
template <> int Functions::kindOf<jint>() { return kIntArray; }
template <> int Functions::kindOf<jlong>() { return kLongArray; }
template <> int Functions::kindOf<jbyte>() { return kByteArray; }

Jvm::Jvm()
{
    fillWithMissing(reinterpret_cast<void**>(&table_), std::make_index_sequence<kSlots>());
    using F = Functions;
    table_.GetVersion = F::GetVersion;
    table_.NewStringUTF = F::NewStringUTF;
    table_.GetStringUTFLength = F::GetStringUTFLength;
    table_.GetStringUTFChars = F::GetStringUTFChars;
    table_.ReleaseStringUTFChars = F::ReleaseStringUTFChars;
    table_.GetStringUTFRegion = F::GetStringUTFRegion;
    table_.NewString = F::NewString;
    table_.GetStringLength = F::GetStringLength;
    table_.GetStringChars = F::GetStringChars;
    table_.ReleaseStringChars = F::ReleaseStringChars;
    table_.GetStringRegion = F::GetStringRegion;
    table_.GetStringCritical = F::GetStringCritical;
    table_.ReleaseStringCritical = F::ReleaseStringCritical;
    table_.GetArrayLength = F::GetArrayLength;
    table_.NewIntArray = F::NewIntArray;
    table_.NewLongArray = F::NewLongArray;
    table_.NewByteArray = F::NewByteArray;
#define TRYJVM_ARRAY_FUNCTIONS(Type, Element, Array)                                                  \
    table_.Get##Type##ArrayElements = F::get##Type##Elements;                                        \
    table_.Release##Type##ArrayElements = F::release##Type##Elements;                                \
    table_.Get##Type##ArrayRegion = F::get##Type##Region;                                            \
    table_.Set##Type##ArrayRegion = F::set##Type##Region;
    TRYJVM_ARRAY_FUNCTIONS(Int, jint, jintArray)
    TRYJVM_ARRAY_FUNCTIONS(Long, jlong, jlongArray)
    TRYJVM_ARRAY_FUNCTIONS(Byte, jbyte, jbyteArray)
#undef TRYJVM_ARRAY_FUNCTIONS
    table_.FindClass = F::FindClass;
    table_.GetObjectClass = F::GetObjectClass;
    table_.IsSameObject = F::IsSameObject;
    table_.NewLocalRef = F::NewLocalRef;
    table_.DeleteLocalRef = F::DeleteLocalRef;
    table_.EnsureLocalCapacity = F::EnsureLocalCapacity;
    table_.PushLocalFrame = F::PushLocalFrame;
    table_.PopLocalFrame = F::PopLocalFrame;
    table_.ExceptionCheck = F::ExceptionCheck;
    table_.ExceptionOccurred = F::ExceptionOccurred;
    table_.ExceptionClear = F::ExceptionClear;
    table_.ExceptionDescribe = F::ExceptionDescribe;
    table_.ThrowNew = F::ThrowNew;
    frame_.env.functions = &table_;
    frame_.owner = this;
}

Jvm::~Jvm() = default;

Jvm::Object* Jvm::find(jobject ref, int kind, const char* function)
{
    for (const auto& object : objects_) {
        if (reinterpret_cast<jobject>(object.get()) != ref) continue;
        if (object->kind == kind) return object.get();
        break;
    }
    problem(std::string(function) + (ref ? " on an object of another kind" : " on a null reference"));
    return nullptr;
}

jstring Jvm::newString(const std::u16string& text)
{
    objects_.push_back(std::make_unique<Object>(Object{kString, text, {}, {}, {}}));
    return reinterpret_cast<jstring>(objects_.back().get());
}

std::u16string Jvm::text(jstring string) const
{
    for (const auto& object : objects_)
        if (reinterpret_cast<jstring>(object.get()) == string && object->kind == kString) return object->text;
    return u"";
}

jintArray Jvm::newIntArray(std::vector<jint> values)
{
    objects_.push_back(std::make_unique<Object>(Object{kIntArray, u"", std::move(values), {}, {}}));
    return reinterpret_cast<jintArray>(objects_.back().get());
}

jlongArray Jvm::newLongArray(std::vector<jlong> values)
{
    objects_.push_back(std::make_unique<Object>(Object{kLongArray, u"", {}, std::move(values), {}}));
    return reinterpret_cast<jlongArray>(objects_.back().get());
}

jbyteArray Jvm::newByteArray(std::vector<jbyte> values)
{
    objects_.push_back(std::make_unique<Object>(Object{kByteArray, u"", {}, {}, std::move(values)}));
    return reinterpret_cast<jbyteArray>(objects_.back().get());
}

std::vector<jint>& Jvm::ints(jintArray array) { return reinterpret_cast<Object*>(array)->ints; }
std::vector<jlong>& Jvm::longs(jlongArray array) { return reinterpret_cast<Object*>(array)->longs; }
std::vector<jbyte>& Jvm::bytes(jbyteArray array) { return reinterpret_cast<Object*>(array)->bytes; }

std::vector<std::string> Jvm::problems() const
{
    std::vector<std::string> all = problems_;
    if (!open_.empty()) all.push_back(std::to_string(open_.size()) + " JNI Get(s) never released");
    return all;
}

} // namespace tryjvm
