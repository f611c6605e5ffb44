// The fixture of tests that call the natives through the loaded library.
#ifndef DOVRIKNA_TESTS_LIBRARY_TEST_H
#define DOVRIKNA_TESTS_LIBRARY_TEST_H

#include <gtest/gtest.h>

#include "library_under_test.h"
#include "standins/fake_jvm.h"

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lib.loaded()) << lib.missing;
        ASSERT_EQ("", lib.missing);
    }

    JNIEnv* env() { return jvm.env(); }

    // Declared first so that it outlives the library and checks every Get
    // and Release after the last native has returned.
    fakejvm::FakeJvm jvm;
    LibraryUnderTest lib;
};

#endif
