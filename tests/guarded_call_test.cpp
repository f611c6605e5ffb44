// The guard around calls into foreign code: an exception raised below it ends
// the call with false, and the thread goes on as before.
#include "desktop/guarded_call.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using dovrikna::callGuarded;

struct Probe {
    volatile int before = 0; // volatile: the compiler may not move them across the fault
    volatile int after = 0;
};

void returns(void* context)
{
    ++static_cast<Probe*>(context)->before;
    ++static_cast<Probe*>(context)->after;
}

void raisesStructured(void* context)
{
    ++static_cast<Probe*>(context)->before;
    RaiseException(0xE0000001, 0, 0, nullptr);
    ++static_cast<Probe*>(context)->after;
}

void faults(void* context)
{
    ++static_cast<Probe*>(context)->before;
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
    ++static_cast<Probe*>(context)->after;
}

void throwsCpp(void* context)
{
    ++static_cast<Probe*>(context)->before;
    throw std::runtime_error("from below");
}

void nested(void* context)
{
    // An inner guard takes the exception; the outer call returns normally.
    auto* probe = static_cast<Probe*>(context);
    Probe inner;
    if (!callGuarded(&raisesStructured, &inner) && inner.before == 1) ++probe->after;
    ++probe->before;
}

TEST(GuardedCall, ACallThatReturnsIsTrue)
{
    Probe probe;
    EXPECT_TRUE(callGuarded(&returns, &probe));
    EXPECT_EQ(1, probe.before);
    EXPECT_EQ(1, probe.after);
}

TEST(GuardedCall, AnExceptionBelowEndsTheCallWithFalse)
{
    struct {
        const char* what;
        void (*call)(void*);
    } const cases[] = {
        {"RaiseException", &raisesStructured},
        {"access violation", &faults},
        {"C++ throw", &throwsCpp},
    };
    for (int round = 0; round < 3; ++round) {
        for (const auto& c : cases) {
            Probe probe;
            EXPECT_FALSE(callGuarded(c.call, &probe)) << c.what;
            EXPECT_EQ(1, probe.before) << c.what;
            EXPECT_EQ(0, probe.after) << c.what;
        }
    }
    Probe probe;
    EXPECT_TRUE(callGuarded(&nested, &probe));
    EXPECT_EQ(1, probe.before);
    EXPECT_EQ(1, probe.after);

    // The thread's own handlers still work afterwards.
    bool caught = false;
    try {
        throw 7;
    } catch (int) {
        caught = true;
    }
    EXPECT_TRUE(caught);
}

} // namespace
