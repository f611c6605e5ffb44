#include "fake_jvm.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

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

} // namespace

FakeJvm::FakeJvm()
{
    fillWithTraps(reinterpret_cast<void**>(&table_), std::make_index_sequence<kSlots>());
    table_.GetStringUTFChars = &FakeJvm::GetStringUTFChars;
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
        ADD_FAILURE() << "JNI Get without Release (object " << open.second << ")";
        std::free(const_cast<void*>(open.first));
    }
}

jstring FakeJvm::newString(const std::string& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.push_back(Object{Object::String, bytes, {}, {}, {}});
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

const char* JNICALL FakeJvm::GetStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record("GetStringUTFChars");
    Object* text = jvm.object(string, Object::String, "GetStringUTFChars");
    if (!text || jvm.failStringGets_) return nullptr;
    char* copy = static_cast<char*>(std::malloc(text->text.size() + 1));
    std::memcpy(copy, text->text.c_str(), text->text.size() + 1);
    jvm.openGets_[copy] = string;
    if (isCopy) *isCopy = JNI_TRUE;
    return copy;
}

void JNICALL FakeJvm::ReleaseStringUTFChars(JNIEnv* env, jstring string, const char* chars)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record("ReleaseStringUTFChars");
    auto open = jvm.openGets_.find(chars);
    if (open == jvm.openGets_.end() || open->second != string) {
        jvm.problem("ReleaseStringUTFChars of bytes this string did not hand out");
        return;
    }
    jvm.openGets_.erase(open);
    std::free(const_cast<char*>(chars));
}

jstring JNICALL FakeJvm::NewStringUTF(JNIEnv* env, const char* bytes)
{
    FakeJvm& jvm = of(env);
    {
        std::lock_guard<std::mutex> lock(jvm.mutex_);
        jvm.record("NewStringUTF");
        if (!bytes) return nullptr;
    }
    return jvm.newString(bytes);
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
Element* FakeJvm::getElements(JNIEnv* env, jarray array, const char* function)
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
    jvm.openGets_[copy] = array;
    return copy;
}

template <typename Element>
void FakeJvm::releaseElements(JNIEnv* env, jarray array, Element* elements, jint mode, const char* function)
{
    FakeJvm& jvm = of(env);
    std::lock_guard<std::mutex> lock(jvm.mutex_);
    jvm.record(function);
    auto open = jvm.openGets_.find(elements);
    if (open == jvm.openGets_.end() || open->second != array) {
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
    return getElements<jint>(env, array, "GetIntArrayElements");
}

void JNICALL FakeJvm::ReleaseIntArrayElements(JNIEnv* env, jintArray array, jint* elements, jint mode)
{
    releaseElements<jint>(env, array, elements, mode, "ReleaseIntArrayElements");
}

jbyte* JNICALL FakeJvm::GetByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy)
{
    if (isCopy) *isCopy = JNI_TRUE;
    return getElements<jbyte>(env, array, "GetByteArrayElements");
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
