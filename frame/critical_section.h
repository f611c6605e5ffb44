// A critical section for the life of its object, and its hold for one scope.
// A global one is made by the module's static constructors, before DllMain
// runs, and deleted by its static destructors after the unload sequence.
#ifndef DOVRIKNA_FRAME_CRITICAL_SECTION_H
#define DOVRIKNA_FRAME_CRITICAL_SECTION_H

#include <windows.h>

namespace dovrikna {

class CriticalSection {
public:
    CriticalSection() noexcept { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    class Hold {
    public:
        explicit Hold(CriticalSection& lock) noexcept : section_(&lock.section_) { EnterCriticalSection(section_); }
        ~Hold() { LeaveCriticalSection(section_); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        CRITICAL_SECTION* section_;
    };

private:
    CRITICAL_SECTION section_;
};

} // namespace dovrikna

#endif
