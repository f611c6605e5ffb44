#include "desktop/guarded_call.h"

#include <windows.h>

#if !defined(_MSC_VER) && defined(__i386__)
#include <setjmp.h>
#endif

namespace dovrikna {

#if defined(_MSC_VER)

namespace {
bool callStructured(void (*call)(void*), void* context)
{
    __try {
        call(context);
        return true;
    } __except (EXCEPTION_EXECUTE_HANDLER) {
        return false;
    }
}
} // namespace

bool callGuarded(void (*call)(void*), void* context) noexcept
{
    try {
        return callStructured(call, context);
    } catch (...) {
        return false;
    }
}

#elif defined(__i386__)

// On x86 the frame-based handlers of a thread form a chain from the TIB's
// ExceptionList. One registration of our own on the stack around the call
// receives every exception that the callee's own handlers leave; it goes
// back to the setjmp point. The runtime's longjmp unwinds the registrations
// above ours (the callee's), so the chain is whole again afterwards.
namespace {

struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD record; // first: the dispatcher hands its address back
    jmp_buf resume;
};

EXCEPTION_DISPOSITION NTAPI guardHandler(EXCEPTION_RECORD* exception, void* establisher, CONTEXT*, void*)
{
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    longjmp(static_cast<GuardFrame*>(establisher)->resume, 1);
}

NT_TIB* currentTib()
{
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds" // a false alarm on the fs-relative read
#endif
    return reinterpret_cast<NT_TIB*>(NtCurrentTeb());
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

// Nothing in this function needs destruction: longjmp may come back to it.
__attribute__((noinline)) bool callStructured(void (*call)(void*), void* context)
{
    GuardFrame frame;
    NT_TIB* tib = currentTib();
    frame.record.Next = tib->ExceptionList;
    frame.record.Handler = guardHandler;
    tib->ExceptionList = &frame.record;
    volatile bool returned = false;
    if (setjmp(frame.resume) == 0) {
        // A C++ exception of this runtime is caught before it leaves the
        // frame, so that the registration is always taken off the chain.
        try {
            call(context);
            returned = true;
        } catch (...) {
        }
    }
    tib->ExceptionList = frame.record.Next;
    return returned;
}

} // namespace

bool callGuarded(void (*call)(void*), void* context) noexcept
{
    return callStructured(call, context);
}

#elif defined(__x86_64__)

// x64 with GCC: frame handlers come from the unwind tables, and GCC writes
// its own there. A small routine of our own carries a handler that, for any
// exception left by the frames below, unwinds them (their own handlers run)
// and resumes after the call with 0 in eax.
extern "C" int dovrikna_call_guarded_x64(void (*call)(void*), void* context);
extern "C" void dovrikna_guard_resume_x64();

extern "C" EXCEPTION_DISPOSITION dovrikna_guard_handler_x64(EXCEPTION_RECORD* exception, void* establisher,
                                                           CONTEXT* context, void* dispatcher)
{
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    RtlUnwindEx(establisher, reinterpret_cast<void*>(&dovrikna_guard_resume_x64), exception, nullptr, context,
                static_cast<DISPATCHER_CONTEXT*>(dispatcher)->HistoryTable);
    return ExceptionContinueSearch; // not reached: the unwind resumes at the label
}

asm(R"(
    .text
    .globl dovrikna_call_guarded_x64
    .def dovrikna_call_guarded_x64; .scl 2; .type 32; .endef
    .seh_proc dovrikna_call_guarded_x64
dovrikna_call_guarded_x64:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler dovrikna_guard_handler_x64, @except
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    movl $1, %eax
    .globl dovrikna_guard_resume_x64
dovrikna_guard_resume_x64:
    addq $40, %rsp
    retq
    .seh_endproc
)");

bool callGuarded(void (*call)(void*), void* context) noexcept
{
    return dovrikna_call_guarded_x64(call, context) != 0;
}

#else

// Elsewhere only this runtime's C++ exceptions can be caught.
bool callGuarded(void (*call)(void*), void* context) noexcept
{
    try {
        call(context);
        return true;
    } catch (...) {
        return false;
    }
}

#endif

} // namespace dovrikna
