// Owner types for what the video thumbnail code holds from COM, Media
// Foundation and the heap.
#ifndef DOVRIKNA_DESKTOP_COM_HANDLES_H
#define DOVRIKNA_DESKTOP_COM_HANDLES_H

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <strmif.h>
#include <mfobjects.h>

#include "frame/unique_handle.h"

namespace dovrikna {

// An interface pointer; released once.
template <typename Interface>
struct com_traits {
    using type = Interface*;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { value->Release(); }
};
template <typename Interface>
using com_ptr = unique_handle<com_traits<Interface>>;

struct bstr_traits {
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { SysFreeString(value); }
};
using unique_bstr = unique_handle<bstr_traits>;

// A block of the process heap.
struct heap_block_traits {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { HeapFree(GetProcessHeap(), 0, value); }
};
using unique_heap_block = unique_handle<heap_block_traits>;

// COM initialised on the thread that holds this; true when CoInitialize
// succeeded (S_OK or S_FALSE), and only then is it matched by CoUninitialize.
struct com_apartment_traits {
    using type = bool;
    static type invalid() noexcept { return false; }
    static void close(type) noexcept { CoUninitialize(); }
};
using unique_com_apartment = unique_handle<com_apartment_traits>;

// Media Foundation started by MFStartup: holds the MFShutdown that ends it
// (the function is loaded at run time, so the handle carries it).
using MfShutdownFn = HRESULT(WINAPI*)();
struct mf_platform_traits {
    using type = MfShutdownFn;
    static type invalid() noexcept { return nullptr; }
    static void close(type shutdown) noexcept { shutdown(); }
};
using unique_mf_platform = unique_handle<mf_platform_traits>;

// A media buffer locked with IMFMediaBuffer::Lock; closing unlocks it.
struct media_buffer_lock_traits {
    using type = IMFMediaBuffer*;
    static type invalid() noexcept { return nullptr; }
    static void close(type buffer) noexcept { buffer->Unlock(); }
};
using unique_media_buffer_lock = unique_handle<media_buffer_lock_traits>;

// An AM_MEDIA_TYPE filled by a callee: its format block (CoTaskMemAlloc'd)
// and its pUnk are the caller's to free, on every path.
class ScopedMediaType {
public:
    ScopedMediaType() noexcept { ZeroMemory(&value_, sizeof value_); }
    ~ScopedMediaType() { free(); }
    ScopedMediaType(const ScopedMediaType&) = delete;
    ScopedMediaType& operator=(const ScopedMediaType&) = delete;

    AM_MEDIA_TYPE* get() noexcept { return &value_; }
    const AM_MEDIA_TYPE& operator*() const noexcept { return value_; }

    void free() noexcept
    {
        if (value_.cbFormat != 0 || value_.pbFormat) {
            CoTaskMemFree(value_.pbFormat);
            value_.cbFormat = 0;
            value_.pbFormat = nullptr;
        }
        if (value_.pUnk) {
            value_.pUnk->Release();
            value_.pUnk = nullptr;
        }
    }

private:
    AM_MEDIA_TYPE value_;
};

} // namespace dovrikna

#endif
