// One owner type for every platform resource the library holds.
//
// unique_handle<Traits> owns one value of Traits::type and releases it with
// Traits::close when it goes out of scope, is reset or is moved over. The
// traits name the empty value, so a handle whose "none" is INVALID_HANDLE_VALUE
// and one whose "none" is null are both covered. This header does not include
// windows.h, so the decision code and its native tests can use it too.
#ifndef DOVRIKNA_FRAME_UNIQUE_HANDLE_H
#define DOVRIKNA_FRAME_UNIQUE_HANDLE_H

#include <cstdlib>
#include <utility>
#ifdef DOVRIKNA_COUNT_OWNERS
#include <atomic>
#endif

namespace dovrikna {

#ifdef DOVRIKNA_COUNT_OWNERS
// Builds for the soak runs only: how many owners of every type hold a
// resource now, so that a run can see the library give back what it took.
inline std::atomic<long> liveOwners{0};
#endif

template <typename Traits>
class unique_handle {
public:
    using type = typename Traits::type;

    unique_handle() noexcept = default;
    explicit unique_handle(type value) noexcept : value_(value) { settle(); }
    ~unique_handle() { reset(); }

    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    unique_handle(unique_handle&& other) noexcept : value_(other.release()) { settle(); }
    unique_handle& operator=(unique_handle&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }

    type get() const noexcept
    {
        settle();
        return value_;
    }
    explicit operator bool() const noexcept
    {
        settle();
        return value_ != Traits::invalid();
    }

    // Releases what is held and gives the address to write a new value to,
    // for platform calls that return their result through a pointer.
    type* put() noexcept
    {
        reset();
        return &value_;
    }

    type release() noexcept
    {
        settle();
        type value = value_;
        value_ = Traits::invalid();
        settle();
        return value;
    }

    void reset(type value = Traits::invalid()) noexcept
    {
        settle();
        type old = value_;
        value_ = value;
        if (old != Traits::invalid()) Traits::close(old);
        settle();
    }

private:
    // Brings the count up to date, also after a value written through put().
    void settle() const noexcept
    {
#ifdef DOVRIKNA_COUNT_OWNERS
        const bool holds = value_ != Traits::invalid();
        if (holds != counted_) {
            liveOwners += holds ? 1 : -1;
            counted_ = holds;
        }
#endif
    }

    type value_ = Traits::invalid();
#ifdef DOVRIKNA_COUNT_OWNERS
    mutable bool counted_ = false;
#endif
};

// A heap copy made with malloc (a C string the library must keep past a call).
struct malloc_traits {
    using type = char*;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { std::free(value); }
};
using unique_malloc_string = unique_handle<malloc_traits>;

} // namespace dovrikna

#endif
