// An IMallocSpy that watches the COM task allocator (CoTaskMemAlloc and
// CoTaskMemFree, and what the system builds on them): it records the blocks
// freed and can make allocations of a chosen size range fail.
#ifndef DOVRIKNA_TESTS_MALLOC_RECORDER_H
#define DOVRIKNA_TESTS_MALLOC_RECORDER_H

#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <vector>

class MallocRecorder : public IMallocSpy {
public:
    // Registers the spy; false when the platform refuses it.
    bool start() { return SUCCEEDED(CoRegisterMallocSpy(this)); }

    bool freed(const void* block) const { return std::find(frees_.begin(), frees_.end(), block) != frees_.end(); }
    // Allocations whose requested size lies in [from, to] fail from now on.
    void failSizes(SIZE_T from, SIZE_T to)
    {
        failFrom_ = from;
        failTo_ = to;
    }
    int failed() const { return failed_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IMallocSpy)) return E_NOINTERFACE;
        *out = static_cast<IMallocSpy*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override
    {
        if (request >= failFrom_ && request <= failTo_) {
            ++failed_;
            return 0; // the documented way to make the allocation fail
        }
        return request;
    }
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override { return actual; }
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override
    {
        if (request) frees_.push_back(request);
        return request;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) override
    {
        *newRequest = request;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

private:
    std::vector<const void*> frees_;
    SIZE_T failFrom_ = 1, failTo_ = 0;
    int failed_ = 0;
};

#endif
