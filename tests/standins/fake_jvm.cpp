#include "fake_jvm.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "frame/java_text.h"

namespace fakejvm {

namespace {

constexpr size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void*);

// A JNI function the stand-in does not implement. Its arguments are unknown,
// so it cannot return safely: it names its slot and ends the program.
template <size_t Slot>
void JNICALL unimplemented()
{
    std::fprintf(stderr, "FAILURE: the library called JNI function slot %u (JNINativeInterface_ order), "
                         "which the stand-in VM does not implement\n",
                 static_cast<unsigned>(Slot));
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 86);
}

template <size_t... Slots>
void fillWithTraps(void** slots, std::index_sequence<Slots...>)
{
    ((slots[Slots] = reinterpret_cast<void*>(&unimplemented<Slots>)), ...);
}

// Decodes modified UTF-8 (U+0000 as C0 80, a supplementary character as two
// encoded surrogates). With fourByteForms, standard UTF-8's four-byte
// sequences are taken too, as tests write their text in UTF-8. False for
// anything else: overlong forms, stray or missing continuation bytes.
bool decodeUtf8(const std::string& bytes, bool fourByteForms, std::u16string& text)
{
    text.clear();
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                        : (fourByteForms && (lead & 0xF8) == 0xF0) ? 4 : 0;
        if (length == 0 || lead == 0 || i + length > bytes.size()) return false;
        char32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3F);
        }
        const bool shortest = length == 1 || (length == 2 && (point >= 0x80 || point == 0))
                              || (length == 3 && point >= 0x800) || (length == 4 && point >= 0x10000);
        if (!shortest || point > 0x10FFFF) return false;
        if (point >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(point));
        }
        i += length;
    }
    return true;
}

} // namespace

FakeJvm::FakeJvm()
{
    fillWithTraps(reinterpret_cast<void**>(&table_), std::make_index_sequence<kSlots>());
    table_.GetStringUTFChars = &FakeJvm::GetStringUTFChars;
    table_.GetStringChars = &FakeJvm::GetStringChars;
    table_.ReleaseStringChars = &FakeJvm::ReleaseStringChars;
    table_.GetStringLength = &FakeJvm::GetStringLength;
    table_.GetStringRegion = &FakeJvm::GetStringRegion;
    table_.NewString = &FakeJvm::NewString;
    table_.ReleaseStringUTFChars = &FakeJvm::ReleaseStringUTFChars;
    table_.NewStringUTF = &FakeJvm::NewStringUTF;
    table_.GetArrayLength = &FakeJvm::GetArrayLength;
    table_.GetIntArrayElements = &FakeJvm::GetIntArrayElements;
    table_.ReleaseIntArrayElements = &FakeJvm::ReleaseIntArrayElements;
    table_.GetByteArrayElements = &FakeJvm::GetByteArrayElements;
    table_.ReleaseByteArrayElements = &FakeJvm::ReleaseByteArrayElements;
    table_.SetIntArrayRegion = &FakeJvm::SetIntArrayRegion;
    table_.SetLongArrayRegion = &FakeJvm::SetLongArrayRegion;
    frame_.env.functions = &table_;
    frame_.owner = this;
}

FakeJvm::~FakeJvm()
{
    for (const std::string& text : problems()) ADD_FAILURE() << "JNI misuse: " << text;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& open : openGets_) {
        ADD_FAILURE() << "JNI Get without " << open.second.release << " (object " << open.second.from << ")";
        std::free(const_cast<void*>(open.first));
    }
}

jstring FakeJvm::newString(const std::string& bytes)
{
    std::u16string text;
    if (!decodeUtf8(bytes, true, text)) ADD_FAILURE() << "no VM holds a string of these bytes: " << bytes;
    return newString(text);
}

jstring FakeJvm::newString(const std::u16string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.push_back(Object{Object::String, text, {}, {}, {}});
    return reinterpret_cast<jstring>(&objects_.back());
}

jintArray FakeJvm::newIntArray(std::vector<jint> values)
{
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.push_back(Object{Object::IntArray, {}, std::move(values), {}, {}});
    return reinterpret_cast<jintArray>(&objects_.back());
}

jlongArray FakeJvm::newLongArray(std::vector<jlong> values)
{
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.push_back(Object{Object::LongArray, {}, {}, std::move(values), {}});
    return reinterpret_cast<jlongArray>(&objects_.back());
}

jbyteArray FakeJvm::newByteArray(std::vector<jbyte> values)
{
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.push_back(Object{Object::ByteArray, {}, {}, {}, std::move(values)});
    return reinterpret_cast<jbyteArray>(&objects_.back());
}

std::string FakeJvm::bytesOf(jstring string) const
{
    return dovrikna::modifiedUtf8(textOf(string));
}

const std::u16string& FakeJvm::textOf(jstring string) const
{
    return reinterpret_cast<const Object*>(string)->text;
}

const std::vector<jint>& FakeJvm::ints(jintArray array) const
{
    return reinterpret_cast<const Object*>(array)->ints;
}

const std::vector<jlong>& FakeJvm::longs(jlongArray array) const
{
    return reinterpret_cast<const Object*>(array)->longs;
}

const std::vector<jbyte>& FakeJvm::bytes(jbyteArray array) const
{
    return reinterpret_cast<const Object*>(array)->bytes;
}

std::vector<std::string> FakeJvm::calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> FakeJvm::problems() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return problems_;
}

std::vector<std::string> FakeJvm::takeProblems()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> taken;
    taken.swap(problems_);
    return taken;
}

size_t FakeJvm::openGets() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return openGets_.size();
}

void FakeJvm::record(const char* function)
{
    calls_.push_back(function);
}

void FakeJvm::problem(const std::string& text)
{
    problems_.push_back(text);
}

FakeJvm::Object* FakeJvm::object(jobject ref, Object::Kind kind, const char* function)
{
    for (Object& candidate : objects_) {
        if (reinterpret_cast<jobject>(&candidate) != ref) continue;
        if (candidate.kind == kind) return &candidate;
        break;
    }
    problem(std::string(function) + " on " + (ref ? "an object of another kind" : "a null reference"));
    return nullptr;
}

template <>
std::vector<jint>& FakeJvm::elementsOf<jint>(Object& object) { return object.ints; }
template <>
std::vector<jlong>& FakeJvm::elementsOf<jlong>(Object& object) { return object.longs; }
template <>
std::vector<jbyte>& FakeJvm::elementsOf<jbyte>(Object& object) { return object.bytes; }

namespace {
template <typename Element> constexpr int kindOf();
template <> constexpr int kindOf<jint>() { return 1; }
template <> constexpr int kindOf<jlong>() { return 2; }
template <> constexpr int kindOf<jbyte>() { return 3; }
} // namespace

void* FakeJvm::openGet(const void* data, size_t bytes, jobject from, const char* release)
{
    void* copy = std::malloc(bytes);
    std::memcpy(copy, data, bytes);
    openGets_[copy] = OpenGet{from, release};
    return copy;
}

bool FakeJvm::closeGet(const void* data, jobject from, const char* release)
{
    auto open = openGets_.find(data);
    if (open == openGets_.end() || open->second.from != from || std::strcmp(open->second.release, release) != 0) {
        problem(std::string(release) + " of something this object's Get did not hand out");
        return false;
    }
    openGets_.erase(open);
    std::free(const_cast<void*>(data));
    return true;
}

const char* JNICALL FakeJvm::GetStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record("GetStringUTFChars");
    Object* text = jvm.object(string, Object::String, "GetStringUTFChars");
    if (!text || jvm.failStringGets_) return nullptr;
    const std::string bytes = dovrikna::modifiedUtf8(text->text);
    if (isCopy) *isCopy = JNI_TRUE;
    return static_cast<const char*>(jvm.openGet(bytes.c_str(), bytes.size() + 1, string, "ReleaseStringUTFChars"));
}

void JNICALL FakeJvm::ReleaseStringUTFChars(JNIEnv* env, jstring string, const char* chars)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record("ReleaseStringUTFChars");
    jvm.closeGet(chars, string, "ReleaseStringUTFChars");
}

// Like a real VM's, the characters have no terminator that may be relied on:
// this one puts junk behind them.
const jchar* JNICALL FakeJvm::GetStringChars(JNIEnv* env, jstring string, jboolean* isCopy)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record("GetStringChars");
    Object* text = jvm.object(string, Object::String, "GetStringChars");
    if (!text || jvm.failStringGets_) return nullptr;
    std::u16string chars = text->text + u"\xFFFF\x4242";
    if (isCopy) *isCopy = JNI_TRUE;
    return static_cast<const jchar*>(
        jvm.openGet(chars.data(), chars.size() * sizeof(jchar), string, "ReleaseStringChars"));
}

void JNICALL FakeJvm::ReleaseStringChars(JNIEnv* env, jstring string, const jchar* chars)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record("ReleaseStringChars");
    jvm.closeGet(chars, string, "ReleaseStringChars");
}

jsize JNICALL FakeJvm::GetStringLength(JNIEnv* env, jstring string)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record("GetStringLength");
    Object* text = jvm.object(string, Object::String, "GetStringLength");
    return text ? static_cast<jsize>(text->text.size()) : 0;
}

void JNICALL FakeJvm::GetStringRegion(JNIEnv* env, jstring string, jsize start, jsize length, jchar* buffer)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record("GetStringRegion");
    Object* text = jvm.object(string, Object::String, "GetStringRegion");
    if (!text) return;
    if (start < 0 || length < 0 || static_cast<size_t>(start) + length > text->text.size()) {
        jvm.problem("GetStringRegion outside the string: the VM would raise an exception");
        return;
    }
    std::copy(text->text.begin() + start, text->text.begin() + start + length, buffer);
}

jstring JNICALL FakeJvm::NewString(JNIEnv* env, const jchar* chars, jsize length)
{
    FakeJvm& jvm = of(env);
    {
        std::lock_guard<std::mutex> lock(jvm.mutex_);
        jvm.record("NewString");
        if (length < 0 || (!chars && length > 0)) {
            jvm.problem("NewString of " + std::to_string(length) + " characters at " + (chars ? "an address" : "null"));
            return nullptr;
        }
    }
    return jvm.newString(std::u16string(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length)));
}

// A checking VM aborts on bytes that are not modified UTF-8; this one
// records the misuse and answers null.
jstring JNICALL FakeJvm::NewStringUTF(JNIEnv* env, const char* bytes)
{
    FakeJvm& jvm = of(env);
    std::u16string text;
    {
        std::lock_guard<std::mutex> lock(jvm.mutex_);
        jvm.record("NewStringUTF");
        if (!bytes) return nullptr;
        if (!decodeUtf8(bytes, false, text)) {
            jvm.problem(std::string("NewStringUTF of bytes that are not modified UTF-8: ") + bytes);
            return nullptr;
        }
    }
    return jvm.newString(text);
}

jsize JNICALL FakeJvm::GetArrayLength(JNIEnv* env, jarray array)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record("GetArrayLength");
    for (Object& candidate : jvm.objects_) {
        if (reinterpret_cast<jarray>(&candidate) != array) continue;
        switch (candidate.kind) {
        case Object::IntArray: return static_cast<jsize>(candidate.ints.size());
        case Object::LongArray: return static_cast<jsize>(candidate.longs.size());
        case Object::ByteArray: return static_cast<jsize>(candidate.bytes.size());
        default: break;
        }
    }
    jvm.problem("GetArrayLength of something that is no array");
    return 0;
}

template <typename Element>
Element* FakeJvm::getElements(JNIEnv* env, jarray array, const char* function, const char* release)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record(function);
    Object* target = jvm.object(array, static_cast<Object::Kind>(kindOf<Element>()), function);
    if (!target) return nullptr;
    // Always a copy, so that only a release with mode 0 brings changes back.
    std::vector<Element>& elements = jvm.elementsOf<Element>(*target);
    auto* copy = static_cast<Element*>(std::malloc(elements.size() * sizeof(Element) + 1));
    if (!elements.empty()) std::memcpy(copy, elements.data(), elements.size() * sizeof(Element));
    jvm.openGets_[copy] = OpenGet{array, release};
    return copy;
}

template <typename Element>
void FakeJvm::releaseElements(JNIEnv* env, jarray array, Element* elements, jint mode, const char* function)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record(function);
    auto open = jvm.openGets_.find(elements);
    if (open == jvm.openGets_.end() || open->second.from != array || std::strcmp(open->second.release, function)) {
        jvm.problem(std::string(function) + " of elements this array did not hand out");
        return;
    }
    if (mode != 0) jvm.problem(std::string(function) + " with mode " + std::to_string(mode));
    std::vector<Element>& target = jvm.elementsOf<Element>(*reinterpret_cast<Object*>(array));
    if (mode == 0 || mode == JNI_COMMIT) std::copy(elements, elements + target.size(), target.begin());
    if (mode == 0 || mode == JNI_ABORT) {
        jvm.openGets_.erase(open);
        std::free(elements);
    }
}

template <typename Element>
void FakeJvm::setRegion(JNIEnv* env, jarray array, jsize start, jsize length, const Element* values,
                        const char* function)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record(function);
    Object* target = jvm.object(array, static_cast<Object::Kind>(kindOf<Element>()), function);
    if (!target) return;
    std::vector<Element>& elements = jvm.elementsOf<Element>(*target);
    if (start < 0 || length < 0 || static_cast<size_t>(start) + length > elements.size()) {
        jvm.problem(std::string(function) + " outside the array: the VM would raise an exception");
        return;
    }
    std::copy(values, values + length, elements.begin() + start);
}

jint* JNICALL FakeJvm::GetIntArrayElements(JNIEnv* env, jintArray array, jboolean* isCopy)
{
    if (isCopy) *isCopy = JNI_TRUE;
    return getElements<jint>(env, array, "GetIntArrayElements", "ReleaseIntArrayElements");
}

void JNICALL FakeJvm::ReleaseIntArrayElements(JNIEnv* env, jintArray array, jint* elements, jint mode)
{
    releaseElements<jint>(env, array, elements, mode, "ReleaseIntArrayElements");
}

jbyte* JNICALL FakeJvm::GetByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy)
{
    if (isCopy) *isCopy = JNI_TRUE;
    return getElements<jbyte>(env, array, "GetByteArrayElements", "ReleaseByteArrayElements");
}

void JNICALL FakeJvm::ReleaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements, jint mode)
{
    releaseElements<jbyte>(env, array, elements, mode, "ReleaseByteArrayElements");
}

void JNICALL FakeJvm::SetIntArrayRegion(JNIEnv* env, jintArray array, jsize start, jsize length,
                                        const jint* values)
{
    setRegion<jint>(env, array, start, length, values, "SetIntArrayRegion");
}

void JNICALL FakeJvm::SetLongArrayRegion(JNIEnv* env, jlongArray array, jsize start, jsize length,
                                         const jlong* values)
{
    setRegion<jlong>(env, array, start, length, values, "SetLongArrayRegion");
}

} // namespace fakejvm
