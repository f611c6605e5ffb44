// The stand-in VM catches the string misuse a checking VM aborts on.
#include <gtest/gtest.h>

#include "standins/fake_jvm.h"

namespace {

TEST(FakeJvm, RefusesMalformedTextAndMismatchedReleases)
{
    fakejvm::FakeJvm jvm;
    JNIEnv* env = jvm.env();
    // Latin-1 "é", a four-byte UTF-8 form, a bare continuation byte: no modified UTF-8.
    for (const char* bytes : {"caf\xE9", "\xF0\x9F\x98\x80", "\x80"}) {
        EXPECT_EQ(nullptr, env->NewStringUTF(bytes)) << bytes;
        EXPECT_EQ(1u, jvm.takeProblems().size()) << bytes;
    }
    jstring text = env->NewStringUTF("caf\xC3\xA9\xC0\x80");
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(std::u16string(u"caf\x00E9", 5), jvm.textOf(text));

    const jchar* chars = env->GetStringChars(text, nullptr);
    env->ReleaseStringUTFChars(text, reinterpret_cast<const char*>(chars));
    EXPECT_EQ(1u, jvm.takeProblems().size()) << "UTF-16 given back as modified UTF-8";
    env->ReleaseStringChars(text, chars);
    jchar region[2];
    env->GetStringRegion(text, 4, 2, region);
    EXPECT_EQ(1u, jvm.takeProblems().size()) << "a region past the end";
    EXPECT_EQ(0u, jvm.openGets());
}

} // namespace
